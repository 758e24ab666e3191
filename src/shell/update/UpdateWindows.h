#pragma once
// What the update checker shows, on the desktop: the application menu's "Check for Update..."
// item, the desktop notification of a ready update, the update windows, and the messages of an
// installation that cannot replace the program itself.
#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "shell/update/UpdateWindowController.h"
#include "update/UpdateChecker.h"

namespace wd {

class ShellContext;

class UpdateWindows : public update::UpdateUserInterface {
 public:
  static constexpr const char* kCheckForUpdateTitle = "Check for Update…";

  // `install` is what the update window's install button asks for.
  UpdateWindows(ShellContext& context, std::function<void()> install);
  ~UpdateWindows() override;

  void enableManualStartForUpdate(bool enabled) override;
  void postNotification(const std::string& title, const std::string& informativeText) override;
  void showUpdateWindow(const update::DownloadedUpdate& update) override;
  void showNoUpdateWindow() override;
  void showUpdateCheckFailed(const std::string& reason) override;

  // The update was handed to the desktop's software installer / could not be installed.
  void showHandedToInstaller(const std::filesystem::path& file);
  void showInstallFailed(const std::string& reason);

  // The window of the last update found, and the no-update window (none until first needed).
  UpdateWindowController* updateWindowController() const { return updateWindow_.get(); }
  NoUpdateWindowController* noUpdateWindowController() const { return noUpdateWindow_.get(); }
  // The message shown last (a failed check, an installation's outcome) while it is open.
  GtkWindow* messageWindow() const { return message_; }

 private:
  void showMessage(GtkMessageType type, const std::string& primary, const std::string& secondary);
  ShellContext& context_;
  std::function<void()> install_;
  std::unique_ptr<UpdateWindowController> updateWindow_;
  std::unique_ptr<NoUpdateWindowController> noUpdateWindow_;
  GtkWindow* message_ = nullptr;  // weak
};

}  // namespace wd
