// The one download message of a web window (see DownloadBar.h).
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

// A translated pattern with its "%s" (or "%1$s", "%2$s") filled in, without printf: the
// pattern comes from a catalogue.
std::string format(const char* pattern, const std::string& a, const std::string& b = {}) {
  const std::string* args[] = {&a, &b};
  std::string out;
  std::size_t next = 0;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      if (next < 2) out += *args[next++];
      ++p;
    } else if (p[0] == '%' && (p[1] == '1' || p[1] == '2') && p[2] == '$' && p[3] == 's') {
      out += *args[p[1] - '1'];
      p += 3;
    } else {
      out += *p;
    }
  }
  return out;
}

enum Response { kOpen = 1, kShowInFolder, kRetry };

}  // namespace

std::unique_ptr<DownloadBar> DownloadBar::attach(GtkWindow* window,
                                                 std::function<void(Action)> act) {
  GtkWidget* content = window ? gtk_bin_get_child(GTK_BIN(window)) : nullptr;
  if (!content || !GTK_IS_BOX(content)) return nullptr;
  GtkWidget* bar = gtk_info_bar_new();
  gtk_box_pack_start(GTK_BOX(content), bar, FALSE, FALSE, 0);
  gtk_box_reorder_child(GTK_BOX(content), bar, 0);
  return std::unique_ptr<DownloadBar>(new DownloadBar(bar, std::move(act)));
}

DownloadBar::DownloadBar(GtkWidget* bar, std::function<void(Action)> act)
    : bar_(GTK_WIDGET(g_object_ref(bar))), act_(std::move(act)) {
  auto* info = GTK_INFO_BAR(bar_);
  cancel_ = gtk_info_bar_add_button(info, _("_Cancel"), GTK_RESPONSE_CANCEL);
  open_ = gtk_info_bar_add_button(info, _("_Open"), kOpen);
  show_ = gtk_info_bar_add_button(info, _("Show in _Folder"), kShowInFolder);
  retry_ = gtk_info_bar_add_button(info, _("_Retry"), kRetry);
  close_ = gtk_info_bar_add_button(info, _("C_lose"), GTK_RESPONSE_CLOSE);
  GtkWidget* area = gtk_info_bar_get_content_area(info);
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  label_ = gtk_label_new("");
  gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_xalign(GTK_LABEL(label_), 0);
  progress_ = gtk_progress_bar_new();
  gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(progress_), TRUE);
  atk_object_set_name(gtk_widget_get_accessible(progress_), _("Download progress"));
  gtk_box_pack_start(GTK_BOX(column), label_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), progress_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(area), column, TRUE, TRUE, 0);
  handler_ =
      g_signal_connect(bar_, "response", G_CALLBACK(+[](GtkWidget*, int response, gpointer data) {
                         auto* self = static_cast<DownloadBar*>(data);
                         Action action = Action::Close;
                         switch (response) {
                           case GTK_RESPONSE_CANCEL:
                             action = Action::Cancel;
                             break;
                           case kOpen:
                             action = Action::Open;
                             break;
                           case kShowInFolder:
                             action = Action::ShowInFolder;
                             break;
                           case kRetry:
                             action = Action::Retry;
                             break;
                           default:
                             break;
                         }
                         auto run = self->act_;  // the call may destroy this object
                         if (run) run(action);
                       }),
                       this);
  gtk_widget_show_all(bar_);
}

DownloadBar::~DownloadBar() {
  if (g_signal_handler_is_connected(bar_, handler_)) g_signal_handler_disconnect(bar_, handler_);
  gtk_widget_destroy(bar_);
  g_object_unref(bar_);
}

void DownloadBar::showButtons(bool cancel, bool saved, bool retry) {
  gtk_widget_set_visible(cancel_, cancel);
  gtk_widget_set_visible(open_, saved);
  gtk_widget_set_visible(show_, saved);
  gtk_widget_set_visible(retry_, retry);
  gtk_widget_set_visible(close_, !cancel);
}

void DownloadBar::showRunning(const std::string& name, std::size_t others, std::int64_t received,
                              std::int64_t total) {
  gtk_info_bar_set_message_type(GTK_INFO_BAR(bar_), GTK_MESSAGE_INFO);
  showButtons(true, false, false);
  gtk_widget_show(progress_);
  std::string text = format(_("Downloading %s"), quoted(name));
  if (others > 0)
    text = format(g_dngettext(GETTEXT_PACKAGE, "Downloading %s and %s more file",
                              "Downloading %s and %s more files", others),
                  quoted(name), std::to_string(others));
  gtk_label_set_text(GTK_LABEL(label_), text.c_str());
  GCharPtr got(g_format_size(static_cast<guint64>(received > 0 ? received : 0)));
  if (total > 0) {
    const double share = static_cast<double>(received) / static_cast<double>(total);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), share > 1 ? 1 : share);
    GCharPtr all(g_format_size(static_cast<guint64>(total)));
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_),
                              format(_("%s of %s"), got.get(), all.get()).c_str());
  } else {
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_));
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_), got.get());
  }
}

void DownloadBar::showSaved(const std::string& name) {
  gtk_info_bar_set_message_type(GTK_INFO_BAR(bar_), GTK_MESSAGE_INFO);
  showButtons(false, true, false);
  gtk_widget_hide(progress_);
  gtk_label_set_text(GTK_LABEL(label_), format(_("%s is downloaded"), quoted(name)).c_str());
}

void DownloadBar::showFailed(const std::string& name, const std::string& reason) {
  gtk_info_bar_set_message_type(GTK_INFO_BAR(bar_), GTK_MESSAGE_ERROR);
  showButtons(false, false, true);
  gtk_widget_hide(progress_);
  GCharPtr valid(g_utf8_make_valid(reason.c_str(), static_cast<gssize>(reason.size())));
  gtk_label_set_text(
      GTK_LABEL(label_),
      format(_("%s could not be downloaded: %s"), quoted(name), valid.get()).c_str());
}

}  // namespace wd
