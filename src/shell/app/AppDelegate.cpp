#include "shell/app/AppDelegate.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "core/Bundle.h"
#include "core/I18n.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/ShellContext.h"
#include "shell/about/AboutWindowController.h"
#include "shell/app/ApplicationControl.h"
#include "shell/commands/App.h"
#include "shell/preferences/AccountPreferencesViewController.h"
#include "shell/preferences/GeneralView.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "shell/system/Workspace.h"
#include "shell/update/UpdateWindows.h"
#include "update/Signature.h"

namespace wd {

namespace {

// A JSON string literal of `text` that is safe to place in a script.
std::string scriptStringLiteral(const std::string& text) {
  return Json(text).dump(-1, ' ', true, Json::error_handler_t::replace);
}
}  // namespace

AppDelegate::AppDelegate(ShellContext& context, WindowFactory& windows)
    : context_(context), windows_(windows) {
  context_.setPreferencesOpener([this](const std::string& pane) { openPreferencesOn(pane); });
}

AppDelegate::~AppDelegate() {
  context_.setPreferencesOpener(nullptr);
  context_.notifications().setActivationHandler(nullptr);
}

std::shared_ptr<WebWindow> AppDelegate::mainWindow() const {
  return mainWindowController_ ? mainWindowController_->windowController() : nullptr;
}

std::shared_ptr<bridge::ScriptObject> AppDelegate::makeRootObject(
    std::shared_ptr<WebWindow> window) {
  // Sheets go on the main window; while it is being made, that is the window itself.
  auto sheetWindow = mainWindow();
  if (!sheetWindow) sheetWindow = window;
  return std::make_shared<App>(window, context_, sheetWindow);
}

void AppDelegate::applicationWillFinishLaunching() {
  childWindowControllers_.clear();
  // Logging is set up by the caller before anything else runs (it must precede every message).
  mainWindowController_ =
      std::make_unique<MainWindowController>(windows_.makeMainWindow("public/index.html", *this));
  if (auto& window = mainWindowController_->windowController()) window->setWindowParams();
  // After the page has started loading, so that its web process starts while the settings are
  // saved; no page script can run (and read settings) before the main loop does.
  initializeUserDefaults();
}

void AppDelegate::applicationDidFinishLaunching() {
  Settings::registerDefaults();
  context_.notifications().setActivationHandler(
      [this](const UserNotification& n) { didActivateNotification(n); });
  showMainWindow(false);
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
  if (hasVisibleWindows) return true;
  if (mainWindowController_) {
    showMainWindow(false);
    return false;
  }
  WD_LOG_WARN("Reopening application failed, no main window controller found");
  return true;
}

void AppDelegate::openFiles(const std::vector<std::string>& paths) {
  if (mainWindowController_) mainWindowController_->handleFilesEvent(paths);
}

void AppDelegate::handleGetURLEvent(const std::string& url) {
  if (mainWindowController_) mainWindowController_->handleMailtoEvent(url);
}

void AppDelegate::didActivateNotification(const UserNotification& notification) {
  // Everything needed is taken first: withdrawing the notification may drop what
  // `notification` refers to.
  std::optional<std::string> script;
  if (notification.userInfo.is_object() && notification.identifier) {
    auto it = notification.userInfo.find("callback");
    if (it != notification.userInfo.end() && it->is_string()) {
      // One script: when the callback text does not parse, nothing runs (an earlier
      // callbackWrapper of the page is not called with this notification's id).
      script = "var callbackWrapper = " + it->get<std::string>() + "\n;callbackWrapper(" +
               scriptStringLiteral(*notification.identifier) + ");";
    }
  }
  const auto key = notification.key;
  auto main = mainWindow();
  if (main) main->makeKeyAndOrderFront();
  context_.notifications().removeDeliveredNotification(key);
  if (main && script) main->pageEvents().runWhenReady(std::move(*script));
}

void AppDelegate::showMainWindow(bool withSender) {
  if (!mainWindowController_) return;
  auto& window = mainWindowController_->windowController();
  if (!window) return;
  if (withSender) {
    window->makeKeyAndOrderFront();
    context_.application().activate();
  } else {
    window->showWindow();
  }
}

void AppDelegate::bringMainWindowForward() {
  // A menu command acts on the main window's page: the window comes forward even when another
  // of the application's windows (Preferences, a message window) is the active one.
  if (mainWindowController_)
    if (auto& window = mainWindowController_->windowController()) window->makeKeyAndOrderFront();
}

bool AppDelegate::isMainWindow(const WebWindow* controller) const {
  return controller && mainWindowController_ &&
         mainWindowController_->windowController().get() == controller;
}

void AppDelegate::registerChildController(std::shared_ptr<WebWindow> controller) {
  if (!controller || isMainWindow(controller.get())) return;
  childWindowControllers_.push_back(std::move(controller));
}

void AppDelegate::unregisterChildController(const WebWindow* controller) {
  if (isMainWindow(controller)) return;
  // Drop the reference outside the list first: the controller may go away with it.
  std::shared_ptr<WebWindow> keep;
  auto it = std::find_if(childWindowControllers_.begin(), childWindowControllers_.end(),
                         [controller](const auto& c) { return c.get() == controller; });
  if (it == childWindowControllers_.end()) return;
  keep = std::move(*it);
  childWindowControllers_.erase(it);
}

std::shared_ptr<WebWindow> AppDelegate::newWindowWithRequest(const std::string& url) {
  if (!mayOpenChildWindow()) {
    WD_LOG_INFO("No window opened for a request: {} secondary windows are open already",
                childWindowControllers_.size());
    return nullptr;
  }
  auto controller = windows_.makeWindow(url, *this);
  if (!controller) return nullptr;
  registerChildController(controller);
  controller->makeKeyAndOrderFront();
  return controller;
}

void AppDelegate::windowDidClose(const WebWindow* controller) {
  unregisterChildController(controller);
}

void AppDelegate::messageAction(const std::string& title) {
  bringMainWindowForward();
  if (mainWindowController_) mainWindowController_->handleMessageAction(title);
}

void AppDelegate::gotoModule(const std::string& title) {
  bringMainWindowForward();
  if (mainWindowController_) mainWindowController_->handleGotoModule(title);
}

void AppDelegate::newItem(const std::string& title) {
  bringMainWindowForward();
  if (mainWindowController_) mainWindowController_->handleNewItem(title);
}

void AppDelegate::fulltextSearch() {
  bringMainWindowForward();
  if (mainWindowController_) mainWindowController_->handleFulltextSearch();
}

void AppDelegate::setOutOfOffice(bool itemStateOn) {
  if (mainWindowController_)
    mainWindowController_->handleOutOfOffice(itemStateOn ? "false" : "true");
}

void AppDelegate::openShowFeedback(const std::string& /*title*/) {
  if (mainWindowController_) mainWindowController_->handleShowFeedback();
}

void AppDelegate::openKnowledgebaseUrl() {
  context_.workspace().openURL(kKnowledgebaseURL);
}

void AppDelegate::openSupportUrl() {
  context_.workspace().openURL(kSupportURL);
}

void AppDelegate::openAboutWindow() {
  if (!gdk_display_get_default()) return;
  if (!aboutWindowController_) aboutWindowController_ = std::make_unique<AboutWindowController>();
  aboutWindowController_->withWindowController(mainWindowController_.get());
  aboutWindowController_->showWindow();
}

void AppDelegate::openUpdateWindow() {
  // A page that never started the checker (the bundled page, a web client without one) still
  // gets an answer: the user's check runs without a mail server name.
  if (!updateChecker_) makeUpdateChecker("", true);
  if (updateChecker_) updateChecker_->start(true);
}

WebWindow* AppDelegate::frontWindow() {
  if (!mainWindowController_) return nullptr;
  GtkWindow* active = nullptr;
  if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
    active = gtk_application_get_active_window(GTK_APPLICATION(app));
  for (auto& child : childWindowControllers_)
    if (active && child->gtkWindow() == active) return child.get();
  auto& main = mainWindowController_->windowController();
  if (main && (!active || main->gtkWindow() == active)) return main.get();
  return nullptr;
}

void AppDelegate::printContent() {
  if (WebWindow* front = frontWindow()) front->printContent();
}

void AppDelegate::editCommand(const std::string& command) {
  if (WebWindow* front = frontWindow()) front->executeEditingCommand(command);
}

void AppDelegate::closeFrontWindow() {
  if (WebWindow* front = frontWindow()) front->performClose();
}

void AppDelegate::openPreferences() {
  preferencesWindowController().showWindow();
}

void AppDelegate::terminate() {
  // Pending account changes are asked about first, as closing the Preferences window does.
  if (preferencesWindowController_ && preferencesWindowController_->isVisible()) {
    preferencesWindowController_->performClose([this](bool closed) {
      if (closed) context_.application().terminate();
    });
    return;
  }
  context_.application().terminate();
}

PreferencesWindowController& AppDelegate::preferencesWindowController() {
  if (!preferencesWindowController_) {
    auto prefs = std::make_unique<PreferencesWindowController>(_("Preferences"));
    auto& shared = UserDefaultsController::shared();
    prefs->addViewController(std::make_unique<GeneralView>(shared));
    prefs->addViewController(std::make_unique<AccountPreferencesViewController>(
        *prefs, context_, shared.initialValues()));
    preferencesWindowController_ = std::move(prefs);
  }
  return *preferencesWindowController_;
}

void AppDelegate::openPreferencesOn(const std::string& identifier) {
  // Selected first, so that only that pane appears as the window comes up.
  auto& prefs = preferencesWindowController();
  prefs.selectControllerWithIdentifier(identifier);
  prefs.showWindow();
}

void AppDelegate::initializeUserDefaults() {
  Settings::initializeUserDefaults(context_.defaults());
}

void AppDelegate::startUpdateCheckerWith(const std::string& server) {
  makeUpdateChecker(server, false);
  if (updateChecker_) updateChecker_->start(false);
}

void AppDelegate::makeUpdateChecker(const std::string& server, bool forUser) {
  auto& defaults = context_.defaults();
  auto url = defaults.stringForKey(Settings::kUpdateServiceURL);
  long long period = defaults.integerForKey(Settings::kUpdatePeriod);
  if (!url) {
    url = kBuiltInUpdateServiceURL;
    defaults.setString(Settings::kUpdateServiceURL, *url);
  }
  if (period == 0) {
    period = kDefaultUpdatePeriod;
    defaults.setInteger(Settings::kUpdatePeriod, period);
  }
  defaults.synchronize();
  if (updateChecker_) updateChecker_->stop();
  updateChecker_.reset();
  // A negative period turns automatic checks off; the user's own check still runs (once).
  if (period <= 0 && !forUser) return;
  if (!updaterConfiguration_)
    updaterConfiguration_ = update::UpdaterConfiguration{
        Bundle::main().version(), update::builtInPublicKey(), update::defaultCacheDirectory()};
  updateChecker_ = std::make_unique<update::UpdateChecker>(
      *url, server, period, defaults.stringForKey(Settings::kUpdateChannel), *updaterConfiguration_,
      updateWindows());
}

UpdateWindows& AppDelegate::updateWindows() {
  if (!updateWindows_)
    updateWindows_ = std::make_unique<UpdateWindows>(context_, [this] { installUpdate(); });
  return *updateWindows_;
}

void AppDelegate::setUpdateEnvironment(update::UpdaterConfiguration configuration,
                                       update::InstallLocation location) {
  updaterConfiguration_ = std::move(configuration);
  installLocation_ = std::move(location);
}

void AppDelegate::installUpdate() {
  update::Updater* updater = updateChecker_ ? updateChecker_->updater() : nullptr;
  // The window's update stays installable when a newer run (the user's own check, a restarted
  // checker) has not found it again yet.
  UpdateWindowController* window =
      updateWindows_ ? updateWindows_->updateWindowController() : nullptr;
  const bool fromUpdater = updater && updater->downloadedUpdate();
  if (!fromUpdater && !window) return;
  if (!installer_) {
    installer_ = std::make_unique<update::Installer>(
        installLocation_.value_or(update::currentInstallLocation()),
        update::Installer::Hooks{.quit = [this] { terminate(); },
                                 .handedToSystemInstaller =
                                     [this](const std::filesystem::path& file) {
                                       updateWindows().showHandedToInstaller(file);
                                     }});
  }
  // The user is told why, and nothing else changes: the running version goes on.
  auto failed = [this](const std::string& reason) {
    WD_LOG_INFO("The update cannot be installed: {}", reason);
    updateWindows().showInstallFailed(reason);
  };
  if (fromUpdater)
    updater->relaunchToInstallUpdate(*installer_, failed);
  else
    installer_->install(window->update(), failed);
}

}  // namespace wd
