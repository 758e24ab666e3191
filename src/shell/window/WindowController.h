#pragma once
// One web window: a window from the "MainWindow" layout with a web view, the configuration's
// limits and title, and the web view's delegate (script bridge, dialogs, context menu, drops,
// printing, windows opened by the page). The main window only hides when closed and keeps its
// frame under "MacGapWindow"; a secondary window is torn down when closed. When the page's web
// process ends, the main window loads its page again (fresh bridge, events held until the new
// page reports ready) unless it keeps dying (then an info bar offers Reload); a secondary
// window closes (its page was the opener's or a one-off request; nothing would restore it).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"
#include "core/LocalConfiguration.h"
#include "core/NotificationCenter.h"
#include "shell/window/ProcessRecovery.h"
#include "shell/window/WebWindow.h"
#include "shell/window/WindowFrame.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _GtkWidget GtkWidget;

namespace wd {

class ShellContext;
class WebContext;
class WebViewDelegate;
class WindowHost;
namespace bridge {
class ScriptObject;
}

// What every web window is made with; owned by the running application and outliving its
// windows.
struct WindowEnvironment {
  ShellContext& context;
  WebContext& web;
  WindowHost& host;
  // The page's MacGap object for a window.
  std::function<std::shared_ptr<bridge::ScriptObject>(std::shared_ptr<WebWindow>)> makeRoot;
};

class WindowController : public WebWindow, public std::enable_shared_from_this<WindowController> {
 public:
  static constexpr const char* kFrameAutosaveName = "MacGapWindow";

  // The main window, loading `resourcePath` of the web client folder.
  static std::shared_ptr<WindowController> initWithURL(const WindowEnvironment& env,
                                                       const std::string& resourcePath);
  // A secondary window loading `url` (nothing when empty).
  static std::shared_ptr<WindowController> initWithRequest(const WindowEnvironment& env,
                                                           const std::string& url);
  // A secondary window for a page's window.open(): its web view is related to `opener` (same
  // web process; the opener scripts it) and it is shown when the page is ready to show it.
  static std::shared_ptr<WindowController> initWithRelatedView(const WindowEnvironment& env,
                                                               WebKitWebView* opener);

  ~WindowController() override;
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;

  // WebWindow
  bridge::ScriptPage* scriptPage() override;
  GtkWindow* gtkWindow() override { return window_; }
  void showWindow() override;
  void makeKeyAndOrderFront() override;
  bool isVisible() const override;
  void setWindowParams() override;
  void printContent() override;
  void performClose() override;
  void executeEditingCommand(const std::string& command) override;
  std::shared_ptr<WebWindow> takeOpenedWindow() override;
  void whenReadyToShow(std::function<void()> f) override;
  void frameChangedWhileHidden() override;
  WebKitWebView* webKitWebView() override { return webView_; }

  WebKitWebView* webView() const { return webView_; }
  WebViewDelegate* webViewDelegate() const { return delegate_.get(); }
  const WindowEnvironment& environment() const { return env_; }
  const std::string& url() const { return url_; }
  const Json& settings() const { return config_.settings; }
  const Json& pluginsMap() const { return config_.pluginsMap; }
  const std::vector<std::string>& pluginNames() const { return config_.pluginNames(); }
  bool isTornDown() const { return webView_ == nullptr; }

  // The window is closing (its close button, the menu, the page's window.close()): the main
  // window hides; a secondary window is torn down and leaves the registry.
  void windowWillClose();
  // Saves the main window's frame under the autosave name (a hidden window's as it was last
  // on screen; nothing for a window never shown). Also done whenever the window hides.
  void saveFrame();
  // The opening page asked to show this window: runs what waited for that.
  void readyToShow();
  // The web process behind the page ended (see the top of this file).
  void webProcessEnded(ProcessEnd reason);
  // The info bar shown once the page stopped being loaded again (nullptr while none is).
  GtkWidget* recoveryBar() const { return recoveryBar_; }
  // Loads the page again (the info bar's Reload button): earlier deaths no longer count.
  void reloadPage();

 private:
  void writeFrame();
  explicit WindowController(const WindowEnvironment& env);
  void awakeFromNib(WebKitWebView* related);
  void windowDidLoad();
  void teardown();
  void showRecoveryBar(ProcessEnd reason);

  const WindowEnvironment& env_;
  GtkWindow* window_ = nullptr;
  GtkWidget* content_ = nullptr;
  WebKitWebView* webView_ = nullptr;
  std::unique_ptr<WebViewDelegate> delegate_;
  std::string url_;
  std::string autosaveName_;
  LocalConfiguration config_;
  unsigned long deleteHandler_ = 0;
  unsigned long terminatedHandler_ = 0;
  ReloadBudget reloads_;
  std::optional<WindowFrame> shownFrame_;  // the frame when last on screen
  std::optional<WindowFrame> savedFrame_;  // the frame last written (not written again)
  GtkWidget* recoveryBar_ = nullptr;
  bool closePending_ = false;       // performClose() asked, the close has not happened yet
  bool awaitsReadyToShow_ = false;  // opened by a page that has not asked to show it yet
  std::vector<std::function<void()>> untilReadyToShow_;
  NotificationCenter::Token developerExtras_;  // the web inspector follows the settings
};

}  // namespace wd
