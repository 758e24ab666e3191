// The real wendrel-desktop under the test session (Xvfb, private D-Bus session bus) on a test
// bundle: single instance hand-over of mailto: links before and after the page reports ready,
// closing and reopening the main window, secondary windows, reloads, inner frames, notification
// clicks, the Sound, Clipboard and Fonts objects, the page API as declared, Quit, a start where
// the web process sandbox cannot run, and the native Wayland client under a headless Weston. The
// page reports what it sees in its title, read through the application's test hook
// (WD_TEST_HOOKS=1).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/Json.h"
#include "shell/KeychainTestSupport.h"
#include "shell/NotificationDaemon.h"

namespace wd::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kBusName = "com.tovik.WendrelDesktop";
constexpr const char* kHookPath = "/com/tovik/WendrelDesktop/Test";
constexpr const char* kHookInterface = "com.tovik.WendrelDesktop.Test";

fs::path makeBundle() {
  const fs::path source(std::getenv("WD_SOURCE_DIR"));
  const fs::path bundle = fs::path(std::getenv("HOME")) / "bundle";
  fs::remove_all(bundle);
  fs::create_directories(bundle);
  fs::copy(source / "resources" / "ui", bundle / "ui", fs::copy_options::recursive);
  fs::copy(source / "tests" / "shell" / "e2e" / "public", bundle / "public",
           fs::copy_options::recursive);
  return bundle;
}

class RunningApp {
 public:
  // `wrapper`: a command the application runs under (the first launch only).
  explicit RunningApp(std::vector<std::string> args = {}, std::vector<std::string> wrapper = {}) {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    bundle_ = makeBundle();
    process_ = spawn(args, wrapper);
  }
  ~RunningApp() {
    if (process_) {
      quit();
      if (!waitForExit(20)) g_subprocess_force_exit(process_);
      waitForExit(10);
      g_object_unref(process_);
    }
    if (bus_) g_object_unref(bus_);
  }

