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

#include "shell/RealWindows.h"
#include "shell/window/WebClient.h"
#include "support/Files.h"
#include "support/Loop.h"

namespace wd::test {

class WebRig : public ::testing::Test {
 protected:
  // Starts the application over a web client folder holding `files` (by path inside it).
  static void startRig(const std::map<std::string, std::string>& files) {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    const auto* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    client = std::filesystem::path(std::getenv("HOME")) / (std::string("client-") + suite->name());
    std::filesystem::remove_all(client);
    for (const auto& [path, text] : files) writeFile(client / path, text);
    webclient::setDirectory(client);
    // WebKit starts before the doubles' headless JavaScriptCore pages: when JavaScriptCore is
    // first set up by the harness, the engine's messages are never dispatched in this process.
    g_object_unref(g_object_ref_sink(webkit_web_view_new()));
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

  // Opens `window` on `url` (the client's page by default) until its title begins with `title`.
  void open(const std::string& title, std::string url = {}) {
    if (url.empty()) url = webclient::fileURL("public/index.html");
    window = WindowController::initWithRequest(app->env, url);
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

  static inline std::filesystem::path client;
  static inline std::unique_ptr<RealWindowsApp> app;
  std::shared_ptr<WindowController> window;
};

// The visible top-level windows of `type`, those transient for `parent` when one is given.
inline std::vector<GtkWidget*> toplevels(GType type, GtkWindow* parent = nullptr) {
  std::vector<GtkWidget*> out;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, type) && gtk_widget_get_visible(GTK_WIDGET(l->data)) &&
        (!parent || gtk_window_get_transient_for(GTK_WINDOW(l->data)) == parent))
      out.push_back(GTK_WIDGET(l->data));
  g_list_free(all);
  return out;
}

}  // namespace wd::test
