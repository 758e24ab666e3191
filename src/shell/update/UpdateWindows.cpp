#include "shell/update/UpdateWindows.h"

#include <gtk/gtk.h>

#include "core/I18n.h"
#include "shell/ShellContext.h"
#include "shell/menu/ApplicationMenu.h"
#include "shell/menu/NativeMenu.h"
#include "shell/notifications/NotificationService.h"
#include "shell/window/Layout.h"

namespace wd {

UpdateWindows::UpdateWindows(ShellContext& context, std::function<void()> install)
    : context_(context), install_(std::move(install)) {}

UpdateWindows::~UpdateWindows() {
  if (message_)
    g_object_remove_weak_pointer(G_OBJECT(message_), reinterpret_cast<gpointer*>(&message_));
}

void UpdateWindows::enableManualStartForUpdate(bool enabled) {
  // The item sits in the submenu of the menu bar's first item (the application menu).
  ApplicationMenu* menus = context_.menus();
  auto bar = menus ? menus->mainMenu() : nullptr;
  if (!bar || bar->items().empty() || !bar->items().front()->submenu()) return;
  if (auto item = bar->items().front()->submenu()->itemWithTitle(kCheckForUpdateTitle))
    item->setEnabled(enabled);
}

void UpdateWindows::postNotification(const std::string& title, const std::string& informativeText) {
  UserNotification notification;
  notification.title = title;
  notification.informativeText = informativeText;
  notification.sound = false;
  context_.notifications().deliver(std::move(notification));
}

void UpdateWindows::showUpdateWindow(const update::DownloadedUpdate& update) {
  // A fresh window for every update found; the previous one goes.
  updateWindow_ = std::make_unique<UpdateWindowController>(context_.workspace(), install_);
  updateWindow_->setUpdate(update);
  if (gdk_display_get_default()) updateWindow_->showWindow();
}

void UpdateWindows::showNoUpdateWindow() {
  if (!noUpdateWindow_) noUpdateWindow_ = std::make_unique<NoUpdateWindowController>();
  if (gdk_display_get_default()) noUpdateWindow_->showWindow();
}

void UpdateWindows::showUpdateCheckFailed(const std::string& reason) {
  // Not the no-update window: "no newer version" and "could not ask" are different answers.
  g_autofree gchar* secondary =
      g_strdup_printf(_("Reason: %s. Please try again later."), reason.c_str());
  showMessage(GTK_MESSAGE_WARNING, _("The check for updates failed."), secondary);
}

void UpdateWindows::showHandedToInstaller(const std::filesystem::path& file) {
  showMessage(GTK_MESSAGE_INFO, _("The update was opened in your software installer."),
              fillPlaceholder(_("Wendrel Desktop was installed by your system's package manager, "
                                "so the installer completes the update. The downloaded package "
                                "is %@."),
                              file.string()));
}

void UpdateWindows::showInstallFailed(const std::string& reason) {
  showMessage(GTK_MESSAGE_INFO, _("The update cannot be installed."),
              fillPlaceholder(_("Reason: %@."), reason));
}

void UpdateWindows::showMessage(GtkMessageType type, const std::string& primary,
                                const std::string& secondary) {
  if (!gdk_display_get_default()) return;
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, type,
                                             GTK_BUTTONS_OK, "%s", primary.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", secondary.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), _("Software Update"));
  g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  if (message_)
    g_object_remove_weak_pointer(G_OBJECT(message_), reinterpret_cast<gpointer*>(&message_));
  message_ = GTK_WINDOW(dialog);
  g_object_add_weak_pointer(G_OBJECT(message_), reinterpret_cast<gpointer*>(&message_));
  gtk_window_present(message_);
}

}  // namespace wd
