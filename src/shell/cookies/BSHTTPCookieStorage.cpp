#include "shell/cookies/BSHTTPCookieStorage.h"

#include <glib.h>
#include <libsoup/soup.h>

#include "core/GLibPtr.h"
#include "shell/cookies/SetCookieParser.h"

namespace wd {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = g_ascii_tolower(c);
  return out;
}

void collect(const BSHTTPCookieStorage::DomainMap& map, const std::string& key,
             const std::string& path, std::vector<BSHTTPCookieStorage::Cookie>& out) {
  auto domain = map.find(key);
  if (domain == map.end()) return;
  for (const auto& [cookiePath, names] : domain->second) {
    if (cookiePath != "/" && path.compare(0, cookiePath.size(), cookiePath) != 0) continue;
    for (const auto& entry : names) out.push_back(entry.second);
  }
}

Json encodeMap(const BSHTTPCookieStorage::DomainMap& map) {
  Json domains = Json::object();
  for (const auto& [domain, paths] : map) {
    Json& byPath = domains[domain];
    byPath = Json::object();
    for (const auto& [path, names] : paths) {
      Json& byName = byPath[path];
      byName = Json::object();
      for (const auto& [name, cookie] : names)
        byName[name] = Json{{"cookieProperties", cookie.properties()}};
    }
  }
  return domains;
}

void decodeMap(const Json& archive, const char* key, BSHTTPCookieStorage& store) {
  auto map = archive.find(key);
  if (map == archive.end() || !map->is_object()) return;
  for (const auto& paths : *map) {
    if (!paths.is_object()) continue;
    for (const auto& names : paths) {
      if (!names.is_object()) continue;
      for (const auto& entry : names) {
        if (!entry.is_object()) continue;
        auto properties = entry.find("cookieProperties");
        if (properties == entry.end()) continue;
        if (auto cookie = cookies::Cookie::fromProperties(*properties))
          store.setCookie(std::move(*cookie));
      }
    }
  }
}

}  // namespace

void BSHTTPCookieStorage::setCookie(Cookie cookie) {
  if (!cookie.isValid() || cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return;
  const std::string key = lower(cookie.domain);
  DomainMap& target = key.front() == '.' ? domainGlobalCookies_ : subdomainCookies_;
  PathMap& paths = target[key];
  auto names = paths.find(cookie.path);
  const bool replaces = names != paths.end() && names->second.count(cookie.name) != 0;
  if (!replaces) {
    std::size_t inDomain = 0;
    for (const auto& [path, byName] : paths) inDomain += byName.size();
    if (inDomain >= kMaxCookiesPerDomain || count_ >= kMaxCookies) {
      if (paths.empty()) target.erase(key);
      return;
    }
    ++count_;
  }
  std::string path = cookie.path, name = cookie.name;
  paths[path].insert_or_assign(std::move(name), std::move(cookie));
}

void BSHTTPCookieStorage::loadCookies(const std::vector<Cookie>& cookies) {
  for (const auto& cookie : cookies) setCookie(cookie);
}

std::vector<BSHTTPCookieStorage::Cookie> BSHTTPCookieStorage::cookiesForURL(
    std::string_view url) const {
  std::vector<Cookie> result;
  auto parsed = cookies::parseCookieURL(url);
  if (!parsed || parsed->host.empty()) return result;
  collect(subdomainCookies_, parsed->host, parsed->path, result);
  const auto dot = parsed->host.find('.');
  if (dot != std::string::npos)
    collect(domainGlobalCookies_, parsed->host.substr(dot), parsed->path, result);
  return result;
}

std::string BSHTTPCookieStorage::cookieHeader(const std::vector<Cookie>& cookies) {
  std::string header;
  for (const auto& cookie : cookies) {
    if (!header.empty()) header += "; ";
    header += cookie.name + "=" + cookie.value;
  }
  return header;
}

void BSHTTPCookieStorage::handleCookiesInRequest(SoupMessage* request) const {
  if (!request) return;
  GUri* uri = soup_message_get_uri(request);
  if (!uri) return;
  GCharPtr url(g_uri_to_string(uri));
  auto cookies = cookiesForURL(url.get());
  // The store's matching ignores the Secure flag; on the wire, a Secure cookie goes over HTTPS
  // only.
  if (g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") != 0)
    std::erase_if(cookies, [](const Cookie& cookie) { return cookie.secure; });
  if (cookies.empty()) return;
  soup_message_headers_replace(soup_message_get_request_headers(request), "Cookie",
                               cookieHeader(cookies).c_str());
}

void BSHTTPCookieStorage::handleCookiesInResponse(SoupMessage* response) {
  if (!response) return;
  GUri* uri = soup_message_get_uri(response);
  SoupMessageHeaders* headers = soup_message_get_response_headers(response);
  if (!uri || !headers) return;
  std::vector<std::string> fields;
  SoupMessageHeadersIter iter;
  soup_message_headers_iter_init(&iter, headers);
  const char* name = nullptr;
  const char* value = nullptr;
  while (soup_message_headers_iter_next(&iter, &name, &value))
    if (g_ascii_strcasecmp(name, "Set-Cookie") == 0) fields.emplace_back(value);
  GCharPtr url(g_uri_to_string(uri));
  handleSetCookieFields(fields, url.get());
}

void BSHTTPCookieStorage::handleSetCookieFields(const std::vector<std::string>& fields,
                                                std::string_view url) {
  if (fields.empty()) return;
  auto parsed = cookies::parseCookieURL(url);
  if (!parsed) return;
  const std::int64_t now = g_get_real_time() / G_USEC_PER_SEC;
  std::vector<Cookie> cookies;
  for (const auto& field : fields)
    if (auto cookie = cookies::parseSetCookie(field, *parsed, now))
      cookies.push_back(std::move(*cookie));
  loadCookies(cookies);
}

void BSHTTPCookieStorage::reset() {
  count_ = 0;
  subdomainCookies_.clear();
  domainGlobalCookies_.clear();
}

Json BSHTTPCookieStorage::encodeWithCoder() const {
  return Json{{"domainGlobalCookies", encodeMap(domainGlobalCookies_)},
              {"subdomainCookies", encodeMap(subdomainCookies_)}};
}

BSHTTPCookieStorage BSHTTPCookieStorage::initWithCoder(const Json& archive) {
  BSHTTPCookieStorage store;
  if (!archive.is_object()) return store;
  decodeMap(archive, "domainGlobalCookies", store);
  decodeMap(archive, "subdomainCookies", store);
  return store;
}

}  // namespace wd
