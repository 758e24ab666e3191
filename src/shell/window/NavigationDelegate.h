#pragma once
// The web view's navigation and network side for one window: applies the navigation rules
// (NavigationPolicy) to every frame's navigations and to links that target a new window,
// starts attachment downloads (a save dialog on the window, then the download), refuses every
// answer the engine would save as a file (an inner frame's always; the main frame's, and the
// engine's own downloads of this view, become attachment downloads when the rules say so),
// gives universal access from file documents to the application's own page only, adds the
// request time-out script, refuses HTTP authentication, reports untrusted server certificates
// to the page ("connectionError", code "-1202") and lets excepted hosts load. The WebKitGTK
// glue only: the decisions are NavigationPolicy's and CertificateTrust's.
#include <memory>
#include <string>
#include <vector>

#include "bridge/ScriptObject.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitNavigationAction WebKitNavigationAction;
typedef struct _GTlsCertificate GTlsCertificate;
typedef struct _WebKitResponsePolicyDecision WebKitResponsePolicyDecision;
typedef struct _WebKitWebContext WebKitWebContext;

namespace wd {

class WebWindow;
class WindowController;
struct WindowEnvironment;

class NavigationDelegate {
 public:
  NavigationDelegate(const WindowEnvironment& env, std::weak_ptr<WindowController> window,
                     WebKitWebView* webView);
  ~NavigationDelegate();
  NavigationDelegate(const NavigationDelegate&) = delete;
  NavigationDelegate& operator=(const NavigationDelegate&) = delete;

  // "connectionError" as the page API's reference and declarations describe it.
  static bridge::EventSource pageEventSource();

  // For the view's `create`: true when the action is a link or form for a new window, which
  // has then been opened in the default browser (no window is to be made).
  bool newWindowOpenedInBrowser(WebKitNavigationAction* action);

  // Stops every signal (the window is being torn down).
  void detach();

  // A subresource of the page failed on an untrusted certificate.
  void reportSubresourceTlsFailure(const std::string& url, GTlsCertificate* certificate);

  // The "localizedMessage" of "connectionError" for an untrusted certificate of `host`.
  static std::string untrustedMessage(const std::string& host);

 private:
  bool decideNavigation(WebKitNavigationAction* action);
  int decideResponse(WebKitResponsePolicyDecision* decision);
  // A file answer (or an engine download) of `uri` in this view: the application's attachment
  // download when the rules make it one, else only logged.
  void engineDownload(const std::string& uri);
  void tlsFailed(const std::string& url, GTlsCertificate* certificate, bool mainFrame);
  void setUniversalFileAccess(bool on);

  const WindowEnvironment& env_;
  std::weak_ptr<WindowController> window_;
  WebKitWebView* webView_;
  std::vector<unsigned long> handlers_;
  WebKitWebContext* context_ = nullptr;
  unsigned long downloadHandler_ = 0;
  std::string retried_;  // the main document last loaded again after its host was excepted
  // Shared with resource signal handlers so they can tell that the delegate is gone.
  std::shared_ptr<NavigationDelegate*> alive_;
};

}  // namespace wd
