// The cookie store with a real web view under Xvfb against the loopback HTTPS server, reached
// as mail.wendrel.test through a tunnelling proxy: the store follows the engine's jar after the
// page logs in, the page's own requests carry the jar's cookies by the engine's rules, and
// preWebSocket puts the store's cookies into a WebSocket handshake for 2 s, after which the jar
// holds what it held before, also when the window has closed meanwhile.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/PageServer.h"
#include "shell/RealWindows.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/cookies/EngineCookies.h"
#include "shell/window/WebClient.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHost = "mail.wendrel.test";

constexpr const char* kPage = R"(<!doctype html><html><head><title>start</title></head><body>
<script>
function get(url) {
  var r = new XMLHttpRequest();
  r.withCredentials = true;
  r.onloadend = function () { document.title = 'xhr ' + r.status + ' ' + r.responseText; };
  r.open('GET', url);
  r.send();
}
function socket(url, prepare) {
  if (prepare) MacGap.DesktopCommand.preWebSocket(url);
  var ws = new WebSocket(url);
  ws.onmessage = function (e) { document.title = 'ws ' + e.data; ws.close(); };
  ws.onerror = function () { document.title = 'ws error'; };
}
document.title = 'ready ' + typeof MacGap.DesktopCommand;
</script></body></html>)";

class CookieWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    const fs::path client = fs::path(std::getenv("HOME")) / "cookie-client";
    fs::create_directories(client / "public");
    std::ofstream(client / "public/index.html") << kPage;
    std::ofstream(client / "public/config.json") << R"({"plugins": ["DesktopCommand"]})";
    webclient::setDirectory(client);
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

    g_object_unref(g_object_ref_sink(webkit_web_view_new()));
    app = std::make_unique<RealWindowsApp>();
    registerShellScriptClasses(app->context);
    WebKitWebContext* context = app->web.context();
    WebKitNetworkProxySettings* settings =
        webkit_network_proxy_settings_new(proxy->uri().c_str(), nullptr);
    webkit_website_data_manager_set_network_proxy_settings(
        webkit_web_context_get_website_data_manager(context), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
        settings);
    webkit_network_proxy_settings_free(settings);
    webkit_web_context_allow_tls_certificate_for_host(context, server->certificate(), kHost);

    window = WindowController::initWithRequest(app->env, webclient::fileURL("public/index.html"));
    window->makeKeyAndOrderFront();
    ASSERT_TRUE(waitFor([&] { return title() == "ready object"; })) << title();
  }
  void TearDown() override {
    window.reset();
    app.reset();
    proxy.reset();
    server.reset();
    webclient::setDirectory({});
    for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  }

  std::string url(const std::string& scheme, const std::string& path) const {
    return scheme + "://" + kHost + ":" + std::to_string(server->port()) + path;
  }
  std::string title() const {
    const char* t = window ? webkit_web_view_get_title(window->webView()) : nullptr;
    return t ? t : "";
  }
  // Runs `script` in the page and waits for the title it sets beginning with `prefix`.
  std::string ask(const std::string& script, const std::string& prefix) {
    webkit_web_view_evaluate_javascript(window->webView(), "document.title = 'asking';", -1,
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(waitFor([&] { return title() == "asking"; }));
    webkit_web_view_evaluate_javascript(window->webView(), script.c_str(), -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    EXPECT_TRUE(waitFor([&] { return title().rfind(prefix, 0) == 0; })) << script << title();
    return title().substr(std::min(prefix.size(), title().size()));
  }
  // The engine's jar as "name=value domain path" entries.
  std::set<std::string> jar() {
    struct Read {
      bool done = false;
      std::set<std::string> cookies;
    } read;
    webkit_cookie_manager_get_all_cookies(
        webkit_web_context_get_cookie_manager(app->web.context()), nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
          auto* out = static_cast<Read*>(data);
          GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source),
                                                                     result, nullptr);
          for (GList* l = list; l; l = l->next) {
            auto* c = static_cast<SoupCookie*>(l->data);
            out->cookies.insert(std::string(soup_cookie_get_name(c)) + "=" +
                                soup_cookie_get_value(c) + " " + soup_cookie_get_domain(c) + " " +
                                soup_cookie_get_path(c));
          }
          g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
          out->done = true;
        },
        &read);
    EXPECT_TRUE(waitFor([&] { return read.done; }));
    return read.cookies;
  }
  // The cookie header entries, in any order.
  static std::multiset<std::string> entries(const std::string& header) {
    std::multiset<std::string> out;
    gchar** parts = g_strsplit(header.c_str(), "; ", -1);
    for (gchar** p = parts; *p; ++p) out.insert(*p);
    g_strfreev(parts);
    return out;
  }
  void logIn() {
    ASSERT_EQ(ask("get('" + url("https", "/webmail/api/login") + "');", "xhr "), "200 in");
    auto& store = app->web.cookies().store();
    ASSERT_TRUE(waitFor([&] { return store.cookiesForURL(socketURL()).size() == 4; }));
  }
  std::string socketURL() const { return url("wss", "/webmail/socket"); }

  std::unique_ptr<PageServer> server;
  std::unique_ptr<TunnelProxy> proxy;
  std::unique_ptr<RealWindowsApp> app;
  std::shared_ptr<WindowController> window;
};