  GSubprocess* spawn(const std::vector<std::string>& args,
                     const std::vector<std::string>& wrapper = {}) {
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    g_subprocess_launcher_setenv(launcher, "WENDREL_RESOURCE_DIR", bundle_.c_str(), TRUE);
    g_subprocess_launcher_setenv(launcher, "WD_TEST_HOOKS", "1", TRUE);
    g_subprocess_launcher_setenv(launcher, "WENDREL_AUDIO_SINK", "fakesink sync=false", TRUE);
    std::vector<const char*> argv;
    for (auto& w : wrapper) argv.push_back(w.c_str());
    argv.push_back(WD_APP_EXE);
    for (auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocess* p = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    g_object_unref(launcher);
    if (!p) ADD_FAILURE() << error->message;
    g_clear_error(&error);
    return p;
  }

  // A second launch: hands its arguments to this instance and ends; its exit status.
  int launchAgain(const std::vector<std::string>& args) {
    GSubprocess* p = spawn(args);
    if (!p) return -1;
    GError* error = nullptr;
    g_subprocess_wait(p, nullptr, &error);  // a short-lived process; the page is not waited on
    g_clear_error(&error);
    int status = g_subprocess_get_if_exited(p) ? g_subprocess_get_exit_status(p) : -1;
    g_object_unref(p);
    return status;
  }

  std::optional<Json> state() {
    if (!bus_) return std::nullopt;
    GVariant* reply = g_dbus_connection_call_sync(bus_, kBusName, kHookPath, kHookInterface,
                                                  "State", nullptr, G_VARIANT_TYPE("(a{sv})"),
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply) return std::nullopt;
    Json out = Json::object();
    GVariantIter* iter = nullptr;
    g_variant_get(reply, "(a{sv})", &iter);
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(iter, "{&sv}", &key, &value)) {
      if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
        out[key] = static_cast<bool>(g_variant_get_boolean(value));
      else if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32))
        out[key] = g_variant_get_int32(value);
      else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        out[key] = g_variant_get_string(value, nullptr);
      else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        Json list = Json::array();
        gsize n = 0;
        const gchar** strv = g_variant_get_strv(value, &n);
        for (gsize i = 0; i < n; ++i) list.push_back(strv[i]);
        g_free(strv);
        out[key] = list;
      }
      g_variant_unref(value);
    }
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    return out;
  }

  // What the main page reports (its title as JSON), none before it has rendered.
  std::optional<Json> page() {
    auto s = state();
    if (!s) return std::nullopt;
    auto parsed = JSONObject((*s)["mainTitle"].get<std::string>());
    return parsed;
  }

  template <class F>
  bool waitForPage(F condition, double seconds = 60) {
    return waitFor(
        [&] {
          auto p = page();
          if (p && condition(*p)) return true;
          g_usleep(20000);
          return false;
        },
        seconds);
  }
  template <class F>
  bool waitForState(F condition, double seconds = 60) {
    return waitFor(
        [&] {
          auto s = state();
          if (s && condition(*s)) return true;
          g_usleep(20000);
          return false;
        },
        seconds);
  }

  void call(const char* method, GVariant* params = nullptr) {
    GVariant* r =
        g_dbus_connection_call_sync(bus_, kBusName, kHookPath, kHookInterface, method, params,
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (r) g_variant_unref(r);
  }
  void evaluate(const std::string& script) {
    call("EvaluateScript", g_variant_new("(s)", script.c_str()));
  }
  // Activates an application action as the menu does (org.gtk.Actions).
  void activateAction(const char* name) {
    GVariant* r =
        g_dbus_connection_call_sync(bus_, kBusName, "/com/tovik/WendrelDesktop", "org.gtk.Actions",
                                    "Activate", g_variant_new("(sava{sv})", name, nullptr, nullptr),
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (r) g_variant_unref(r);
  }
  void quit() { activateAction("quit"); }
  bool waitForExit(double seconds) {
    return waitFor([this] { return g_subprocess_get_identifier(process_) == nullptr; }, seconds);
  }
  GSubprocess* process() { return process_; }

 private:
  GDBusConnection* bus_ = nullptr;
  fs::path bundle_;
  GSubprocess* process_ = nullptr;
};

bool pageLoaded(const Json& p) {
  return p.value("macgap", "") == "object" && p.value("loadComplete", 0) >= 1;
}

Json eventsNamed(const Json& p, const std::string& name) {
  Json out = Json::array();
  for (const auto& e : p["events"])
    if (e["name"] == name) out.push_back(e["data"]);
  return out;
}

TEST(EndToEnd, MailtoLinksFromLaunchesBeforeAndAfterTheReadySignal) {
  RunningApp app({"mailto:first@example.com"});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  // Before the page reports ready: held, the later link replaces the earlier one.
  EXPECT_EQ(app.launchAgain({"mailto:second@example.com?subject=Hi%20there"}), 0);
  EXPECT_EQ(app.launchAgain({"MAILTO:ignored@example.com"}), 0);
  auto before = app.page();
  ASSERT_TRUE(before);
  EXPECT_EQ((*before)["events"], Json::array());

  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return !p["events"].empty(); }));
  auto ready = app.page();
  EXPECT_EQ(eventsNamed(*ready, "newEmailRequest"),
            Json::array({{{"url", "second@example.com?subject=Hi%20there"}}}));

  // After ready: at once.
  EXPECT_EQ(app.launchAgain({"mailto:third@example.com"}), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["events"].size() == 2; }));
  EXPECT_EQ(eventsNamed(*app.page(), "newEmailRequest")[1], Json({{"url", "third@example.com"}}));
  // Only one main window exists through all of this.
  EXPECT_EQ((*app.state())["windows"], Json(1));
}

TEST(EndToEnd, FilesFromASecondLaunchBecomeOneShareRequest) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  const fs::path a = fs::path(std::getenv("HOME")) / "a file.txt";
  const fs::path b = fs::path(std::getenv("HOME")) / "b.pdf";
  EXPECT_EQ(app.launchAgain({a.string(), b.string()}), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return !p["events"].empty(); }));
  EXPECT_EQ(eventsNamed(*app.page(), "shareFileRequest"),
            Json::array({{{"files", {a.string(), b.string()}}}}));
}

