// A download's progress as an info bar in its web window (see DownloadBar.h).
#include "shell/downloads/DownloadBar.h"

#include <gtk/gtk.h>

#include <utility>

#include "core/GLibPtr.h"
#include "core/I18n.h"

namespace wd {

namespace {
// The name in quotes, as valid UTF-8 for the toolkit.
std::string quoted(const std::string& name) {
  GCharPtr valid(g_utf8_make_valid(name.c_str(), static_cast<gssize>(name.size())));
  return "\u201c" + std::string(valid.get()) + "\u201d";
}
// The bar's own close button shows only an icon: it gets the name a screen reader says.
void nameIconButtons(GtkWidget* widget) {
  if (GTK_IS_BUTTON(widget) && !gtk_button_get_label(GTK_BUTTON(widget)))
    atk_object_set_name(gtk_widget_get_accessible(widget), _("Close"));
  if (GTK_IS_CONTAINER(widget))
    gtk_container_forall(
        GTK_CONTAINER(widget), +[](GtkWidget* child, gpointer) { nameIconButtons(child); },
        nullptr);
}

}  // namespace

std::unique_ptr<DownloadBar> DownloadBar::attach(GtkWindow* window, const std::string& name,
                                                 std::function<void()> cancel) {
  GtkWidget* content = window ? gtk_bin_get_child(GTK_BIN(window)) : nullptr;
  if (!content || !GTK_IS_BOX(content)) return nullptr;
  GtkWidget* bar = gtk_info_bar_new();
  gtk_box_pack_start(GTK_BOX(content), bar, FALSE, FALSE, 0);
  gtk_box_reorder_child(GTK_BOX(content), bar, 0);
  return std::unique_ptr<DownloadBar>(new DownloadBar(bar, name, std::move(cancel)));
}

DownloadBar::DownloadBar(GtkWidget* bar, std::string name, std::function<void()> cancel)
    : bar_(GTK_WIDGET(g_object_ref(bar))), name_(std::move(name)), cancel_(std::move(cancel)) {
  cancelButton_ = gtk_info_bar_add_button(GTK_INFO_BAR(bar_), _("_Cancel"), GTK_RESPONSE_CANCEL);
  GtkWidget* area = gtk_info_bar_get_content_area(GTK_INFO_BAR(bar_));
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  // Translators: %s is the file's name in quotation marks.
  GCharPtr text(g_strdup_printf(_("Downloading %s"), quoted(name_).c_str()));
  label_ = gtk_label_new(text.get());
  gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_xalign(GTK_LABEL(label_), 0);
  progress_ = gtk_progress_bar_new();
  gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(progress_), TRUE);
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_), "");
  gtk_box_pack_start(GTK_BOX(column), label_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), progress_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(area), column, TRUE, TRUE, 0);
  handler_ = g_signal_connect(bar_, "response", G_CALLBACK(&DownloadBar::onResponse), this);
  nameIconButtons(bar_);
  gtk_widget_show_all(bar_);
}

DownloadBar::~DownloadBar() {
  if (handler_) g_signal_handler_disconnect(bar_, handler_);
  if (!failed_) gtk_widget_destroy(bar_);
  g_object_unref(bar_);
}

void DownloadBar::onResponse(GtkWidget*, int response, void* data) {
  auto* self = static_cast<DownloadBar*>(data);
  if (response != GTK_RESPONSE_CANCEL) return;
  auto cancel = self->cancel_;  // the call may destroy this object
  if (cancel) cancel();
}

void DownloadBar::progress(std::int64_t received, std::int64_t total) {
  if (failed_) return;
  GCharPtr got(g_format_size(static_cast<guint64>(received)));
  if (total > 0) {
    GCharPtr all(g_format_size(static_cast<guint64>(total)));
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_),
                                  static_cast<double>(received) / static_cast<double>(total));
    // Translators: the amounts received and expected, as in "1.2 MB of 3.4 MB".
    GCharPtr text(g_strdup_printf(_("%s of %s"), got.get(), all.get()));
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_), text.get());
  } else {
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_));
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_), got.get());
  }
}

void DownloadBar::failed(const std::string& reason) {
  if (failed_) return;
  failed_ = true;
  g_signal_handler_disconnect(bar_, std::exchange(handler_, 0));
  // From now on the bar belongs to its window: any answer (the close button) removes it.
  g_signal_connect(bar_, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_hide(cancelButton_);
  gtk_info_bar_set_show_close_button(GTK_INFO_BAR(bar_), TRUE);
  gtk_info_bar_set_message_type(GTK_INFO_BAR(bar_), GTK_MESSAGE_ERROR);
  gtk_widget_hide(progress_);
  GCharPtr valid(g_utf8_make_valid(reason.c_str(), static_cast<gssize>(reason.size())));
  // Translators: the first %s is the file's name in quotation marks, the second the reason.
  GCharPtr text(
      g_strdup_printf(_("%s could not be downloaded: %s"), quoted(name_).c_str(), valid.get()));
  gtk_label_set_text(GTK_LABEL(label_), text.get());
}

}  // namespace wd
