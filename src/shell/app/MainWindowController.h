#pragma once
// Owns the main web window and turns operating-system events and menu commands into DOM events
// of its page, through the window's page-event route: until the page reports ready ("appReady")
// they are held, one per name (a later one replaces an earlier one), and delivered when it is.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/ScriptObject.h"
#include "core/Json.h"
#include "shell/window/WebWindow.h"

namespace wd {

class MainWindowController {
 public:
  // `window` is the main web window (already loading its page).
  explicit MainWindowController(std::shared_ptr<WebWindow> window);
  MainWindowController(const MainWindowController&) = delete;
  MainWindowController& operator=(const MainWindowController&) = delete;

  // The events below as the page API's reference and declarations describe them.
  static bridge::EventSource pageEventSource();

  // Raises the application event `name` in the page, or holds it until the page is ready.
  void postNotification(const std::string& name, const std::optional<Json>& data);

  // A URL given to the application: "mailto:..." (scheme compared exactly) becomes
  // "newEmailRequest" with the text after "mailto:"; anything else is ignored (logged).
  void handleMailtoEvent(const std::string& urlText);
  // Files given to the application: "shareFileRequest" with the list (empty lists ignored).
  // Names that are not valid UTF-8 are passed in display form (bad bytes replaced).
  void handleFilesEvent(const std::vector<std::string>& files);
  void handleMessageAction(const std::string& action);
  void handleGotoModule(const std::string& module);
  void handleNewItem(const std::string& item);
  void handleFulltextSearch();
  void handleShowFeedback();
  void handleWebAssist(const std::string& enabled);
  void handleOutOfOffice(const std::string& enabled);

  const std::shared_ptr<WebWindow>& windowController() const { return window_; }
  bool appInitialized() const { return window_ && window_->pageEvents().isReady(); }

  // The text after "mailto:" when `urlText` is a mailto URL (exact, lower-case scheme).
  static std::optional<std::string> mailtoResourceSpecifier(const std::string& urlText);

 private:
  std::shared_ptr<WebWindow> window_;
};

}  // namespace wd