TEST(EndToEnd, ClosingTheMainWindowHidesItAndReopeningShowsTheSamePage) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  auto first = app.page();
  app.call("CloseMainWindow");
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == false; }));
  // Still running, the window kept (hidden), the page still there.
  auto hidden = app.state();
  ASSERT_TRUE(hidden);
  EXPECT_EQ((*hidden)["windows"], Json(1));
  EXPECT_EQ(app.launchAgain({}), 0);  // the launcher's "reopen"
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == true; }));
  auto shown = app.state();
  EXPECT_EQ((*shown)["windows"], Json(1));
  EXPECT_EQ((*app.page())["loads"], (*first)["loads"]);  // not reloaded
}

TEST(EndToEnd, SecondaryWindowsFromThePageOpenScriptableAndCloseForGood) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate("window.childWindow = window.open('child.html', '_blank')");
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["children"] == 1; }));
  // The child loaded and reached its opener, which holds a usable window object.
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["child"].is_string(); }));
  EXPECT_EQ((*app.page())["child"], Json("Child object"));
  app.evaluate("state.childTitle = window.childWindow.document.title; render();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("childTitle"); }));
  EXPECT_EQ((*app.page())["childTitle"], Json("Child object"));
  EXPECT_EQ((*app.state())["windows"], Json(2));

  app.call("CloseChild", g_variant_new("(i)", 0));
  ASSERT_TRUE(
      app.waitForState([](const Json& s) { return s["children"] == 0 && s["windows"] == 1; }));

  // window.close() in the child's own page closes it too.
  app.evaluate("window.childWindow = window.open('child.html', '_blank')");
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["children"] == 1; }));
  app.call("EvaluateScriptInChild", g_variant_new("(is)", 0, "window.close()"));
  ASSERT_TRUE(
      app.waitForState([](const Json& s) { return s["children"] == 0 && s["windows"] == 1; }));
  EXPECT_EQ((*app.state())["mainVisible"], Json(true));
}

TEST(EndToEnd, AReloadKeepsTheMacGapObjectsAndInnerFramesGetNone) {
  RunningApp app;
  ASSERT_TRUE(
      app.waitForPage([](const Json& p) { return pageLoaded(p) && p["inner"].is_string(); }));
  EXPECT_EQ((*app.page())["inner"], Json("undefined"));
  app.evaluate("MacGap.notify({id: 'kept', title: 'Kept', sound: false}); refresh();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["records"] == 1; }));
  app.evaluate("location.reload()");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["loads"] == 2 && pageLoaded(p); }));
  // The same App object: the notification record made before the reload is still there.
  EXPECT_EQ((*app.page())["records"], Json(1));
  EXPECT_EQ((*app.page())["macgap"], Json("object"));
}

TEST(EndToEnd, SoundClipboardAndFontsAnswerThePageAcrossTheProcessBoundary) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate(
      "MacGap.Clipboard.copy('from the page');"
      "state.media = {paste: MacGap.Clipboard.paste(),"
      "  height: MacGap.Fonts.getLineHeight('DejaVuSans', 12) > 0,"
      "  unknown: typeof MacGap.Fonts.availableMembersOfFontFamily('No Such Family')};"
      "MacGap.Sound.playSystem('Ping', function (n) { state.media.ended = n; render(); });");
  ASSERT_TRUE(app.waitForPage(
      [](const Json& p) { return p.contains("media") && p["media"].contains("ended"); }));
  EXPECT_EQ((*app.page())["media"], Json::parse(R"({"paste": "from the page", "height": true,
      "unknown": "undefined", "ended": "Ping"})"));
}

