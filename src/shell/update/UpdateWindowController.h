#pragma once
// The two small windows that end an update check: the update window ("Update" layout), which
// names a downloaded update and offers to install it or to read its release notes, and the
// no-update window ("NoUpdate" layout), which answers a check the user asked for that found
// nothing. Both load their layout when the window is first asked for, centre themselves on
// their monitor, and only hide when closed.
#include <functional>
#include <string>

#include "update/UpdateCheck.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkLabel GtkLabel;

namespace wd {

class Workspace;

class UpdateWindowController {
 public:
  // `install` asks the application to install the update (and relaunch).
  UpdateWindowController(Workspace& workspace, std::function<void()> install);
  ~UpdateWindowController();
  UpdateWindowController(const UpdateWindowController&) = delete;
  UpdateWindowController& operator=(const UpdateWindowController&) = delete;

  // Stored before the window is first asked for, so its label names the release.
  void setUpdate(update::DownloadedUpdate update) { update_ = std::move(update); }
  const update::DownloadedUpdate& update() const { return update_; }

  GtkWindow* window();  // loaded on first call
  void showWindow();    // in front, with the focus
  // The version line as shown.
  std::string newVersionText();

  // The install button: asks for the installation, then closes the window.
  void onInstallUpdate();
  // The release-notes button: opens the notes in the default browser (when the release has
  // any), then closes the window.
  void onUpdateInfo();

 private:
  void awakeFromNib();
  Workspace& workspace_;
  std::function<void()> install_;
  update::DownloadedUpdate update_;
  GtkWindow* window_ = nullptr;
  GtkLabel* newVersionLabel_ = nullptr;
};

class NoUpdateWindowController {
 public:
  NoUpdateWindowController() = default;
  ~NoUpdateWindowController();
  NoUpdateWindowController(const NoUpdateWindowController&) = delete;
  NoUpdateWindowController& operator=(const NoUpdateWindowController&) = delete;

  GtkWindow* window();
  void showWindow();
  void onClose();

 private:
  GtkWindow* window_ = nullptr;
};

}  // namespace wd
