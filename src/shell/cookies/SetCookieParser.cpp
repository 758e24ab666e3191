#include "shell/cookies/SetCookieParser.h"

#include <libsoup/soup.h>

#include <charconv>
#include <limits>
#include <string>

#include "core/GLibPtr.h"

namespace wd::cookies {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (g_ascii_tolower(a[i]) != g_ascii_tolower(b[i])) return false;
  return true;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = g_ascii_tolower(c);
  return out;
}

// The folder of the response's path: everything before its last "/", or "/".
std::string defaultPath(const CookieURL& url) {
  const std::string& encoded = url.encodedPath;
  const auto slash = encoded.rfind('/');
  if (encoded.empty() || encoded.front() != '/' || slash == 0 || slash == std::string::npos)
    return "/";
  GCharPtr decoded(g_uri_unescape_string(encoded.substr(0, slash).c_str(), nullptr));
  return decoded ? std::string(decoded.get()) : std::string("/");
}

// The cookie's domain for a Domain attribute; none when the response's host may not set it.
std::optional<std::string> domainFor(std::string_view attribute, const std::string& host) {
  if (!attribute.empty() && attribute.front() == '.') attribute.remove_prefix(1);
  const std::string domain = lower(attribute);
  if (g_hostname_is_ip_address(host.c_str())) {
    if (domain == host) return host;
    return std::nullopt;
  }
  const bool below = host.size() > domain.size() &&
                     host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
                     host[host.size() - domain.size() - 1] == '.';
  if (domain != host && !below) return std::nullopt;
  if (domain.find('.') == std::string::npos || soup_tld_domain_is_public_suffix(domain.c_str()))
    return std::nullopt;
  return "." + domain;
}

std::optional<std::int64_t> httpDate(std::string_view text) {
  const std::string value(text);
  GDateTime* date = soup_date_time_new_from_http_string(value.c_str());
  if (!date) return std::nullopt;
  const std::int64_t seconds = g_date_time_to_unix(date);
  g_date_time_unref(date);
  return seconds;
}

std::optional<std::int64_t> maxAge(std::string_view text, std::int64_t now) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t seconds = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (end != text.data() + text.size()) return std::nullopt;
  const bool huge = ec == std::errc::result_out_of_range;
  if (negative || (seconds == 0 && !huge)) return std::int64_t{0};
  // Ages beyond the end of year 9999 (the last date a date type reads) end there.
  constexpr std::int64_t kLastSecond = 253402300799;
  if (huge || now >= kLastSecond || seconds > static_cast<std::uint64_t>(kLastSecond - now))
    return kLastSecond;
  return now + static_cast<std::int64_t>(seconds);
}

}  // namespace

std::optional<Cookie> parseSetCookie(std::string_view field, const CookieURL& url,
                                     std::int64_t now) {
  if (field.size() > kMaxSetCookieLength || url.host.empty()) return std::nullopt;
  const auto end = field.find(';');
  const std::string_view pair = field.substr(0, end);
  const auto equals = pair.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  Cookie cookie{.name = std::string(trim(pair.substr(0, equals))),
                .value = std::string(trim(pair.substr(equals + 1))),
                .domain = url.host,
                .path = {}};
  std::optional<std::int64_t> expires, age;
  std::optional<std::string_view> domain;
  std::string_view rest = end == std::string_view::npos ? std::string_view() : field.substr(end);
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the ";"
    const auto next = rest.find(';');
    const std::string_view attribute = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next);
    const auto eq = attribute.find('=');
    const std::string_view key = trim(attribute.substr(0, eq));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : trim(attribute.substr(eq + 1));
    if (equalsIgnoringCase(key, "domain")) {
      domain = value.empty() ? std::nullopt : std::optional(value);
    } else if (equalsIgnoringCase(key, "path")) {
      cookie.path = !value.empty() && value.front() == '/' ? std::string(value) : std::string();
    } else if (equalsIgnoringCase(key, "expires")) {
      if (auto date = httpDate(value)) expires = date;
    } else if (equalsIgnoringCase(key, "max-age")) {
      if (auto seconds = maxAge(value, now)) age = seconds;
    } else if (equalsIgnoringCase(key, "secure")) {
      cookie.secure = true;
    } else if (equalsIgnoringCase(key, "httponly")) {
      cookie.httpOnly = true;
    } else if (equalsIgnoringCase(key, "samesite")) {
      for (const char* policy : {"None", "Lax", "Strict"})
        if (equalsIgnoringCase(value, policy)) cookie.sameSite = policy;
    }
  }
  if (domain) {
    auto cookieDomain = domainFor(*domain, url.host);
    if (!cookieDomain) return std::nullopt;
    cookie.domain = std::move(*cookieDomain);
  }
  if (cookie.path.empty()) cookie.path = defaultPath(url);
  cookie.expires = age ? age : expires;
  if (!cookie.isValid()) return std::nullopt;
  return cookie;
}

}  // namespace wd::cookies