TEST(EndToEnd, ClickingANotificationBringsTheMainWindowBackAndWithdrawsIt) {
  NotificationDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  app.evaluate("MacGap.notify({id: 'n1', title: 'Hello', content: 'World'})");
  ASSERT_TRUE(waitFor([&] { return daemon.notified.size() == 1; }, 60));
  EXPECT_EQ(daemon.notified[0].summary, "Hello");
  EXPECT_EQ(daemon.notified[0].body, "World");
  EXPECT_EQ(daemon.notified[0].actions[0], "default");

  app.call("CloseMainWindow");
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == false; }));
  daemon.click(daemon.notified[0].id);
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == true; }));
  ASSERT_TRUE(waitFor([&] { return !daemon.closeCalls.empty(); }, 60));
  EXPECT_EQ(daemon.closeCalls[0], daemon.notified[0].id);
}

TEST(EndToEnd, AnotherWebClientFolderGetsTheBridgeAndTheBundledPageIsNotUsed) {
  // A web client folder outside the bundle: its page is the one shown, and it gets MacGap.
  const fs::path source(std::getenv("WD_SOURCE_DIR"));
  const fs::path client = fs::path(std::getenv("HOME")) / "other-client";
  fs::remove_all(client);
  fs::create_directories(client);
  fs::copy(source / "tests" / "shell" / "e2e" / "public", client / "public",
           fs::copy_options::recursive);
  RunningApp app({"--web-client", client.string()});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  EXPECT_EQ((*app.page())["macgap"], Json("object"));
  app.evaluate("state.href = location.href; render();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("href"); }));
  EXPECT_EQ((*app.page())["href"].get<std::string>().rfind("file://" + client.string(), 0), 0u);
}

TEST(EndToEnd, ThePageWrittenAgainstTheDeclarationsFindsEveryMemberAndNothingUndeclared) {
  // The page type-checked against the generated macgap.d.ts (test page_api_types), with the
  // plugins the bundled configuration ships: each declared member is installed with its
  // declared kind, and MacGap, its objects, the Menu class and a menu item have nothing more.
  const fs::path source(std::getenv("WD_SOURCE_DIR"));
  const fs::path client = fs::path(std::getenv("HOME")) / "api-client";
  fs::remove_all(client);
  fs::create_directories(client);
  fs::copy(source / "tests" / "shell" / "e2e" / "api", client, fs::copy_options::recursive);
  std::ifstream bundled(source / "resources" / "public" / "config.json");
  const auto shipped = JSONObject(std::string(std::istreambuf_iterator<char>(bundled), {}));
  ASSERT_TRUE(shipped && (*shipped)["plugins"].size() >= 12);
  std::ofstream(client / "public" / "config.json") << Json{{"plugins", (*shipped)["plugins"]}};
  RunningApp app({"--web-client", client.string()});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  const Json page = *app.page();
  EXPECT_EQ(page["problems"], Json::array()) << page.dump(1);
  EXPECT_GT(page.value("checked", 0), 100);
}

TEST(EndToEnd, OneBadURIInABatchIsDroppedAndTheOthersArriveInOrder) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  // A compact report: the page's title is cut past about a thousand characters.
  app.evaluate(
      "render = function () { document.title = JSON.stringify({n: state.events.length, urls: "
      "state.events.map(function (e) { return e.data.url.replace(/^user|@example[.]com$/g, '') "
      "}).join(',')}); }; MacGap.DesktopCommand.publishAppReady(); render();");
  std::vector<std::string> uris;
  std::string want;
  for (int i = 0; i < 100; ++i) {
    uris.push_back("mailto:user" + std::to_string(i) + "@example.com");
    if (i != 10 && i != 20) want += (want.empty() ? "" : ",") + std::to_string(i);
  }
  uris[10] = "mailto:a%00b@example.com";
  uris[20] = "mailto:\"<x>\"@example.com";
  EXPECT_EQ(app.launchAgain(uris), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.value("n", 0) >= 98; }));
  EXPECT_EQ((*app.page())["urls"], Json(want));
}

