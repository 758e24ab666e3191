#include "shell/about/AboutWindowController.h"

#include <gtk/gtk.h>

#include "core/Bundle.h"
#include "core/Log.h"
#include "shell/app/MainWindowController.h"
#include "shell/window/Layout.h"
#include "shell/window/WindowCentring.h"
#include "shell/window/WindowKeys.h"

namespace wd {

namespace {
// The builder's object `id` when it is of `type`, else none (a damaged layout).
template <class T>
T* outlet(GtkBuilder* builder, const char* id, GType type) {
  GObject* object = gtk_builder_get_object(builder, id);
  if (object && G_TYPE_CHECK_INSTANCE_TYPE(object, type)) return reinterpret_cast<T*>(object);
  WD_LOG_INFO("The About layout has no usable \"{}\"", id);
  return nullptr;
}
}  // namespace

AboutWindowController::AboutWindowController() {
  auto builder = loadLayout("About");
  if (!builder) return;
  auto* window = outlet<GtkWindow>(builder.get(), "window", GTK_TYPE_WINDOW);
  if (!window) return;
  window_ = refObject(window);
  version_ = outlet<GtkLabel>(builder.get(), "version", GTK_TYPE_LABEL);
  suggestion_ = outlet<GtkButton>(builder.get(), "suggestion", GTK_TYPE_BUTTON);
  webAssist_ = outlet<GtkToggleButton>(builder.get(), "webAssist", GTK_TYPE_TOGGLE_BUTTON);

  if (version_)
    gtk_label_set_text(
        version_, fillPlaceholder(gtk_label_get_text(version_), Bundle::main().version()).c_str());
  // The check box is a button too: its own toggling runs before this handler, so the state read
  // there is the one the user just gave it.
  if (suggestion_)
    g_signal_connect_swapped(
        suggestion_, "clicked",
        G_CALLBACK(+[](AboutWindowController* self) { self->onSendSugestion(); }), this);
  if (webAssist_)
    g_signal_connect_swapped(webAssist_, "clicked",
                             G_CALLBACK(+[](AboutWindowController* self) { self->onWebAssist(); }),
                             this);
  // Closing (also with Escape or Ctrl+W) only hides the window; it is shown again on the next
  // request.
  g_signal_connect(window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
  closeOnEscape(window, [window] { gtk_widget_hide(GTK_WIDGET(window)); });
  if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
    gtk_window_set_application(window, GTK_APPLICATION(app));
  centreOnMonitor(window);
}

AboutWindowController::~AboutWindowController() {
  if (!window_) return;
  // The handlers point at this controller: none may run once it is gone.
  g_signal_handlers_disconnect_by_data(window_.get(), this);
  if (suggestion_) g_signal_handlers_disconnect_by_data(suggestion_, this);
  if (webAssist_) g_signal_handlers_disconnect_by_data(webAssist_, this);
  gtk_widget_destroy(GTK_WIDGET(window_.get()));
}

void AboutWindowController::showWindow() {
  if (window_) gtk_window_present(window_.get());
}

void AboutWindowController::onSendSugestion() {
  if (mainWindowController_) mainWindowController_->handleShowFeedback();
}

void AboutWindowController::onWebAssist() {
  if (!mainWindowController_ || !webAssist_) return;
  mainWindowController_->handleWebAssist(gtk_toggle_button_get_active(webAssist_) ? "true"
                                                                                  : "false");
}

}  // namespace wd
