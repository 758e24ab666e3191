#pragma once
// The web view's delegate for one window: installs MacGap (App, Window, Menu and the configured
// objects; Window and Menu are made by class name through the context's registry) into every
// main-frame script context, announces finished frame loads ("MacGap.load.complete"), shows the
// page's alert, confirm and file dialogs, filters the context menu, hands dropped files to App,
// prints, and makes the windows the page opens. Navigation, certificates and request time-outs
// are its NavigationDelegate's.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bridge/Install.h"
#include "bridge/ScriptPage.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitPrintOperation WebKitPrintOperation;

namespace wd {

class NavigationDelegate;
class WindowController;
struct WindowEnvironment;

class WebViewDelegate {
 public:
  WebViewDelegate(const WindowEnvironment& env, std::weak_ptr<WindowController> windowController,
                  WebKitWebView* webView);
  ~WebViewDelegate();
  WebViewDelegate(const WebViewDelegate&) = delete;
  WebViewDelegate& operator=(const WebViewDelegate&) = delete;

  // "MacGap.load.complete" as the page API's reference and declarations describe it.
  static bridge::EventSource pageEventSource();

  // The page of the view's main frame.
  bridge::ScriptPage* scriptPage() const { return page_.get(); }
  // What goes into a new main-frame context (made on first use, the same objects afterwards).
  std::optional<bridge::InstallSet> installSet(const std::string& documentUrl);
  // The page's MacGap object (made with the first install or drop).
  const std::shared_ptr<bridge::ScriptObject>& rootObject() const { return root_; }
  const std::vector<std::pair<std::string, std::shared_ptr<bridge::ScriptObject>>>&
  userSelectedPlugins() const {
    return plugins_;
  }

  // The application's Print command: prints unless a print dialog of this window is open.
  void printContent();
  bool printing() const { return printing_; }
  // Files dropped on the page: handed to the root object when it takes files (addFiles).
  void filesDropped(const std::vector<std::string>& paths);
  // A drag's file data arrived (the engine asks for it while the pointer moves, too) / the
  // user dropped the drag: files count as dropped only when both happened for the same drag.
  void dragDataArrived(const void* drag, std::vector<std::string> paths);
  void dragDropped(const void* drag);

  // The window the page opened last (window.open()), handed out once.
  std::shared_ptr<WindowController> takeOpenedWindow() { return std::exchange(opened_, {}).lock(); }

  // The view's web process ended: the page is bridged afresh (a new page binding; the dead
  // process's connection and handles are gone), the script objects stay.
  void renewBridge();

  // Stops every signal and the bridge (the window is being torn down).
  void detach();

 private:
  void connectSignals();
  void attachBridge();
  void print(WebKitPrintOperation* operation);
  void makeRootObject();

  const WindowEnvironment& env_;
  std::weak_ptr<WindowController> windowController_;
  WebKitWebView* webView_;
  std::shared_ptr<bridge::ScriptPage> page_;
  std::shared_ptr<bridge::ScriptObject> root_;
  bool pluginsMade_ = false;
  std::shared_ptr<bridge::ScriptObject> windowObject_;  // MacGap.Window
  std::shared_ptr<bridge::ScriptObject> menuObject_;    // MacGap.Menu
  std::vector<std::pair<std::string, std::shared_ptr<bridge::ScriptObject>>> plugins_;
  bool printing_ = false;
  std::vector<std::string> pendingDrop_;
  const void* pendingDrag_ = nullptr;
  bool dropWaiting_ = false;
  const void* dropDrag_ = nullptr;
  std::vector<unsigned long> handlers_;
  std::weak_ptr<WindowController> opened_;
  std::unique_ptr<NavigationDelegate> navigation_;
  // Shared with asynchronous dialogs so they can tell that the delegate is gone.
  std::shared_ptr<WebViewDelegate*> alive_;
};

}  // namespace wd