TEST(EndToEnd, ABurstOfLinksWhoseHandlerCallsTheBridgeArrivesWholeAndInOrder) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  // The handler calls native code for every event; the events must neither nest nor be lost.
  app.evaluate(
      "window.got = []; document.addEventListener('newEmailRequest', function (e) {"
      "  MacGap.notifications; got.push(e.data.url); document.title = JSON.stringify({n: "
      "  got.length, ordered: got.every(function (u, i) { return u === 'u' + i + '@b.c'; })});"
      "}); MacGap.DesktopCommand.publishAppReady();");
  std::vector<std::string> uris;
  for (int i = 0; i < 3000; ++i) uris.push_back("mailto:u" + std::to_string(i) + "@b.c");
  EXPECT_EQ(app.launchAgain(uris), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.value("n", 0) >= 3000; }, 120));
  EXPECT_EQ((*app.page())["ordered"], Json(true));
}

TEST(EndToEnd, ThePageWritesAndReadsFilesAndRunsAProgram) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  const std::string path = (fs::path(std::getenv("HOME")) / "draft.json").string();
  app.evaluate(
      "MacGap.File.write(" + Json(path).dump() +
      ", {subject: 'Hi'}, 'json'); state.read = MacGap.File.read(" + Json(path).dump() +
      ", 'json'); MacGap.Task.create('/bin/echo', function (r) { state.task = r; render(); "
      "}); MacGap.Task.arguments = ['from', 'echo']; MacGap.Task.pipeOutput = true; "
      "MacGap.Task.launch(); render();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("task"); }));
  auto page = *app.page();
  EXPECT_EQ(page["read"], Json({{"subject", "Hi"}}));
  EXPECT_EQ(page["task"]["status"], Json(0));
  EXPECT_EQ(page["task"]["stdOut"], Json("from echo\n"));
}

TEST(EndToEnd, TerminationSignalsQuitCleanlyAndSaveTheWindowFrame) {
  const fs::path frame =
      fs::path(std::getenv("XDG_STATE_HOME")) / "wendrel-desktop" / "MacGapWindow.json";
  for (int signal : {SIGTERM, SIGINT}) {
    fs::remove(frame);
    RunningApp app;
    ASSERT_TRUE(app.waitForPage(pageLoaded));
    g_subprocess_send_signal(app.process(), signal);
    ASSERT_TRUE(app.waitForExit(30));
    EXPECT_TRUE(g_subprocess_get_if_exited(app.process())) << signal;
    EXPECT_EQ(g_subprocess_get_exit_status(app.process()), 0) << signal;
    EXPECT_TRUE(fs::exists(frame)) << signal;
  }
}

// The item of `model` labelled `label` (depth first through sections and submenus): its action
// and accelerator. A remote menu model is filled only while someone listens to it: every model
// visited is kept (in `seen`) with a listener, and its items arrive on the loop.
std::optional<std::pair<std::string, std::string>> findMenuItem(GMenuModel* model,
                                                                const std::string& label,
                                                                std::vector<GMenuModel*>& seen) {
  if (std::find(seen.begin(), seen.end(), model) == seen.end()) {
    seen.push_back(G_MENU_MODEL(g_object_ref(model)));
    g_signal_connect(model, "items-changed", G_CALLBACK(+[] {}), nullptr);
  }
  const int n = g_menu_model_get_n_items(model);
  for (int i = 0; i < n; ++i) {
    g_autofree gchar* itemLabel = nullptr;
    g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &itemLabel);
    if (itemLabel && label == itemLabel) {
      g_autofree gchar* action = nullptr;
      g_autofree gchar* accel = nullptr;
      g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
      g_menu_model_get_item_attribute(model, i, "accel", "s", &accel);
      return std::make_pair(std::string(action ? action : ""), std::string(accel ? accel : ""));
    }
    for (const char* link : {G_MENU_LINK_SUBMENU, G_MENU_LINK_SECTION}) {
      if (GMenuModel* sub = g_menu_model_get_item_link(model, i, link)) {
        auto found = findMenuItem(sub, label, seen);
        g_object_unref(sub);
        if (found) return found;
      }
    }
  }
  return std::nullopt;
}

