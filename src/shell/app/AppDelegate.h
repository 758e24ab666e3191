#pragma once
// The application's delegate: start-up in its fixed order, the operating system's events
// (URLs, files, reopen, notification clicks), the main menu's commands, the registry of
// secondary web windows, the Preferences window and the update settings.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/app/MainWindowController.h"
#include "shell/notifications/NotificationService.h"
#include "shell/window/WebWindow.h"
#include "shell/window/WindowHost.h"
#include "update/Installer.h"
#include "update/UpdateChecker.h"

namespace wd {

class AboutWindowController;
class MainMenu;
class PreferencesWindowController;
class ShellContext;
class UpdateWindows;
namespace bridge {
class ScriptObject;
}

// Makes web windows kept by `host`. The real factory builds `WindowController`s; tests give
// doubles.
class WindowFactory {
 public:
  virtual ~WindowFactory() = default;
  // The main window on the page at `resourcePath` (relative to the web client folder).
  virtual std::shared_ptr<WebWindow> makeMainWindow(const std::string& resourcePath,
                                                    WindowHost& host) = 0;
  // A secondary window that loads `url` (nothing loads when it is empty).
  virtual std::shared_ptr<WebWindow> makeWindow(const std::string& url, WindowHost& host) = 0;
};

class AppDelegate : public WindowHost {
 public:
  static constexpr const char* kBuiltInUpdateServiceURL =
      "https://updates.tovik.com/v1/wendrel/client/latest";
  static constexpr const char* kKnowledgebaseURL = "https://www.tovik.com/wendrel/help";
  static constexpr const char* kSupportURL = "https://www.tovik.com/wendrel/support";
  static constexpr long long kDefaultUpdatePeriod = 14400;

  AppDelegate(ShellContext& context, WindowFactory& windows);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  ShellContext& context() const { return context_; }

  // Start-up, before and after the application has launched.
  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  // The user activates the application again (a second launch without arguments, the
  // launcher). Returns whether the default handling (front window forward) should follow.
  bool applicationShouldHandleReopen(bool hasVisibleWindows);
  static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
  void openFiles(const std::vector<std::string>& paths);
  void handleGetURLEvent(const std::string& url);
  // A delivered notification was clicked: the main window comes forward and the notification
  // is withdrawn at once; its callback runs in the main page once that page is ready.
  void didActivateNotification(const UserNotification& notification);

  MainWindowController* mainWindowController() { return mainWindowController_.get(); }
  // The main web window, when there is one.
  std::shared_ptr<WebWindow> mainWindow() const;

  // The page's MacGap object (App) for a window.
  std::shared_ptr<bridge::ScriptObject> makeRootObject(std::shared_ptr<WebWindow> window);

  // Window registry (WindowHost).
  void showMainWindow(bool withSender);
  bool isMainWindow(const WebWindow* controller) const override;
  bool mayOpenChildWindow() const override {
    return childWindowControllers_.size() < kMaxChildWindows;
  }
  void registerChildController(std::shared_ptr<WebWindow> controller) override;
  void windowDidClose(const WebWindow* controller) override;
  void unregisterChildController(const WebWindow* controller);
  std::shared_ptr<WebWindow> newWindowWithRequest(const std::string& url);
  const std::vector<std::shared_ptr<WebWindow>>& childWindowControllers() const {
    return childWindowControllers_;
  }

  // Main menu commands; `title` is the chosen item's title.
  void messageAction(const std::string& title);
  void gotoModule(const std::string& title);
  void newItem(const std::string& title);
  void fulltextSearch();
  // `itemStateOn`: the Out of Office item's current state; the page is asked for the opposite.
  void setOutOfOffice(bool itemStateOn);
  void openShowFeedback(const std::string& title);
  void openKnowledgebaseUrl();
  void openSupportUrl();
  // Shows the About window, made on first use and kept.
  void openAboutWindow();
  void openUpdateWindow();
  void printContent();
  void openPreferences();
  void terminate();
  // Edit menu: runs the editing command in the front window's page.
  void editCommand(const std::string& command);
  // File menu's Close Window: closes the front window (the main window only hides).
  void closeFrontWindow();
  // The window in front: the focused one, else the main window.
  WebWindow* frontWindow();

  // The application's main menu (none in tests without one).
  void setMainMenu(MainMenu* menu) { mainMenu_ = menu; }
  MainMenu* mainMenu() const { return mainMenu_; }

  // Preferences window, made on first use.
  PreferencesWindowController& preferencesWindowController();
  void openPreferencesOn(const std::string& identifier);

  // The About window's controller, once it has been opened.
  AboutWindowController* aboutWindowController() const { return aboutWindowController_.get(); }

  // Launch reset of the settings.
  void initializeUserDefaults();
  // (Re)starts the periodic update check for `server` with the stored settings, storing the
  // built-in values when none are stored; a negative period switches checking off.
  void startUpdateCheckerWith(const std::string& server);
  update::UpdateChecker* updateChecker() const { return updateChecker_.get(); }
  // Installs the update the checker downloaded last (the update window's install button); the
  // application quits and the new version starts, or the package goes to the desktop's
  // installer.
  void installUpdate();
  // What the checker shows (made on first use).
  UpdateWindows& updateWindows();
  // Where updates are verified, kept and installed: the built-in key, the user's cache folder
  // and this program's installation, unless a test gives its own.
  void setUpdateEnvironment(update::UpdaterConfiguration configuration,
                            update::InstallLocation location);

 private:
  // Shows the main window and makes it the active one (menu commands for its page).
  void bringMainWindowForward();
  // Replaces the checker with one for `server` and the stored settings (not started); none when
  // the period switches checking off, unless the user asked (`forUser`).
  void makeUpdateChecker(const std::string& server, bool forUser);
  ShellContext& context_;
  WindowFactory& windows_;
  std::unique_ptr<MainWindowController> mainWindowController_;
  std::vector<std::shared_ptr<WebWindow>> childWindowControllers_;
  std::unique_ptr<PreferencesWindowController> preferencesWindowController_;
  // After the main window controller, which it refers to: destroyed before it.
  std::unique_ptr<AboutWindowController> aboutWindowController_;
  std::optional<update::UpdaterConfiguration> updaterConfiguration_;
  std::optional<update::InstallLocation> installLocation_;
  std::unique_ptr<UpdateWindows> updateWindows_;
  std::unique_ptr<update::Installer> installer_;
  std::unique_ptr<update::UpdateChecker> updateChecker_;
  MainMenu* mainMenu_ = nullptr;
};

}  // namespace wd
