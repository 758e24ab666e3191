#pragma once
// The rig of the suites on real web windows: the application over the shell's doubles with real
// WebKitGTK windows, started once per suite over a web client folder of its own.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/CertificateExceptions.h"
#include "core/UserDefaults.h"
#include "shell/PageServer.h"
#include "shell/RealWindows.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/window/SpellChecking.h"
#include "shell/window/WebClient.h"
#include "support/Files.h"
#include "support/Loop.h"

namespace wd::test {

// GTK, then WebKit before the doubles' headless JavaScriptCore pages: when JavaScriptCore is
// first set up by the harness, the engine's messages are never dispatched in this process.
inline bool startWebKitFirst() {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  g_object_unref(g_object_ref_sink(webkit_web_view_new()));
  return true;
}

class WebRig : public ::testing::Test {
 protected:
  // Starts the application over a web client folder holding `files` (by path inside it).
  static void startRig(const std::map<std::string, std::string>& files) {
    ASSERT_TRUE(startWebKitFirst());
    const auto* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    client = std::filesystem::path(std::getenv("HOME")) / (std::string("client-") + suite->name());
    std::filesystem::remove_all(client);
    for (const auto& [path, text] : files) writeFile(client / path, text);
    webclient::setDirectory(client);
    app = std::make_unique<RealWindowsApp>();
  }
  static void TearDownTestSuite() {
    app.reset();
    webclient::setDirectory({});
    drainLoop();
  }
  // Each case starts without windows and with nothing handed to the desktop.
  void TearDown() override {
    window.reset();
    while (app && !app->delegate->childWindowControllers().empty())
      app->delegate->unregisterChildController(app->delegate->childWindowControllers()[0].get());
    if (app) app->workspace.opened = app->workspace.files = {};
    drainLoop();
  }

  // Opens `window` on the client's page until its title begins with `title`.
  void open(const std::string& title) {
    window = WindowController::initWithRequest(app->env, webclient::fileURL("public/index.html"));
    window->makeKeyAndOrderFront();
    ASSERT_TRUE(waitForTitle(title, 60)) << this->title();
  }
  static std::string title(const std::shared_ptr<WindowController>& w) {
    const char* t = w && w->webView() ? webkit_web_view_get_title(w->webView()) : nullptr;
    return t ? t : "";
  }
  std::string title() const { return title(window); }
  bool waitForTitle(const std::string& prefix, double seconds = 30) {
    return waitFor([&] { return title().rfind(prefix, 0) == 0; }, seconds);
  }
  // Runs `script` in the page (the test's own access, not the application's).
  void run(const std::string& script) {
    webkit_web_view_evaluate_javascript(window->webView(), script.c_str(), -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
  // Runs `script`, which sets the title, and answers the title.
  std::string ask(const std::string& script) {
    run("document.title = 'asking';");
    EXPECT_TRUE(waitForTitle("asking"));
    run(script);
    EXPECT_TRUE(waitFor([&] { return title() != "asking"; })) << script;
    return title();
  }
  // Asks `script` (which sets the title) until the title is `expected`.
  bool answers(const std::string& script, const std::string& expected) {
    return waitFor([&] { return ask(script) == expected; }, 60);
  }

  static inline std::filesystem::path client;
  static inline std::unique_ptr<RealWindowsApp> app;
  std::shared_ptr<WindowController> window;
};

// The visible top-level windows of `type`, those transient for `parent` when one is given.
inline std::vector<GtkWidget*> toplevels(GType type, GtkWindow* parent = nullptr) {
  std::vector<GtkWidget*> out;
  g_autoptr(GList) all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, type) && gtk_widget_get_visible(GTK_WIDGET(l->data)) &&
        (!parent || gtk_window_get_transient_for(GTK_WINDOW(l->data)) == parent))
      out.push_back(GTK_WIDGET(l->data));
  return out;
}

// The web client page the window suites share, with MacGap.DesktopCommand: a script from the
// resource folder, a misspelt field, a file input (its choice reported in the title), links to a
// loopback HTTPS server (trusted as "localhost", not as 127.0.0.1) and a child page; `xhr(url)`
// reports a request's end, or the certificate report that wins over it, in the title.
class ClientWindow : public WebRig {
 protected:
  static constexpr const char* kLoaded = "loaded mapped function";
  static inline const std::string kAttachment = "/webmail/api/download/attachment/";