TEST(EndToEnd, MenusAndTheWindowFromThePageReachTheMenuBarAndTheWindow) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate(R"(state.pinged = 0; state.sizes = [];
    window.addEventListener('resize', function (e) {
      if (e.data) { state.sizes.push(e.data.width + 'x' + e.data.height); render(); } });
    var tools = MacGap.Menu.addItem({label: 'Tools'});
    tools.submenu.addItem({label: 'Ping', keys: 'cmd+shift+p'},
                          function () { state.pinged++; render(); });
    state.file = MacGap.Menu.getItem('File') !== undefined;
    state.key = MacGap.Menu.constructor.getKeyFromString('cmd+,');
    MacGap.Window.resize(720, 540); render();)");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("key"); }));
  EXPECT_EQ((*app.page())["file"], Json(true));
  EXPECT_EQ((*app.page())["key"], Json(","));
  EXPECT_TRUE(app.waitForPage([](const Json& p) {
    for (const auto& s : p["sizes"])
      if (s == "720x540") return true;
    return false;
  }));

  // The application's menu bar, as every window shows it (exported on the session bus).
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusMenuModel* menubar =
      g_dbus_menu_model_get(bus, kBusName, "/com/tovik/WendrelDesktop/menus/menubar");
  std::optional<std::pair<std::string, std::string>> ping;
  std::vector<GMenuModel*> seen;
  ASSERT_TRUE(waitFor(
      [&] {
        ping = findMenuItem(G_MENU_MODEL(menubar), "Ping", seen);
        return ping.has_value();
      },
      30));
  EXPECT_EQ(ping->second, "<Primary><Shift>p");
  ASSERT_EQ(ping->first.rfind("app.", 0), 0u);
  app.activateAction(ping->first.c_str() + 4);
  EXPECT_TRUE(app.waitForPage([](const Json& p) { return p["pinged"] == 1; }));
  for (GMenuModel* m : seen) g_object_unref(m);
  g_object_unref(menubar);
  g_object_unref(bus);
}

TEST(EndToEnd, QuitFromTheMenuEndsTheApplication) {
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.activateAction("quit");
  ASSERT_TRUE(app.waitForExit(30));
  EXPECT_TRUE(g_subprocess_get_if_exited(app.process()));
  EXPECT_EQ(g_subprocess_get_exit_status(app.process()), 0);
}

TEST(EndToEnd, ThePagesSecureValueIsTheSessionKeyringsItemAndSettingsChangesComeBack) {
  secretTool({"clear", "service", kService, "account", "MacGap_password"});
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate(
      "document.addEventListener('userDefaultsChanged', function (e) {"
      "  state.changed = e.data; render(); });"
      "MacGap.Defaults.setSecure('password', 'from the page \\u00e9');"
      "state.secure = MacGap.Defaults.getSecure('password');"
      "MacGap.Defaults.set('e2e', 42.7, 'int');");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("changed"); }));
  EXPECT_EQ((*app.page())["secure"], Json("from the page \xC3\xA9"));
  EXPECT_EQ((*app.page())["changed"]["MacGap_e2e"], Json(42));
  EXPECT_TRUE(waitFor([] { return lookupOutside("MacGap_password") == "from the page \xC3\xA9"; }));
  secretTool({"clear", "service", kService, "account", "MacGap_password"});
}

fs::path logFile() {
  return fs::path(std::getenv("XDG_STATE_HOME")) / "wendrel-desktop/logs/wendrel-desktop.log";
}
void forgetLog() {
  std::error_code ec;
  fs::remove(logFile(), ec);
}
int logLinesWith(const std::string& text) {
  std::ifstream in(logFile());
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) ++count;
  return count;
}

