// End to end through real WebKitGTK: the web process loads the extension and talks to the
// bridge host over its socket.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <webkit2/webkit2.h>

#include <cstring>

#include "TestObjects.h"
#include "bridge/BridgeHost.h"
#include "support/Files.h"
#include "support/Loop.h"

namespace wd::bridge::test {
namespace {

using wd::test::waitFor;
using wd::test::writeFile;
// A page load starts a web process: generous under a sanitizer on a loaded machine.
constexpr double kLoad = 90;

// Waits until the page has recorded `entry`.
bool recorded(const Probe& probe, const std::string& entry) {
  return waitFor([&] { return std::ranges::count(probe.log, entry) > 0; }, kLoad);
}

GtkWidget* showInWindow(WebKitWebView* view) {
  GtkWidget* window = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  gtk_widget_show_all(window);
  return window;
}

// One web process for the suite: a second view related to the first shares its process and
// connection. Each page reaches its own objects, receives events (also while blocked in a call,
// and a burst in order), a foreign document gets nothing sent over the shared connection, and a
// view closed from inside its own page's call leaves the other working. (A reload keeping the
// same objects, and native scripts and events reaching an idle page, are the running
// application's cases.)
TEST(WebKitBridge, PagesCallNativeCodeReceiveEventsShareOneConnectionAndAHostGoesAfterDroppingOne) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  const auto dir = wd::test::testDirectory();
  writeFile(dir / "public/index.html", R"(<!doctype html><html><body><script>
    document.addEventListener('pong', function (e) { MacGap.Recorder.record('event ' + e.data.n); });
    MacGap.Recorder.record('call ' + MacGap.Recorder.echo('hello'));
    MacGap.Recorder.trigger('pong');
    MacGap.Recorder.record('after trigger');
    window.addEventListener('load', () => {
      MacGap.Recorder.record('inner ' + typeof document.getElementById('inner').contentWindow.MacGap);
      MacGap.Recorder.record('loaded');
    });
  </script><iframe id="inner" src="inner.html"></iframe></body></html>)");
  writeFile(dir / "public/inner.html", "<!doctype html><p>inner</p>");
  writeFile(dir / "outside.html",
            "<!doctype html><script>document.title = 'outside ' + typeof MacGap;</script>");
  // The application's own page is the test folder's public/.
  const std::string pub = "file://" + (dir / "public/").string(), index = pub + "index.html";
  const std::string outside = "file://" + (dir / "outside.html").string();

  WebKitWebContext* context = webkit_web_context_new();
  BridgeHost::shared().setDocumentPolicy(
      [pub](const std::string& url) { return url.starts_with(pub); });
  BridgeHost::shared().attach(context);
  auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
  GtkWidget* window = showInWindow(view);
  auto* secondView = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(view));
  GtkWidget* secondWindow = showInWindow(secondView);

  auto root = std::make_shared<Root>();
  auto recorder = std::make_shared<Probe>(), secondRecorder = std::make_shared<Probe>();
  std::vector<std::string> installs;
  std::vector<bool> loads;  // each frame's load: in the main frame or not
  auto page = BridgeHost::shared().attachWebView(
      view,
      [&](const std::string& url) {
        installs.push_back(url);
        return std::optional<InstallSet>(InstallSet{root, {{"Recorder", recorder}}});
      },
      [&](bool mainFrame, const std::string&) { loads.push_back(mainFrame); });
  auto secondPage = BridgeHost::shared().attachWebView(secondView, [&](const std::string&) {
    return std::optional<InstallSet>(InstallSet{root, {{"Recorder", secondRecorder}}});
  });
  webkit_web_view_load_uri(view, index.c_str());
  webkit_web_view_load_uri(secondView, index.c_str());
  ASSERT_TRUE(recorded(*recorder, "loaded") && recorded(*secondRecorder, "loaded"))
      << ::testing::PrintToString(recorder->log);
  const std::vector<std::string> expected{"call hello", "event 1", "after trigger",
                                          "inner undefined", "loaded"};
  EXPECT_EQ(recorder->log, expected);
  EXPECT_EQ(secondRecorder->log, expected);
  EXPECT_EQ(BridgeHost::shared().connectionCount(), 1u);
  EXPECT_EQ(installs, std::vector<std::string>{index});
  // Every frame's load is reported, the inner frame's too.
  EXPECT_TRUE(waitFor(
      [&] { return std::ranges::count(loads, true) && std::ranges::count(loads, false); }, kLoad));

