#pragma once
// Owns the main web window and turns operating-system events and menu commands into DOM events
// of the page. Until the page reports ready ("appReady") events are held, one per name (a later
// one replaces an earlier one), and one clicked notification is held; all are delivered when
// the page is ready, the notification last.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"
#include "core/NotificationCenter.h"
#include "shell/notifications/NotificationService.h"
#include "shell/window/WebWindow.h"

namespace wd {

class MainWindowController {
 public:
  using NotificationHandler = std::function<void(const UserNotification&)>;

  // `window` is the main web window (already loading its page). `deliverNotification` runs a
  // clicked notification once the page is ready (the application delegate's handler).
  MainWindowController(std::shared_ptr<WebWindow> window, NotificationHandler deliverNotification);
  MainWindowController(const MainWindowController&) = delete;
  MainWindowController& operator=(const MainWindowController&) = delete;

  // Raises the application event `name` in the page, or holds it until the page is ready.
  void postNotification(const std::string& name, const std::optional<Json>& data);

  // A URL given to the application: "mailto:..." (scheme compared exactly) becomes
  // "newEmailRequest" with the text after "mailto:"; anything else is ignored.
  void handleMailtoEvent(const std::string& urlText);
  // Files given to the application: "shareFileRequest" with the list (empty lists ignored).
  void handleFilesEvent(const std::vector<std::string>& files);
  void handleMessageAction(const std::string& action);
  void handleGotoModule(const std::string& module);
  void handleNewItem(const std::string& item);
  void handleFulltextSearch();
  void handleShowFeedback();
  void handleWebAssist(const std::string& enabled);
  void handleOutOfOffice(const std::string& enabled);
  // A notification the user clicked: held before the page is ready, else handled at once.
  void handleUserNotification(const UserNotification& notification);

  // The "appReady" notification.
  void appReady();

  const std::shared_ptr<WebWindow>& windowController() const { return window_; }
  bool appInitialized() const { return appInitialized_; }
  const std::map<std::string, std::optional<Json>>& eventCache() const { return eventCache_; }
  const std::optional<UserNotification>& userNotification() const { return userNotification_; }

  // The text after "mailto:" when `urlText` is a mailto URL (exact, lower-case scheme).
  static std::optional<std::string> mailtoResourceSpecifier(const std::string& urlText);

 private:
  void dispatch(const std::string& name, const std::optional<Json>& data);

  std::shared_ptr<WebWindow> window_;
  NotificationHandler deliverNotification_;
  bool appInitialized_ = false;
  std::map<std::string, std::optional<Json>> eventCache_;
  std::optional<UserNotification> userNotification_;
  NotificationCenter::Token appReadyObservation_;
};

}  // namespace wd