  static void SetUpTestSuite() {
    server = std::make_unique<PageServer>(std::getenv("HOME"));
    ASSERT_TRUE(server->ok()) << server->error();
    server->route("/data", {200, "text/plain", "payload"});
    server->route("/auth", {200, "text/plain", "secret", true});
    const auto link = [](const char* id, const std::string& host, const std::string& path) {
      return std::string("<a id='") + id + "' href='" + server->url(host, path) + "'>" + id +
             "</a>";
    };
    UserDefaults::standard().setString(spelling::kLanguagesKey, "en_US");
    startRig({{"public/config.json", R"({"plugins": ["DesktopCommand"]})"},
              {"public/child.html", "<!doctype html><title>child</title><body>child page</body>"},
              {"public/web/webmail/resource/lib/x.js", "window.mapped = 'mapped';"},
              {"public/index.html",
               R"(<!doctype html><html><head><title>start</title>
<script src="/webmail/resource/lib/x.js?v=2#top"></script></head><body>
<textarea id="field" spellcheck="true">helo</textarea><input type="file" id="file" multiple>)" +
                   link("out", "127.0.0.1", "/webmail/help.html") +
                   link("blank", "127.0.0.1", "/webmail/blank.html") +
                   link("attachment", "localhost", kAttachment + "9/report.pdf") +
                   link("missing", "localhost", kAttachment + "10/gone.pdf") +
                   "<a id='target' target='_blank' href='" + server->url("localhost", "/new") +
                   R"('>new</a><script>
var input = document.getElementById('file');
input.addEventListener('change', () => document.title = 'picked ' + input.files.length);
var reported = false;
document.addEventListener('connectionError', e => {
  reported = true;
  document.title = 'error ' + JSON.stringify(e.data);
});
function xhr(url) {
  var r = new XMLHttpRequest();
  reported = false;
  r.onloadend = () => reported || (document.title = 'xhr ' + r.status + ' ' + r.responseText);
  r.open('GET', url);
  r.send();
}
document.title = 'loaded ' + (window.mapped || 'unmapped') + ' ' +
  typeof MacGap.DesktopCommand.openChild;
</script></body></html>)"}});
    registerShellScriptClasses(app->context, [] { return app->delegate.get(); });
    webkit_web_context_allow_tls_certificate_for_host(app->web.context(), server->certificate(),
                                                      "localhost");
  }
  static void TearDownTestSuite() {
    WebRig::TearDownTestSuite();
    server.reset();
    UserDefaults::standard().removeObjectForKey(spelling::kLanguagesKey);
  }
  void TearDown() override {
    WebRig::TearDown();
    CertificateExceptions::shared().clear();
  }
  void click(const std::string& id) { run("document.getElementById('" + id + "').click();"); }

  std::vector<GtkWidget*> dialogs(GType type) const { return toplevels(type, window->gtkWindow()); }
  // Waits for exactly one such dialog on the window.
  GtkWidget* waitForDialog(GType type) const {
    std::vector<GtkWidget*> found;
    if (!waitFor([&] { return !(found = dialogs(type)).empty(); })) return nullptr;
    EXPECT_EQ(found.size(), 1u);
    return found.front();
  }
  bool waitForNoDialog(GType type) const {
    return waitFor([&] { return dialogs(type).empty(); });
  }

  static inline std::unique_ptr<PageServer> server;
};

}  // namespace wd::test
