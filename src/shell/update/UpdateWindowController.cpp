#include "shell/update/UpdateWindowController.h"

#include <gtk/gtk.h>

#include "core/I18n.h"
#include "shell/system/Workspace.h"
#include "shell/window/Layout.h"
#include "shell/window/WindowCentring.h"
#include "shell/window/WindowKeys.h"

namespace wd {

namespace {

// The window "window" of the layout `name` (owned by the caller), and the builder's other
// objects through `builderOut` while the caller needs them. A missing or damaged layout gives a
// plain window holding `fallbackText` so the user still gets the message.
GtkWindow* loadWindow(const char* name, const char* fallbackText, GtkBuilder** builderOut) {
  GObjectRef<GtkBuilder> layout = loadLayout(name);
  GtkBuilder* builder = layout ? layout.release() : gtk_builder_new();
  GtkWindow* window = nullptr;
  GObject* object = gtk_builder_get_object(builder, "window");
  if (object && GTK_IS_WINDOW(object)) window = GTK_WINDOW(object);
  if (!window) {
    window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    GtkWidget* label = gtk_label_new(fallbackText);
    gtk_widget_set_name(label, "newVersionLabel");
    g_object_set(label, "margin", 18, nullptr);
    gtk_container_add(GTK_CONTAINER(window), label);
    gtk_widget_show(label);
  }
  g_object_ref_sink(window);
  // Closing (also with Escape or Ctrl+W) only hides: the controller keeps its window.
  g_signal_connect(window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
  closeOnEscape(window, [window] { gtk_widget_hide(GTK_WIDGET(window)); });
  *builderOut = builder;
  return window;
}

GtkWidget* widget(GtkBuilder* builder, const char* id, GType type) {
  GObject* object = gtk_builder_get_object(builder, id);
  return object && G_TYPE_CHECK_INSTANCE_TYPE(object, type) ? GTK_WIDGET(object) : nullptr;
}

void destroyWindow(GtkWindow*& window) {
  if (!window) return;
  gtk_widget_destroy(GTK_WIDGET(window));
  g_object_unref(window);
  window = nullptr;
}

}  // namespace

UpdateWindowController::UpdateWindowController(Workspace& workspace, std::function<void()> install)
    : workspace_(workspace), install_(std::move(install)) {}

UpdateWindowController::~UpdateWindowController() {
  destroyWindow(window_);
}

GtkWindow* UpdateWindowController::window() {
  if (!window_) {
    awakeFromNib();
    centreOnMonitor(window_);  // windowDidLoad
  }
  return window_;
}

void UpdateWindowController::awakeFromNib() {
  GtkBuilder* builder = nullptr;
  window_ = loadWindow("Update", _("%@ is ready to install."), &builder);
  GtkWidget* label = widget(builder, "newVersionLabel", GTK_TYPE_LABEL);
  if (!label) label = gtk_bin_get_child(GTK_BIN(window_));
  if (label && GTK_IS_LABEL(label)) {
    newVersionLabel_ = GTK_LABEL(label);
    gtk_label_set_text(
        newVersionLabel_,
        fillPlaceholder(gtk_label_get_text(newVersionLabel_), update_.update.releaseName).c_str());
  }
  auto connect = [this](GtkWidget* button, void (*handler)(GtkButton*, gpointer)) {
    if (button) g_signal_connect(button, "clicked", G_CALLBACK(handler), this);
  };
  connect(
      widget(builder, "installButton", GTK_TYPE_BUTTON), +[](GtkButton*, gpointer self) {
        static_cast<UpdateWindowController*>(self)->onInstallUpdate();
      });
  connect(
      widget(builder, "releaseNotesButton", GTK_TYPE_BUTTON), +[](GtkButton*, gpointer self) {
        static_cast<UpdateWindowController*>(self)->onUpdateInfo();
      });
  g_object_unref(builder);
}

void UpdateWindowController::showWindow() {
  gtk_window_present(window());
}

std::string UpdateWindowController::newVersionText() {
  window();
  return newVersionLabel_ ? gtk_label_get_text(newVersionLabel_) : "";
}

void UpdateWindowController::onInstallUpdate() {
  // Closed first: installing may end the application.
  if (window_) gtk_widget_hide(GTK_WIDGET(window_));
  if (install_) install_();
}

void UpdateWindowController::onUpdateInfo() {
  if (update_.update.releaseNotes) workspace_.openURL(*update_.update.releaseNotes);
  if (window_) gtk_widget_hide(GTK_WIDGET(window_));
}

NoUpdateWindowController::~NoUpdateWindowController() {
  destroyWindow(window_);
}

GtkWindow* NoUpdateWindowController::window() {
  if (!window_) {
    GtkBuilder* builder = nullptr;
    window_ = loadWindow("NoUpdate", _("No update available."), &builder);
    if (GtkWidget* close = widget(builder, "closeButton", GTK_TYPE_BUTTON))
      g_signal_connect(close, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                         static_cast<NoUpdateWindowController*>(self)->onClose();
                       }),
                       this);
    g_object_unref(builder);
    centreOnMonitor(window_);
  }
  return window_;
}

void NoUpdateWindowController::showWindow() {
  gtk_window_present(window());
}

void NoUpdateWindowController::onClose() {
  if (window_) gtk_widget_hide(GTK_WIDGET(window_));
}

}  // namespace wd