  // A burst of events, all queued before the page's first call from their listener is answered:
  // the page meets the later events while it waits inside the earlier listeners, in order.
  recorder->log.clear();
  page->evaluateScript(
      "document.addEventListener('burst', e => MacGap.Recorder.record('' + e.data.n));");
  std::vector<std::string> burst;
  for (int n = 1; n <= 3000; ++n) {
    Event::triggerEvent("burst", Json{{"n", n}}, page.get());
    burst.push_back(std::to_string(n));
  }
  ASSERT_TRUE(recorded(*recorder, "3000")) << recorder->log.size() << " events arrived";
  EXPECT_TRUE(recorder->log == burst);

  // A document outside the application's public folder gets nothing: no install, and scripts
  // and events for it are not sent; the second page serves as the marker that everything sent
  // before it over the shared connection has been handled.
  webkit_web_view_load_uri(view, outside.c_str());
  ASSERT_TRUE(waitFor(
      [&] { return g_strcmp0(webkit_web_view_get_title(view), "outside undefined") == 0; }, kLoad));
  EXPECT_EQ(installs.size(), 1u);
  page->evaluateScript("document.title = 'scripted'");
  Event::triggerEvent("userDefaultsChanged", Json{{"secret", 1}}, page.get());
  secondPage->evaluateScript("MacGap.Recorder.record('marker')");
  ASSERT_TRUE(recorded(*secondRecorder, "marker"));
  // The title as the web process has it, read by the engine's own script call.
  webkit_web_view_evaluate_javascript(view, "document.title = 'read ' + document.title", -1,
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(waitFor([&] { return g_str_has_prefix(webkit_web_view_get_title(view), "read "); }));
  EXPECT_STREQ(webkit_web_view_get_title(view), "read outside undefined");

  // The second view is closed from inside a call its own page makes; the first carries on.
  secondRecorder->hook = [&] {
    BridgeHost::shared().detachWebView(secondView);
    gtk_widget_destroy(secondWindow);
    secondWindow = nullptr;
  };
  secondPage->evaluateScript("MacGap.Recorder.runHook()");
  secondPage.reset();
  ASSERT_TRUE(waitFor([&] { return secondWindow == nullptr; }, kLoad));
  recorder->log.clear();
  webkit_web_view_load_uri(view, index.c_str());
  ASSERT_TRUE(recorded(*recorder, "loaded"));
  page->evaluateScript("MacGap.Recorder.record('still here')");
  ASSERT_TRUE(recorded(*recorder, "still here"));
  BridgeHost::shared().detachWebView(view);
  gtk_widget_destroy(window);
  g_object_unref(context);

  // A host of its own drops a connection that greets it wrongly, then goes before the main loop
  // runs again: nothing it scheduled runs afterwards.
  context = webkit_web_context_new();
  auto host = std::make_unique<BridgeHost>();
  host->attach(context);
  const std::string path = host->socketPath();
  ASSERT_FALSE(path.empty());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{.sun_family = AF_UNIX};
  std::memcpy(addr.sun_path, path.data(), path.size());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const char hello[] = {5, 0, 0, 0, 1, 0, 0, 0, 0};
  ASSERT_EQ(::send(fd, hello, sizeof hello, 0), static_cast<ssize_t>(sizeof hello));
  char byte;
  ASSERT_TRUE(waitFor([&] { return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0; }, 30));
  EXPECT_EQ(host->connectionCount(), 0u);
  host.reset();
  wd::test::drainLoop();
  ::close(fd);
  g_object_unref(context);
}

}  // namespace
}  // namespace wd::bridge::test
