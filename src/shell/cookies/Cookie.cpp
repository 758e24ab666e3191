#include "shell/cookies/Cookie.h"

#include <glib.h>

#include <memory>

#include "core/GLibPtr.h"

namespace wd::cookies {

namespace {

struct DateTimeUnref {
  void operator()(GDateTime* d) const {
    if (d) g_date_time_unref(d);
  }
};
using DateTimePtr = std::unique_ptr<GDateTime, DateTimeUnref>;

std::optional<std::string> text(const Json& properties, const char* key) {
  auto it = properties.find(key);
  if (it == properties.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool flag(const Json& properties, const char* key) {
  auto it = properties.find(key);
  if (it == properties.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  return it->is_string() && g_ascii_strcasecmp(it->get<std::string>().c_str(), "TRUE") == 0;
}

std::optional<std::int64_t> expiry(const Json& properties) {
  auto it = properties.find("Expires");
  if (it == properties.end()) return std::nullopt;
  if (it->is_number_integer()) return it->get<std::int64_t>();
  if (!it->is_string()) return std::nullopt;
  const std::string value = it->get<std::string>();
  if (hasControlCharacter(value)) return std::nullopt;
  GTimeZone* utc = g_time_zone_new_utc();
  DateTimePtr date(g_date_time_new_from_iso8601(value.c_str(), utc));
  g_time_zone_unref(utc);
  if (!date) return std::nullopt;
  return g_date_time_to_unix(date.get());
}

}  // namespace

bool hasControlCharacter(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

bool Cookie::isValid() const {
  for (const std::string* text : {&name, &value, &domain, &path, &sameSite})
    if (!g_utf8_validate_len(text->data(), text->size(), nullptr)) return false;
  return !name.empty() && !domain.empty() && !path.empty() && !hasControlCharacter(name) &&
         !hasControlCharacter(value) && !hasControlCharacter(domain) &&
         !hasControlCharacter(path) && !hasControlCharacter(sameSite) &&
         name.find_first_of(";=") == std::string::npos && value.find(';') == std::string::npos;
}

Json Cookie::properties() const {
  Json p = Json::object();
  p["Name"] = name;
  p["Value"] = value;
  p["Domain"] = domain;
  p["Path"] = path;
  if (expires) {
    DateTimePtr date(g_date_time_new_from_unix_utc(*expires));
    if (date) {
      GCharPtr iso(g_date_time_format_iso8601(date.get()));
      if (iso) p["Expires"] = iso.get();
    }
  }
  if (secure) p["Secure"] = "TRUE";
  if (httpOnly) p["HttpOnly"] = "TRUE";
  if (!sameSite.empty()) p["SameSite"] = sameSite;
  return p;
}

std::optional<Cookie> Cookie::fromProperties(const Json& properties) {
  if (!properties.is_object()) return std::nullopt;
  auto name = text(properties, "Name");
  auto domain = text(properties, "Domain");
  auto path = text(properties, "Path");
  if (!name || !domain || !path) return std::nullopt;
  Cookie cookie{.name = *name,
                .value = text(properties, "Value").value_or(""),
                .domain = *domain,
                .path = *path,
                .expires = expiry(properties),
                .secure = flag(properties, "Secure"),
                .httpOnly = flag(properties, "HttpOnly"),
                .sameSite = text(properties, "SameSite").value_or("")};
  if (!cookie.isValid()) return std::nullopt;
  return cookie;
}

std::optional<CookieURL> parseCookieURL(std::string_view url) {
  if (url.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string text(url);
  GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  if (!uri) return std::nullopt;
  CookieURL result;
  if (const char* host = g_uri_get_host(uri))
    result.host = GCharPtr(g_ascii_strdown(host, -1)).get();
  const std::string encoded = g_uri_get_path(uri);
  g_uri_unref(uri);
  GCharPtr decoded(g_uri_unescape_string(encoded.c_str(), nullptr));
  if (!decoded) return std::nullopt;
  result.path = decoded.get();
  if (result.path.size() > 1 && result.path.back() == '/') result.path.pop_back();
  result.encodedPath = encoded.empty() ? "/" : encoded;
  return result;
}

}  // namespace wd::cookies
