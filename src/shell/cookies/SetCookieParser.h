#pragma once
// Set-Cookie header fields into cookies (the response side of the cookie store). One field
// gives at most one cookie:
// - "name=value" comes first; a field without "=", with an empty name or with a control
//   character gives none, as does a field longer than kMaxSetCookieLength.
// - Domain (a leading "." ignored, any case): the cookie is a domain cookie "." + domain when the
//   response's host is that domain or lies below it and the domain is not a public suffix;
//   otherwise the field gives no cookie. An IP address host takes only its own address, as a
//   host cookie. Without Domain the cookie is a host cookie for the response's host.
// - Path: the attribute when it begins with "/", else the folder of the response's path ("/"
//   at the top).
// - Max-Age (seconds, wins over Expires; 0 or less is already expired; at most until the end
//   of year 9999) and Expires (an HTTP date) give the expiry, Secure and HttpOnly the flags,
//   SameSite None, Lax or Strict.
// Unknown attributes are ignored; of attributes given twice the last counts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "shell/cookies/Cookie.h"

namespace wd::cookies {

inline constexpr std::size_t kMaxSetCookieLength = 8192;

// The cookie of one Set-Cookie field received from `url`; `now` (Unix seconds) dates Max-Age.
std::optional<Cookie> parseSetCookie(std::string_view field, const CookieURL& url,
                                     std::int64_t now);

}  // namespace wd::cookies
