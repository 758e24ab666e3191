// libFuzzer target: a Set-Cookie field from a URL (input: URL, newline, field). A parsed cookie
// is valid, of the host by the domain rule, archived unchanged, stored, and sent without breaks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/cookies/SetCookieParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto newline = input.find('\n');
  if (newline == std::string_view::npos) return 0;
  const std::string_view url = input.substr(0, newline);
  const auto parsed = wd::cookies::parseCookieURL(url);
  if (!parsed) return 0;
  const auto cookie = wd::cookies::parseSetCookie(input.substr(newline + 1), *parsed, 1700000000);
  if (!cookie) return 0;
  if (!cookie->isValid()) std::abort();
  // A host cookie names the host; a domain cookie (".example.com") the host or a domain above it.
  const std::string &host = parsed->host, &domain = cookie->domain;
  if (domain != host && !(domain.starts_with('.') && ("." + host).ends_with(domain))) std::abort();
  if (wd::cookies::Cookie::fromProperties(cookie->properties()) != cookie) std::abort();
  wd::BSHTTPCookieStorage store;
  store.setCookie(*cookie);
  if (store.subdomainCookies().size() + store.domainGlobalCookies().size() != 1) std::abort();
  const auto header = wd::BSHTTPCookieStorage::cookieHeader(store.cookiesForURL(url));
  if (header.find_first_of("\r\n") != std::string::npos) std::abort();
  return 0;
}
