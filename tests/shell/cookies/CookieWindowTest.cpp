// The cookie store with a real web view against the loopback HTTPS server, reached as
// mail.wendrel.test through a tunnelling proxy (domain cookies need a name no resolver knows).
#include <set>

#include "shell/PageServer.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/cookies/EngineCookies.h"
#include "shell/window/WebRig.h"

namespace wd::test {
namespace {

constexpr const char* kHost = "mail.wendrel.test";

class CookieWindow : public WebRig {
 protected:
  static void SetUpTestSuite() {
    server = std::make_unique<PageServer>(std::getenv("HOME"));
    ASSERT_TRUE(server->ok()) << server->error();
    // A host cookie for every path, a domain cookie for paths beginning with /web, and a host
    // cookie of the same name for exactly the WebSocket's path.
    server->route("/webmail/api/login",
                  {.body = "in",
                   .setCookies = {"sid=s1; Path=/", "team=t1; Domain=wendrel.test; Path=/web",
                                  "sid=jar; Path=/webmail/socket", "sec=x1; Path=/; Secure"}});
    server->route("/webmail/api/echo", {.echoCookie = true});
    server->webSocket("/webmail/socket");
    proxy = std::make_unique<TunnelProxy>(server->port());
    ASSERT_FALSE(proxy->uri().empty());
    startRig({{"public/config.json", R"({"plugins": ["DesktopCommand"]})"},
              {"public/index.html", R"(<!doctype html><title>start</title><script>
const get = url => fetch(url, {credentials: 'include'})
    .then(r => r.text().then(t => document.title = 'xhr ' + r.status + ' ' + t));
function socket(url, prepare) {
  if (prepare) MacGap.DesktopCommand.preWebSocket(url);
  var ws = new WebSocket(url);
  ws.onmessage = e => { document.title = 'ws ' + e.data; ws.close(); };
  ws.onerror = () => document.title = 'ws error';
}
document.title = 'ready ' + typeof MacGap.DesktopCommand;
</script>)"}});
    registerShellScriptClasses(app->context);
    WebKitWebContext* context = app->web.context();
    g_autoptr(WebKitNetworkProxySettings) settings =
        webkit_network_proxy_settings_new(proxy->uri().c_str(), nullptr);
    webkit_website_data_manager_set_network_proxy_settings(
        webkit_web_context_get_website_data_manager(context), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
        settings);
    webkit_web_context_allow_tls_certificate_for_host(context, server->certificate(), kHost);
  }
  static void TearDownTestSuite() {
    WebRig::TearDownTestSuite();
    proxy.reset();
    server.reset();
  }

  static std::string url(const std::string& scheme, const std::string& path) {
    return scheme + "://" + kHost + ":" + std::to_string(server->port()) + path;
  }
  // The engine's jar as "name=value domain path" entries.
  std::set<std::string> jar() {
    std::optional<GList*> list;
    webkit_cookie_manager_get_all_cookies(
        webkit_web_context_get_cookie_manager(app->web.context()), nullptr,
        +[](GObject* manager, GAsyncResult* result, gpointer out) {
          *static_cast<std::optional<GList*>*>(out) = webkit_cookie_manager_get_all_cookies_finish(
              WEBKIT_COOKIE_MANAGER(manager), result, nullptr);
        },
        &list);
    EXPECT_TRUE(waitFor([&] { return list.has_value(); }));
    std::set<std::string> cookies;
    for (GList* l = list.value_or(nullptr); l; l = l->next) {
      auto* c = static_cast<SoupCookie*>(l->data);
      cookies.insert(std::string(soup_cookie_get_name(c)) + "=" + soup_cookie_get_value(c) + " " +
                     soup_cookie_get_domain(c) + " " + soup_cookie_get_path(c));
    }
    g_list_free_full(list.value_or(nullptr), reinterpret_cast<GDestroyNotify>(soup_cookie_free));
    return cookies;
  }
  // The cookie header entries after `prefix`, in any order.
  static std::multiset<std::string> entries(const std::string& text,
                                            const std::string& prefix = {}) {
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    g_auto(GStrv) parts = g_strsplit(text.c_str() + std::min(prefix.size(), text.size()), "; ", -1);
    return {parts, parts + g_strv_length(parts)};
  }
  static inline std::unique_ptr<PageServer> server;
  static inline std::unique_ptr<TunnelProxy> proxy;
};

TEST_F(CookieWindow, TheStoreFollowsTheJarAndPreWebSocketHandsItsCookiesOverFor2Seconds) {
  open("ready object");
  ASSERT_EQ(ask("get('" + url("https", "/webmail/api/login") + "');"), "xhr 200 in");
  const std::string socket = url("wss", "/webmail/socket");
  // The store is the application's one (the shell context's) and holds what the server set. The
  // page's own requests carry the engine's cookies by the engine's rules: the domain cookie of
  // path /web is not sent to /webmail/..., though the store holds it for the socket (below).
  auto& store = app->web.cookies().store();
  ASSERT_TRUE(waitFor([&] { return store.cookiesForURL(socket).size() == 4; }));
  EXPECT_EQ(&store, app->context.cookies().get());
  const std::string echo = url("https", "/webmail/api/echo");
  EXPECT_EQ(entries(ask("get('" + echo + "');"), "xhr 200 "), entries("sid=s1; sec=x1"));
  // A first handshake without the hand-over carries the jar's cookies (and warms the engine's
  // WebSocket path, so the next handshake is well within the 2 s).
  EXPECT_EQ(entries(ask("socket('" + socket + "', false);"), "ws "),
            entries("sid=jar; sid=s1; sec=x1"));
  const auto before = jar();
  ASSERT_EQ(before.count("sid=jar mail.wendrel.test /webmail/socket"), 1u);
  // The store's cookies for the socket go with the handshake, each name once: sid=s1 and
  // sec=x1 as the jar holds them already (sid=jar of the socket's path is out for the
  // hand-over), team=t1 of the domain put into the jar for the socket's host and path.
  EXPECT_EQ(entries(ask("socket('" + socket + "', true);"), "ws "),
            entries("sid=s1; team=t1; sec=x1"));
  // The window goes; 2 s after the hand-over the jar holds what it held before, and the store
  // never took the hand-over's cookies.
  window.reset();
  EXPECT_TRUE(waitFor([&] { return jar() == before; }));
  EXPECT_EQ(store.subdomainCookies().at(kHost).at("/webmail/socket").at("sid").value, "jar");
  EXPECT_EQ(store.cookiesForURL(socket).size(), 4u);
  // A plain ws:// hand-over never puts a Secure cookie into the jar for the handshake.
  app->web.cookies().injectCookiesForWebSocket(url("ws", "/webmail/plain"));
  auto withTeam = before;
  withTeam.insert(std::string("team=t1 ") + kHost + " /webmail/plain");
  EXPECT_TRUE(waitFor([&] { return jar() == withTeam; }));
  EXPECT_TRUE(waitFor([&] { return jar() == before; }));
  // A URL without cookies in the store, or one that does not parse, hands nothing over.
  app->web.cookies().injectCookiesForWebSocket("wss://other.wendrel.test/");
  app->web.cookies().injectCookiesForWebSocket("not a url");
  EXPECT_EQ(app->web.cookies().pendingHandovers(), 0u);
}

}  // namespace
}  // namespace wd::test
