#pragma once
// The web engine set-up shared by every web window: one web context whose website data
// (local storage, databases) lives in the LocalStorage directory, with an ephemeral cookie jar
// that accepts all cookies and the script bridge attached, and the web view settings every
// window starts from. Owned by the running application; made on first use. It also keeps the
// certificates the engine has been told to accept (CertificateTrust) and has the application's
// cookie store follow the engine's cookie jar (EngineCookies). The web process runs in the
// engine's bubblewrap sandbox where that can start (SandboxProbe: started with this object on a
// machine without a remembered answer, some seconds after the first window otherwise), and
// editable fields are spell-checked in the user's languages (their dictionaries loaded
// kSpellingDelaySeconds after the context is made).
#include <memory>
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitSettings WebKitSettings;

namespace wd {
class BSHTTPCookieStorage;
class CertificateTrust;
class SandboxProbe;
class EngineCookies;
class UserDefaults;
namespace bridge {
class BridgeHost;
}

class WebContext {
 public:
  // Seconds after the context is made that the spelling dictionaries are loaded.
  static constexpr unsigned kSpellingDelaySeconds = 2;

  // `defaults` gives the mail server whose pages may receive MacGap; `cookies` is the store that
  // follows the engine's jar (none: a store of its own).
  WebContext(bridge::BridgeHost& bridgeHost, const UserDefaults& defaults,
             std::shared_ptr<BSHTTPCookieStorage> cookies = nullptr);
  ~WebContext();
  WebContext(const WebContext&) = delete;
  WebContext& operator=(const WebContext&) = delete;

  // The application's web context, made on first use (the script bridge is attached to it).
  WebKitWebContext* context();
  // The certificate exceptions the context's engine has taken (made with the context).
  CertificateTrust& certificateTrust();
  // The engine's cookie jar with the store following it (made with the context).
  EngineCookies& cookies();
  // The folder the page's "/webmail/resource/" files are read from: public/web of the web
  // client folder.
  static std::string resourceFolder();

  // New settings for a web view (owned by the caller): local storage and databases on,
  // developer extras as given, WebGL on, windows from script allowed, file access from file
  // documents on, universal access from file documents off (the view turns it on for the
  // application's own page only), and the user agent with the application name
  // "TovikWendrelDesktop/<version>".
  static WebKitSettings* newSettings(bool developerExtras);
  // The application name added to the user agent.
  static std::string userAgentApplicationName();

 private:
  void setUpSandbox();
  void recheckSandbox();
  void setUpSpelling();
  void setSpellingLanguages();

  bridge::BridgeHost& bridgeHost_;
  const UserDefaults& defaults_;
  WebKitWebContext* context_ = nullptr;
  std::unique_ptr<CertificateTrust> trust_;
  std::unique_ptr<SandboxProbe> sandbox_;  // the check of the engine's sandbox, while it runs
  unsigned recheckSandbox_ = 0;            // the later check of a remembered sandbox
  unsigned spellingLanguages_ = 0;         // the dictionaries, set shortly after start
  std::shared_ptr<BSHTTPCookieStorage> cookieStore_;
  std::unique_ptr<EngineCookies> cookies_;
};

}  // namespace wd
