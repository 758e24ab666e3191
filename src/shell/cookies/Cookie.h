#pragma once
// One HTTP cookie as the application's cookie store keeps it, and the parts of a URL that cookie
// matching looks at. A cookie is valid when it has a name, a domain and a path, its texts are
// UTF-8 without control characters, its name holds no ";" or "=" and its value no ";" (so it can
// always be written into a Cookie header and archived); the store refuses invalid ones. A domain
// beginning with "." names a whole domain, any other domain names one host.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Json.h"

namespace wd::cookies {

struct Cookie {
  std::string name;
  std::string value;
  std::string domain;
  std::string path;
  // Kept and handed on, never examined by the store.
  std::optional<std::int64_t> expires;  // Unix time in seconds; none: a session cookie
  bool secure = false;
  bool httpOnly = false;
  std::string sameSite;  // "None", "Lax", "Strict" or empty (not given)

  bool isValid() const;
  bool operator==(const Cookie&) const = default;

  // The property dictionary of the archived form: "Name", "Value", "Domain", "Path" (texts),
  // "Expires" (ISO 8601 UTC text, only when set), "Secure" and "HttpOnly" ("TRUE", only when
  // set), "SameSite" (only when set).
  Json properties() const;
  // A cookie from a property dictionary; none when it is not a dictionary or gives no valid
  // cookie. Unknown keys are ignored; an unreadable "Expires" makes a session cookie.
  static std::optional<Cookie> fromProperties(const Json& properties);
};

// What cookie matching needs of a URL.
struct CookieURL {
  std::string host;         // lower case; empty when the URL has none
  std::string path;         // percent escapes decoded, a trailing "/" removed ("/" stays)
  std::string encodedPath;  // as written in the URL, "/" when empty
};

// The parts of an absolute URL; none when it does not parse (a bad escape, no scheme, an escaped
// NUL in its path).
std::optional<CookieURL> parseCookieURL(std::string_view url);

// Whether `text` holds a byte below 0x20 or 0x7F.
bool hasControlCharacter(std::string_view text);

}  // namespace wd::cookies
