#pragma once
// The application's own cookie jar. It decides which cookies go with the requests the
// application makes itself (attachment downloads) and with the page's WebSocket handshakes,
// by rules simpler than a browser's that the mail server's login state relies on:
//
// - Two maps of the same shape, domain key (the cookie's domain in lower case) -> path (as
//   given) -> name -> cookie: `subdomainCookies` for host cookies, `domainGlobalCookies` for
//   domain cookies (domain beginning with "."). One cookie per (domain key, path, name); the
//   last one stored wins. Nothing is ever expired or dropped by the store itself.
// - Matching a URL (host lower-cased, path decoded without a trailing "/"): the host cookies of
//   exactly that host, then the domain cookies of the key made of the host from its first "."
//   (mail.example.com -> .example.com; no "." in the host, no domain pass). Within a domain a
//   path P matches when P is "/" or the URL's path begins with P (plain prefix, so /web matches
//   /webmail). Scheme, port, expiry, Secure and HttpOnly play no part.
// - Limits, as browsers have them: a cookie's name and value together at most kMaxCookieBytes,
//   at most kMaxCookiesPerDomain cookies under one domain key and kMaxCookies in the store. A
//   cookie beyond a limit is not stored (one that replaces a stored cookie always is).
// - The application's own requests (handleCookiesInRequest) carry a Secure cookie over HTTPS
//   only.
//
// One store per application (ShellContext::cookies()), in memory only; main thread only.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Json.h"
#include "shell/cookies/Cookie.h"

typedef struct _SoupMessage SoupMessage;

namespace wd {

class BSHTTPCookieStorage {
 public:
  using Cookie = cookies::Cookie;
  using NameMap = std::map<std::string, Cookie>;
  using PathMap = std::map<std::string, NameMap>;
  using DomainMap = std::map<std::string, PathMap>;

  static constexpr std::size_t kMaxCookieBytes = 4096;
  static constexpr std::size_t kMaxCookiesPerDomain = 50;
  static constexpr std::size_t kMaxCookies = 3000;

  // Stores or replaces one cookie; an invalid cookie, or a new one beyond a limit, is ignored.
  void setCookie(Cookie cookie);
  // setCookie for each, in order.
  void loadCookies(const std::vector<Cookie>& cookies);
  // The cookies to send to `url`: host cookies first, then domain cookies; none for a URL that
  // does not parse.
  std::vector<Cookie> cookiesForURL(std::string_view url) const;
  // The Cookie header value for these cookies ("a=1; b=2").
  static std::string cookieHeader(const std::vector<Cookie>& cookies);

  // Sets the Cookie header of `request` to the cookies for its URL (without Secure cookies
  // unless the URL is https), replacing one already there; with no such cookies the request is
  // left as it was.
  void handleCookiesInRequest(SoupMessage* request) const;
  // Stores the cookies of the response's Set-Cookie fields, read against its URL.
  void handleCookiesInResponse(SoupMessage* response);
  // The same for Set-Cookie field values received from `url`.
  void handleSetCookieFields(const std::vector<std::string>& fields, std::string_view url);

  void reset();
  const DomainMap& subdomainCookies() const { return subdomainCookies_; }
  const DomainMap& domainGlobalCookies() const { return domainGlobalCookies_; }

  // The archived form, a property-list dictionary: "subdomainCookies" and
  // "domainGlobalCookies", each domain -> path -> name -> {"cookieProperties": properties}.
  Json encodeWithCoder() const;
  // A store from the archived form. Entries whose "cookieProperties" is not a dictionary of a
  // valid cookie are skipped; each cookie is stored under the keys its own properties give, so
  // a damaged archive cannot put a cookie where matching would not expect it.
  static BSHTTPCookieStorage initWithCoder(const Json& archive);

 private:
  DomainMap subdomainCookies_;
  DomainMap domainGlobalCookies_;
  std::size_t count_ = 0;  // cookies in both maps
};

}  // namespace wd