// Sets environment variables (inherited by the application) until it goes.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::vector<std::pair<std::string, std::string>> values) {
    for (auto& [name, value] : values) {
      const char* old = g_getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      g_setenv(name.c_str(), value.c_str(), TRUE);
    }
  }
  ~ScopedEnvironment() {
    for (auto& [name, value] : saved_) {
      if (value)
        g_setenv(name.c_str(), value->c_str(), TRUE);
      else
        g_unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Where the kernel refuses the web process sandbox's namespaces (here: a user namespace that may
// make no other, without capabilities, as in many containers and CI machines), the application
// starts its page without the sandbox and says so once in its log, instead of a web process
// that cannot start.
TEST(EndToEnd, WithoutNamespacesThePageStartsUnsandboxedAndTheLogSaysSo) {
  const std::vector<std::string> jail{"/usr/bin/bwrap",
                                      "--unshare-user",
                                      "--disable-userns",
                                      "--die-with-parent",
                                      "--uid",
                                      "0",
                                      "--gid",
                                      "0",
                                      "--cap-drop",
                                      "ALL",
                                      "--dev-bind",
                                      "/",
                                      "/",
                                      "--"};
  auto runs = [](std::vector<std::string> argv) {
    gint status = -1;
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    return g_spawn_sync(
               nullptr, args.data(), nullptr,
               static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
               nullptr, nullptr, nullptr, nullptr, &status, nullptr) &&
           g_spawn_check_wait_status(status, nullptr);
  };
  auto inJail = [&](std::vector<std::string> command) {
    command.insert(command.begin(), jail.begin(), jail.end());
    return command;
  };
  if (!runs(inJail({"true"})))
    GTEST_SKIP() << "bubblewrap cannot make a user namespace here to refuse namespaces in";
  if (runs(inJail({"/usr/bin/bwrap", "--unshare-all", "--ro-bind", "/", "/", "true"})))
    GTEST_SKIP() << "namespaces are still allowed inside the refusing user namespace";

  forgetLog();
  {
    RunningApp app({}, jail);
    ASSERT_TRUE(app.waitForPage(pageLoaded));
  }
  EXPECT_EQ(logLinesWith("The web content sandbox cannot start on this system"), 1);
}

// The native Wayland client (chosen with GDK_BACKEND) under a headless Weston: the window shows
// its page, the bridge and page events work, and what Wayland lacks is said once.
TEST(EndToEnd, NativeWaylandShowsThePageAndReportsItsLimitsOnce) {
  if (!g_file_test("/usr/bin/weston", G_FILE_TEST_IS_EXECUTABLE))
    GTEST_SKIP() << "Weston (package weston) is not installed: see docs/architecture.md, Wayland";
  const fs::path runtime = fs::path(std::getenv("HOME")) / "runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  const std::string socket = "wd-test-" + std::to_string(getpid());
  ScopedEnvironment environment({{"XDG_RUNTIME_DIR", runtime.string()},
                                 {"WAYLAND_DISPLAY", socket},
                                 {"GDK_BACKEND", "wayland"}});
  GError* error = nullptr;
  GSubprocess* weston =
      g_subprocess_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_SILENCE |
                                                     G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                       &error, "/usr/bin/weston", "--backend=headless-backend.so",
                       ("--socket=" + socket).c_str(), "--idle-time=0", nullptr);
  ASSERT_TRUE(weston) << error->message;
  const bool up = waitFor([&] {
    g_usleep(20000);
    return fs::exists(runtime / socket) || !g_subprocess_get_identifier(weston);
  });
  if (!up || !g_subprocess_get_identifier(weston)) {
    g_object_unref(weston);
    GTEST_SKIP() << "Weston's headless back end cannot run here";
  }
  forgetLog();
  {
    RunningApp app;
    EXPECT_TRUE(app.waitForPage(pageLoaded));
  }
  g_subprocess_send_signal(weston, SIGTERM);
  g_subprocess_wait(weston, nullptr, nullptr);
  g_object_unref(weston);
  EXPECT_EQ(logLinesWith("Not running under X11 (GdkWaylandDisplay)"), 1);
}

}  // namespace
}  // namespace wd::test
