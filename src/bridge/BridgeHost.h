#pragma once
// The UI-process end of the script bridge for real WebKitGTK web views. It listens on a private
// Unix socket; the web process extension connects to it (one connection per web process) and
// forwards every page access to MacGap synchronously. The UI process never waits on the web
// process: everything it sends is queued and written when the socket accepts it.
//
//   auto& host = BridgeHost::shared();
//   host.attach(context);                       // before the first web view of the context
//   auto page = host.attachWebView(view, installer, onFrameLoaded);
//   page->evaluateScript("...");                 // or Event::triggerEvent(..., page.get())
//   host.detachWebView(view);                    // when the window goes
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "bridge/Install.h"
#include "bridge/ScriptPage.h"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitWebView WebKitWebView;

namespace wd::bridge {

class BridgeHost {
 public:
  // (isMainFrame, frame URL) for every frame of the page that finishes loading (the window's
  // `load` event), inner frames included.
  using FrameLoadedHandler = std::function<void(bool isMainFrame, const std::string& url)>;
  // Whether the main-frame document at `url` may receive MacGap (asked for every new one).
  using DocumentPolicy = std::function<bool(const std::string& url)>;

  static BridgeHost& shared();
  BridgeHost();
  ~BridgeHost();
  BridgeHost(const BridgeHost&) = delete;
  BridgeHost& operator=(const BridgeHost&) = delete;

  // Starts listening (once) and points the context at the extension directory with the
  // initialization data the extension needs: the socket, its token and `resourceFolder`, the
  // folder the page's "/webmail/resource/" files are read from (empty: no mapping). Call
  // before the context's first web view.
  void attach(WebKitWebContext* context, const std::string& resourceFolder = {});

  // The owner's rule for documents; without one no document is allowed.
  void setDocumentPolicy(DocumentPolicy policy);

  // From now on every new main-frame script context of the view's page whose document is
  // allowed (the document policy) calls `installer` synchronously (the web process waits) and
  // installs its answer. The returned page scripts the view's main frame while its document is
  // allowed (nothing reaches a foreign document the view navigated to); it stays valid (and
  // inert) after detach. Attaching a view again replaces its page (the old one goes inert).
  std::shared_ptr<ScriptPage> attachWebView(WebKitWebView* view, Installer installer,
                                            FrameLoadedHandler frameLoaded = {});
  void detachWebView(WebKitWebView* view);

  // The page of an attached view, or nullptr.
  std::shared_ptr<ScriptPage> pageForWebView(WebKitWebView* view) const;

  // Where the extension module is loaded from: WENDREL_WEBEXT_DIR, else the build tree's
  // webext directory when it holds the module, else the install directory.
  static std::filesystem::path extensionDirectory();

  // The socket path the extension connects to (empty before attach).
  std::string socketPath() const;
  // Open web process connections.
  std::size_t connectionCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wd::bridge