TEST_F(CookieWindow, TheStoreFollowsTheJarAndThePageSendsTheJarsCookies) {
  logIn();
  // The store is the application's one (the shell context's) and holds what the server set.
  auto& store = app->web.cookies().store();
  EXPECT_EQ(&store, app->context.cookies().get());
  const auto& host = store.subdomainCookies().at(kHost);
  EXPECT_EQ(host.at("/").at("sid").value, "s1");
  EXPECT_EQ(host.at("/webmail/socket").at("sid").value, "jar");
  EXPECT_EQ(store.domainGlobalCookies().at(".wendrel.test").at("/web").at("team").value, "t1");

  // The page's own requests carry the engine's cookies by the engine's rules: the domain
  // cookie of path /web is not sent to /webmail/..., though the store would send it.
  const std::string echo = url("https", "/webmail/api/echo");
  EXPECT_EQ(entries(ask("get('" + echo + "');", "xhr 200 ")), entries("sid=s1; sec=x1"));
  EXPECT_EQ(entries(BSHTTPCookieStorage::cookieHeader(store.cookiesForURL(echo))),
            entries("sid=s1; team=t1; sec=x1"));
}

TEST_F(CookieWindow, PreWebSocketHandsTheStoresCookiesToTheHandshakeFor2Seconds) {
  logIn();
  // A first handshake without the hand-over carries the jar's cookies (and warms the engine's
  // WebSocket path, so the next handshake is well within the 2 s).
  EXPECT_EQ(entries(ask("socket('" + socketURL() + "', false);", "ws ")),
            entries("sid=jar; sid=s1; sec=x1"));
  const auto before = jar();
  ASSERT_EQ(before.count("sid=jar mail.wendrel.test /webmail/socket"), 1u);

  // The store's cookies for the socket go with the handshake, each name once: sid=s1 and
  // sec=x1 as the jar holds them already (sid=jar of the socket's path is out for the
  // hand-over), team=t1 of the domain put into the jar for the socket's host and path.
  EXPECT_EQ(entries(ask("socket('" + socketURL() + "', true);", "ws ")),
            entries("sid=s1; team=t1; sec=x1"));
  EXPECT_EQ(server->webSocketCookies().size(), 2u);

  // The window goes; 2 s after the hand-over the jar holds what it held before, and the store
  // never took the hand-over's cookies.
  window.reset();
  EXPECT_TRUE(waitFor([&] { return app->web.cookies().pendingHandovers() == 0; }));
  EXPECT_TRUE(waitFor([&] { return jar() == before; }));
  const auto& store = app->web.cookies().store();
  EXPECT_EQ(store.subdomainCookies().at(kHost).at("/webmail/socket").at("sid").value, "jar");
  EXPECT_EQ(store.cookiesForURL(socketURL()).size(), 4u);

  // A plain ws:// hand-over never puts a Secure cookie into the jar for the handshake.
  app->web.cookies().injectCookiesForWebSocket(url("ws", "/webmail/plain"));
  const std::string plainTeam = std::string("team=t1 ") + kHost + " /webmail/plain";
  ASSERT_TRUE(waitFor([&] { return jar().count(plainTeam) == 1; }));
  for (const auto& entry : jar())
    if (entry.find("/webmail/plain") != std::string::npos) {
      EXPECT_EQ(entry, plainTeam);
    }
  EXPECT_TRUE(waitFor([&] { return app->web.cookies().pendingHandovers() == 0; }));
  EXPECT_TRUE(waitFor([&] { return jar() == before; }));

  // A URL without cookies in the store, or one that does not parse, hands nothing over.
  app->web.cookies().injectCookiesForWebSocket("wss://other.wendrel.test/");
  app->web.cookies().injectCookiesForWebSocket("not a url");
  EXPECT_EQ(app->web.cookies().pendingHandovers(), 0u);
}

}  // namespace
}  // namespace wd::test
