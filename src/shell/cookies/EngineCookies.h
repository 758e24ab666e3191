#pragma once
// The web engine's cookie jar as the application's cookie store sees it. The engine sends the
// page's requests with its own jar and never shows their Set-Cookie fields, so the store
// follows the jar: every "changed" notice of the web context's cookie manager reads the whole
// jar (one read at a time, one more when notices came in meanwhile) and stores each cookie
// (loadCookies). Cookies the jar drops stay in the store, which never drops cookies itself.
//
// The WebSocket hand-over (MacGap.DesktopCommand.preWebSocket): the page's WebSocket handshake
// is sent with the jar's cookies, so before the page opens one, the store's cookies for its URL
// are put into the jar as session cookies for exactly that host and path (one per name, the
// first the store gives; a Secure cookie only for "wss"). The handshake carries each name once:
// when a jar cookie of that name under another key would go with it, a cookie with the same
// value is left to go instead of the copy, one with another value is taken out of the jar for
// the hand-over. 2 s later the jar gets back what it held under those keys: a
// cookie that was replaced or taken out is put back, one that was added is deleted, and a key
// the server has set again meanwhile is left as the server set it. The jar's other cookies are not
// touched, so the page's other requests keep theirs during the hand-over; cookies of the hand-over
// are never taken into the store. The restoration belongs to this object, not to a window: it
// happens when the window that asked has closed meanwhile.
#include <cstddef>
#include <memory>
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;

namespace wd {

class BSHTTPCookieStorage;

class EngineCookies {
 public:
  static constexpr unsigned kHandoverMilliseconds = 2000;

  // Follows the cookie manager of `context` (none given: a store of its own).
  EngineCookies(WebKitWebContext* context, std::shared_ptr<BSHTTPCookieStorage> store);
  ~EngineCookies();
  EngineCookies(const EngineCookies&) = delete;
  EngineCookies& operator=(const EngineCookies&) = delete;

  // Puts the store's cookies for the WebSocket `url` into the jar for 2 s. A URL that does not
  // parse, has no host, or has no cookies in the store changes nothing.
  void injectCookiesForWebSocket(const std::string& url);

  BSHTTPCookieStorage& store() const;
  // Hand-overs whose 2 s have not run out yet.
  std::size_t pendingHandovers() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace wd
