// The application's cookie store without a display: matching, storing, limits, Set-Cookie fields,
// libsoup requests and the archived form.
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/PropertyList.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/cookies/SetCookieParser.h"

namespace wd {
namespace cookies {
// Readable failures.
void PrintTo(const Cookie& c, std::ostream* out) {
  *out << c.properties().dump();
}
}  // namespace cookies
namespace {

using cookies::Cookie;

Cookie cookie(const std::string& domain, const std::string& path, const std::string& name,
              const std::string& value = "v", std::optional<std::int64_t> expires = {}) {
  return Cookie{.name = name, .value = value, .domain = domain, .path = path, .expires = expires};
}

// The names the store gives for a URL, in its order: host cookies by path, then the domain's.
std::string names(const std::vector<Cookie>& found) {
  std::string out;
  for (const auto& c : found) out += (out.empty() ? "" : " ") + c.name;
  return out;
}

// One cookie per lower-case domain, path and name (the last given kept as given); a URL gets the
// host's cookies by path (a plain, case-sensitive prefix), then the domain's. Neither expiry nor
// the secure flag filters.
TEST(CookieStore, MatchesByHostDomainAndPathPrefixOneCookiePerKeyWithinTheLimits) {
  BSHTTPCookieStorage store;
  Cookie expired = cookie("mail.example.com", "/old", "expired", "v", 1000);
  expired.secure = true;
  store.loadCookies(
      {cookie("Mail.Example.COM", "/", "root", "first"), cookie("mail.EXAMPLE.com", "/", "root"),
       cookie("mail.example.com", "/", "ROOT"), cookie("mail.example.com", "/webmail", "webmail"),
       cookie("mail.example.com", "/web", "web"), cookie("mail.example.com", "/webmail/x", "deep"),
       cookie("mail.example.com", "/WebMail", "upper"), cookie(".Example.com", "/", "dom"),
       cookie(".example.com", "/other", "domOther"), cookie(".mail.example.com", "/", "self"),
       cookie("example.com", "/", "apex"), cookie(".com", "/", "tld"),
       cookie("localhost", "/", "local"), expired,
       // Invalid: not stored.
       cookie("mail.example.com", "/", ""), cookie("", "/", "a"),
       cookie("mail.example.com", "", "a"), cookie("mail.example.com", "/", "a", "x\r\nEvil: 1"),
       cookie("mail.example.com", "/", "a;b")});
  const std::vector<std::pair<std::string, std::string>> table = {
      {"https://mail.example.com/webmail/api", "ROOT root web webmail dom"},
      {"wss://MAIL.Example.com:9443/webmail/api/", "ROOT root web webmail dom"},
      {"http://mail.example.com/webmail%2Fapi?x=1#f", "ROOT root web webmail dom"},
      {"https://mail.example.com", "ROOT root dom"},
      {"https://mail.example.com/WebMail/inbox", "ROOT root upper dom"},
      {"ws://mail.example.com/old/a", "ROOT root expired dom"},
      {"https://mail.example.com/other/x", "ROOT root dom domOther"},
      {"https://example.com/", "apex tld"},
      {"https://a.mail.example.com/", "self"},
      {"http://localhost/anything", "local"},
      {"not a url", ""},
      {"https://mail.example.com/%zz", ""},
      {"mailto:someone@mail.example.com", ""}};
  for (const auto& [url, expected] : table)
    EXPECT_EQ(names(store.cookiesForURL(url)), expected) << url;
  const auto& root = store.subdomainCookies().at("mail.example.com").at("/").at("root");
  EXPECT_EQ(root.domain + " " + root.value, "mail.EXAMPLE.com v");
  EXPECT_EQ(store.subdomainCookies().count(""), 0u);
  store.reset();
  EXPECT_TRUE(store.subdomainCookies().empty() && store.domainGlobalCookies().empty());
  // The limits per cookie, per domain and per store.
  using Store = BSHTTPCookieStorage;
  const std::string big(Store::kMaxCookieBytes - 1, 'v');
  store.setCookie(cookie("a.example", "/", "n", big));   // name and value together at the limit
  store.setCookie(cookie("a.example", "/", "nn", big));  // one byte over
  EXPECT_EQ(names(store.cookiesForURL("https://a.example/")), "n");
  // A domain key holds at most its limit, over all paths (the first ones stored); replacing a
  // stored cookie still works when it is full, and other domains are not affected.
  store.reset();
  for (std::size_t i = 0; i < Store::kMaxCookiesPerDomain + 5; ++i)
    store.setCookie(cookie("mail.example", "/p" + std::to_string(i % 3), "c" + std::to_string(i)));
  store.setCookie(cookie("mail.example", "/p0", "c0", "new"));
  store.setCookie(cookie(".example", "/", "d"));
  for (std::size_t path = 0; path < 3; ++path) {
    std::size_t held = 1;  // the domain cookie
    for (std::size_t i = 0; i < Store::kMaxCookiesPerDomain; ++i) held += i % 3 == path;
    EXPECT_EQ(store.cookiesForURL("https://mail.example/p" + std::to_string(path)).size(), held);
  }
  EXPECT_EQ(store.subdomainCookies().at("mail.example").at("/p0").at("c0").value, "new");
  // The whole store holds at most its limit; a refused cookie leaves no empty domain entry.
  store.reset();
  for (std::size_t i = 0; i <= Store::kMaxCookies; ++i)
    store.setCookie(cookie("h" + std::to_string(i) + ".example", "/", "c"));
  EXPECT_EQ(store.subdomainCookies().size(), Store::kMaxCookies);
}

TEST(CookieStore, SetCookieFieldsByTheDomainRuleLibsoupMessagesAndTheArchivedForm) {
  const std::string login = "https://mail.example.com/webmail/api/login", host = "mail.example.com";
  const std::int64_t now = 1'700'000'000;
  Cookie strict = cookie(host, "/", "sid", "abc");
  strict.secure = strict.httpOnly = true;
  strict.sameSite = "Strict";
  // Rows: the field, the URL of the response, the cookie it gives.
  const std::tuple<std::string, std::string, std::optional<Cookie>> table[] = {
      {"sid=abc; Path=/; Secure; HttpOnly; SameSite=strict", login, strict},
      {" a = b c ;path=/x", login, cookie(host, "/x", "a", "b c")},
      {"a=1", login, cookie(host, "/webmail/api", "a", "1")},
      {"a=1; Path=relative", login, cookie(host, "/webmail/api", "a", "1")},
      {"a=1", "https://Mail.Example.com", cookie(host, "/", "a", "1")},
      {"a=", "https://mail.example.com/x", cookie(host, "/", "a", "")},
      {"a=1; Domain=example.com", login, cookie(".example.com", "/webmail/api", "a", "1")},
      {"a=1; domain=.Example.COM; path=/", login, cookie(".example.com", "/", "a", "1")},
      {"a=1; Domain=mail.example.com; Path=/", login, cookie(".mail.example.com", "/", "a", "1")},
      {"a=1; Domain=; Path=/", login, cookie(host, "/", "a", "1")},
      {"a=1; Domain=127.0.0.1; Path=/", "https://127.0.0.1/", cookie("127.0.0.1", "/", "a", "1")},
      {"a=1; Domain=other.com", login, std::nullopt},
      {"a=1; Domain=ample.com", login, std::nullopt},
      {"a=1; Domain=com", login, std::nullopt},
      {"a=1; Domain=co.uk", "https://mail.example.co.uk/", std::nullopt},
      {"a=1; Domain=0.0.1", "https://127.0.0.1/", std::nullopt},
      {"novalue", login, std::nullopt},
      {"=v", login, std::nullopt},
      {"a=\xff\xfe", login, std::nullopt},
      {std::string("a=b\0c", 5), login, std::nullopt},
      {"a=1", "no url", std::nullopt},
      {"a=" + std::string(cookies::kMaxSetCookieLength, 'x'), login, std::nullopt},
      {"a=1; Path=/; Expires=Wed, 21 Oct 2015 07:28:00 GMT", login,
       cookie(host, "/", "a", "1", 1445412480)},
      {"a=1; Path=/; Max-Age=60; Expires=Wed, 21 Oct 2015 07:28:00 GMT", login,
       cookie(host, "/", "a", "1", now + 60)},
      {"a=1; Path=/; Max-Age=-5", login, cookie(host, "/", "a", "1", 0)},
      {"a=1; Path=/; Max-Age=99999999999999999999999", login,
       cookie(host, "/", "a", "1", 253402300799)},
      {"a=1; Path=/; Max-Age=soon; Expires=never", login, cookie(host, "/", "a", "1")}};
  for (const auto& [field, from, expected] : table) {
    auto url = cookies::parseCookieURL(from);
    auto parsed = url ? cookies::parseSetCookie(field, *url, now) : std::nullopt;
    EXPECT_EQ(parsed, expected) << field.substr(0, 80) << " from " << from;
  }
  BSHTTPCookieStorage store;
  SoupMessage* response = soup_message_new("GET", login.c_str());
  // Libsoup's messages: a response without Set-Cookie changes nothing.
  store.handleCookiesInResponse(response);
  EXPECT_TRUE(store.subdomainCookies().empty());
  SoupMessageHeaders* headers = soup_message_get_response_headers(response);
  soup_message_headers_append(headers, "Set-Cookie",
                              "sid=1; Path=/; Expires=Wed, 21 Oct 2015 07:28:00 GMT");
  soup_message_headers_append(headers, "set-cookie", "pref=dark; Domain=example.com; Path=/web");
  soup_message_headers_append(headers, "Set-Cookie", "bad; Path=/");
  store.handleCookiesInResponse(response);
  g_object_unref(response);
  // The store's cookies replace the request's own Cookie header, which stays when there are
  // none for the URL; a Secure cookie goes over HTTPS only, the others over plain HTTP too.
  store.setCookie(Cookie{
      .name = "sec", .value = "s", .domain = "mail.example.com", .path = "/", .secure = true});
  for (const auto& [url, header] :
       {std::pair{"https://mail.example.com/webmail/inbox", "sec=s; sid=1; pref=dark"},
        std::pair{"http://mail.example.com/webmail/x", "sid=1; pref=dark"},
        std::pair{"https://other.org/", "old=1"}}) {
    SoupMessage* request = soup_message_new("GET", url);
    SoupMessageHeaders* sent = soup_message_get_request_headers(request);
    soup_message_headers_replace(sent, "Cookie", "old=1");
    store.handleCookiesInRequest(request);
    EXPECT_STREQ(soup_message_headers_get_one(sent, "Cookie"), header) << url;
    g_object_unref(request);
  }
  // The archived form round-trips through a property list.
  store.reset();
  Cookie full = cookie(".example.com", "/web", "pref", "dark mode", 1445412480);
  full.secure = full.httpOnly = true;
  full.sameSite = "Lax";
  store.loadCookies({full, cookie("mail.example.com", "/", "sid", "1")});
  auto xml = plist::encodeXml(store.encodeWithCoder());
  ASSERT_TRUE(xml);
  auto decoded = plist::decode(*xml);
  ASSERT_TRUE(decoded.value) << decoded.error;
  const auto back = BSHTTPCookieStorage::initWithCoder(*decoded.value);
  EXPECT_EQ(back.subdomainCookies(), store.subdomainCookies());
  EXPECT_EQ(back.domainGlobalCookies(), store.domainGlobalCookies());
  const Json::json_pointer expires(
      "/domainGlobalCookies/.example.com/~1web/pref/cookieProperties/Expires");
  EXPECT_EQ(decoded.value->at(expires), "2015-10-21T07:28:00Z");
  // Damaged archives: entries that are no cookie are skipped; a cookie filed under the wrong
  // map or keys is stored where its own properties put it.
  Json damaged = Json::parse(R"({
    "subdomainCookies": {"mail.example.com": {"/": {
      "a": {"cookieProperties": "not a dictionary"},
      "b": {"cookieProperties": {"Name": "b", "Path": "/"}},
      "c": {"cookieProperties": {"Name": "c", "Value": "1", "Domain": ".example.com",
                                 "Path": "/", "Expires": "not a date"}},
      "d": 5}}},
    "domainGlobalCookies": []})");
  const auto repaired = BSHTTPCookieStorage::initWithCoder(damaged);
  EXPECT_TRUE(repaired.subdomainCookies().empty());
  EXPECT_EQ(repaired.domainGlobalCookies().at(".example.com").at("/").at("c"),
            cookie(".example.com", "/", "c", "1"));
  EXPECT_TRUE(BSHTTPCookieStorage::initWithCoder(Json("text")).subdomainCookies().empty());
}

}  // namespace
}  // namespace wd
