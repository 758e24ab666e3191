// The real wendrel-desktop under the test session (Xvfb, private D-Bus session bus) on a test
// bundle: single instance hand-over of mailto: links before and after the page reports ready,
// closing and reopening the main window, secondary windows, reloads, inner frames, notification
// clicks, the Sound, Clipboard and Fonts objects, the page API as declared, the bundled page's
// first start, the web process dying, Quit, a start where the web process sandbox cannot run, and
// the native Wayland client under a headless Weston. The page reports what it sees in its title,
// read through the application's test hook (WD_TEST_HOOKS=1).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include "core/Json.h"
#include "keychain/KeychainTestSupport.h"
#include "shell/NotificationDaemon.h"

namespace wd::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kBusName = "com.tovik.WendrelDesktop";
constexpr const char* kHookPath = "/com/tovik/WendrelDesktop/Test";
constexpr const char* kHookInterface = "com.tovik.WendrelDesktop.Test";

// `bundledPage`: the application's own page instead of the test page.
fs::path makeBundle(bool bundledPage = false) {
  const fs::path source(std::getenv("WD_SOURCE_DIR"));
  const fs::path bundle = fs::path(std::getenv("HOME")) / "bundle";
  fs::remove_all(bundle);
  fs::create_directories(bundle);
  fs::copy(source / "resources" / "ui", bundle / "ui", fs::copy_options::recursive);
  fs::copy(bundledPage ? source / "resources" / "public"
                       : source / "tests" / "shell" / "app" / "e2e" / "public",
           bundle / "public", fs::copy_options::recursive);
  return bundle;
}

class RunningApp {
 public:
  // `wrapper`: a command the application runs under (the first launch only).
  explicit RunningApp(std::vector<std::string> args = {}, std::vector<std::string> wrapper = {},
                      bool bundledPage = false) {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    bundle_ = makeBundle(bundledPage);
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
  // Activates an application action as the menu does (org.gtk.Actions), with its target.
  void activateAction(const char* name, GVariant* target = nullptr) {
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE("av"));
    if (target) g_variant_builder_add(&args, "v", target);
    GVariant* r =
        g_dbus_connection_call_sync(bus_, kBusName, "/com/tovik/WendrelDesktop", "org.gtk.Actions",
                                    "Activate", g_variant_new("(sava{sv})", name, &args, nullptr),
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

// Later launches hand their links and files to the running instance: links before the page
// reports ready are held (the last one wins), later ones arrive at once; a batch with bad links
// loses only those, and a burst whose handler calls the bridge arrives whole and in order.
TEST(EndToEnd, LaterLaunchesHandTheirLinksAndFilesToTheRunningInstance) {
  RunningApp app({"mailto:first@example.com"});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  EXPECT_EQ(app.launchAgain({"mailto:second@example.com?subject=Hi%20there"}), 0);
  EXPECT_EQ(app.launchAgain({"MAILTO:ignored@example.com"}), 0);
  EXPECT_EQ((*app.page())["events"], Json::array());
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return !p["events"].empty(); }));
  EXPECT_EQ(eventsNamed(*app.page(), "newEmailRequest"),
            Json::array({{{"url", "second@example.com?subject=Hi%20there"}}}));
  EXPECT_EQ(app.launchAgain({"mailto:third@example.com"}), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["events"].size() == 2; }));
  EXPECT_EQ(eventsNamed(*app.page(), "newEmailRequest")[1], Json({{"url", "third@example.com"}}));
  const std::string a = fs::path(std::getenv("HOME")) / "a file.txt", b = "/tmp/b.pdf";
  EXPECT_EQ(app.launchAgain({a, b}), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["events"].size() == 3; }));
  EXPECT_EQ(eventsNamed(*app.page(), "shareFileRequest"), Json::array({{{"files", {a, b}}}}));
  EXPECT_EQ((*app.state())["windows"], Json(1));

  // A compact report from here on: the page's title is cut past about a thousand characters.
  app.evaluate(
      "state.events = []; render = function () { document.title = JSON.stringify({n: "
      "state.events.length, urls: state.events.map(function (e) { return "
      "e.data.url.replace(/^user|@example[.]com$/g, '') }).join(',')}); }; render();");
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

  // The handler calls native code for every event; the events must neither nest nor be lost.
  app.evaluate(
      "render = function () {}; window.got = []; document.addEventListener('newEmailRequest', "
      "function (e) { MacGap.notifications; got.push(e.data.url); document.title = "
      "JSON.stringify({n: got.length, ordered: got.every(function (u, i) { return u === 'u' + i "
      "+ '@b.c'; })}); });");
  uris.clear();
  for (int i = 0; i < 3000; ++i) uris.push_back("mailto:u" + std::to_string(i) + "@b.c");
  EXPECT_EQ(app.launchAgain(uris), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.value("n", 0) >= 3000; }, 120));
  EXPECT_EQ((*app.page())["ordered"], Json(true));
}

// Closing the main window hides it (the page stays loaded); the launcher's reopen and a click
// on the page's notification bring it back, and the click withdraws the notification.
TEST(EndToEnd, AHiddenMainWindowComesBackOnReopenAndOnANotificationClick) {
  NotificationDaemon daemon;
  ASSERT_TRUE(daemon.ready());
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  const Json loads = (*app.page())["loads"];
  const auto hide = [&] {
    app.call("CloseMainWindow");
    ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == false; }));
    EXPECT_EQ((*app.state())["windows"], Json(1));
  };
  const auto shown = [](const Json& s) { return s["mainVisible"] == true; };
  hide();
  EXPECT_EQ(app.launchAgain({}), 0);
  ASSERT_TRUE(app.waitForState(shown));
  EXPECT_EQ((*app.state())["windows"], Json(1));
  EXPECT_EQ((*app.page())["loads"], loads);  // not reloaded

  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  app.evaluate("MacGap.notify({id: 'n1', title: 'Hello', content: 'World'})");
  ASSERT_TRUE(waitFor([&] { return daemon.notified.size() == 1; }, 60));
  EXPECT_EQ(daemon.notified[0].summary, "Hello");
  EXPECT_EQ(daemon.notified[0].body, "World");
  EXPECT_EQ(daemon.notified[0].actions[0], "default");
  hide();
  daemon.click(daemon.notified[0].id);
  ASSERT_TRUE(app.waitForState(shown));
  ASSERT_TRUE(waitFor([&] { return !daemon.closeCalls.empty(); }, 60));
  EXPECT_EQ(daemon.closeCalls[0], daemon.notified[0].id);
}

// Secondary windows from the page open scriptable and close for good (from the application and
// from their own page); inner frames get no MacGap; a reload keeps the same MacGap objects.
TEST(EndToEnd, SecondaryWindowsInnerFramesAndAReload) {
  RunningApp app;
  ASSERT_TRUE(
      app.waitForPage([](const Json& p) { return pageLoaded(p) && p["inner"].is_string(); }));
  EXPECT_EQ((*app.page())["inner"], Json("undefined"));
  const auto oneChild = [](const Json& s) { return s["children"] == 1; };
  const auto noChild = [](const Json& s) { return s["children"] == 0 && s["windows"] == 1; };
  app.evaluate("window.childWindow = window.open('child.html', '_blank')");
  ASSERT_TRUE(app.waitForState(oneChild));
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["child"].is_string(); }));
  EXPECT_EQ((*app.page())["child"], Json("Child object"));
  app.evaluate("state.childTitle = window.childWindow.document.title; render();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("childTitle"); }));
  EXPECT_EQ((*app.page())["childTitle"], Json("Child object"));
  EXPECT_EQ((*app.state())["windows"], Json(2));
  // The child took the focus; a menu command for the page brings the main window forward.
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainActive"] == false; }));
  app.activateAction("newItem", g_variant_new_string("New Message"));
  EXPECT_TRUE(app.waitForState([](const Json& s) { return s["mainActive"] == true; }));
  app.call("CloseChild", g_variant_new("(i)", 0));
  ASSERT_TRUE(app.waitForState(noChild));
  app.evaluate("window.childWindow = window.open('child.html', '_blank')");
  ASSERT_TRUE(app.waitForState(oneChild));
  app.call("EvaluateScriptInChild", g_variant_new("(is)", 0, "window.close()"));
  ASSERT_TRUE(app.waitForState(noChild));
  EXPECT_EQ((*app.state())["mainVisible"], Json(true));

  app.evaluate("MacGap.notify({id: 'kept', title: 'Kept', sound: false}); refresh();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["records"] == 1; }));
  app.evaluate("location.reload()");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["loads"] == 2 && pageLoaded(p); }));
  // The same App object: the notification record made before the reload is still there.
  EXPECT_EQ((*app.page())["records"], Json(1));
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

// The page's objects answer across the process boundary: Sound, Clipboard, Fonts, File, Task,
// Defaults (the secure value is the session keyring's item, a change comes back as an event),
// Menu (an item reaches the exported menu bar and its action reaches the page) and Window.
TEST(EndToEnd, ThePagesObjectsAnswerAcrossTheProcessBoundary) {
  secretTool({"clear", "service", kService, "account", "MacGap_password"});
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  const std::string path = Json((fs::path(std::getenv("HOME")) / "draft.json").string()).dump();
  app.evaluate(
      "MacGap.Clipboard.copy('from the page');"
      "state.media = {paste: MacGap.Clipboard.paste(),"
      "  height: MacGap.Fonts.getLineHeight('DejaVuSans', 12) > 0,"
      "  unknown: typeof MacGap.Fonts.availableMembersOfFontFamily('No Such Family')};"
      "MacGap.Sound.playSystem('Ping', function (n) { state.media.ended = n; render(); });"
      "MacGap.File.write(" +
      path + ", {subject: 'Hi'}, 'json'); state.read = MacGap.File.read(" + path +
      ", 'json'); MacGap.Task.create('/bin/echo', function (r) { state.task = r; render(); "
      "}); MacGap.Task.arguments = ['from', 'echo']; MacGap.Task.pipeOutput = true; "
      "MacGap.Task.launch();"
      "document.addEventListener('userDefaultsChanged', function (e) {"
      "  state.changed = e.data; render(); });"
      "MacGap.Defaults.setSecure('password', 'from the page \\u00e9');"
      "state.secure = MacGap.Defaults.getSecure('password');"
      "MacGap.Defaults.set('e2e', 42.7, 'int'); render();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) {
    return p.contains("task") && p.contains("changed") && p["media"].contains("ended");
  }));
  auto page = *app.page();
  EXPECT_EQ(page["media"], Json::parse(R"({"paste": "from the page", "height": true,
      "unknown": "undefined", "ended": "Ping"})"));
  EXPECT_EQ(page["read"], Json({{"subject", "Hi"}}));
  EXPECT_EQ(page["task"]["status"], Json(0));
  EXPECT_EQ(page["task"]["stdOut"], Json("from echo\n"));
  EXPECT_EQ(page["secure"], Json("from the page \xC3\xA9"));
  EXPECT_EQ(page["changed"]["MacGap_e2e"], Json(42));
  EXPECT_TRUE(waitFor([] { return lookupOutside("MacGap_password") == "from the page \xC3\xA9"; }));
  secretTool({"clear", "service", kService, "account", "MacGap_password"});

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
    return std::find(p["sizes"].begin(), p["sizes"].end(), Json("720x540")) != p["sizes"].end();
  }));
  // The application's menu bar, as every window shows it (exported on the session bus).
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusMenuModel* menubar =
      g_dbus_menu_model_get(bus, kBusName, "/com/tovik/WendrelDesktop/menus/menubar");
  std::optional<std::pair<std::string, std::string>> ping;
  std::vector<GMenuModel*> seen;
  ASSERT_TRUE(waitFor(
      [&] { return (ping = findMenuItem(G_MENU_MODEL(menubar), "Ping", seen)).has_value(); }));
  EXPECT_EQ(ping->second, "<Primary><Shift>p");
  ASSERT_EQ(ping->first.rfind("app.", 0), 0u);
  app.activateAction(ping->first.c_str() + 4);
  EXPECT_TRUE(app.waitForPage([](const Json& p) { return p["pinged"] == 1; }));
  for (GMenuModel* m : seen) g_object_unref(m);
  g_object_unref(menubar);
  g_object_unref(bus);
}

TEST(EndToEnd, AnotherWebClientFolderGetsTheBridgeAndTheBundledPageIsNotUsed) {
  const fs::path source(std::getenv("WD_SOURCE_DIR"));
  const fs::path client = fs::path(std::getenv("HOME")) / "other-client";
  fs::remove_all(client);
  fs::create_directories(client);
  fs::copy(source / "tests" / "shell" / "app" / "e2e" / "public", client / "public",
           fs::copy_options::recursive);
  RunningApp app({"--web-client", client.string()});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
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
  fs::copy(source / "tests" / "shell" / "app" / "e2e" / "api", client, fs::copy_options::recursive);
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

// The bundled page on a first start: a welcome that says what the application is for and how to
// host another web client, with a button that opens the account set-up; once an account has a
// user name the developer console takes its place.
TEST(EndToEnd, TheBundledPageOffersTheAccountSetUpUntilAnAccountExists) {
  RunningApp app({}, {}, true);
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainTitle"] == "Wendrel Desktop"; }));
  const std::string report = R"(window.report = function () {
      var w = document.getElementById('welcome');
      document.title = JSON.stringify({welcome: !w.hidden, console: document.getElementById('console').open,
        text: w.querySelector('p').textContent.replace(/\s+/g, ' '),
        button: document.getElementById('setup-account').textContent});
    };
    document.addEventListener('userDefaultsChanged', function () { setTimeout(report, 0); });
    // After the page's own start (DOMContentLoaded), which decides what it shows.
    if (document.readyState === 'complete') report();
    else window.addEventListener('load', report);)";
  app.evaluate(report);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("welcome"); }));
  auto first = *app.page();
  EXPECT_EQ(first["welcome"], Json(true));
  EXPECT_EQ(first["console"], Json(false));
  EXPECT_EQ(first["button"], Json("Set Up Mail Account…"));
  EXPECT_NE(first["text"].get<std::string>().find("--web-client"), std::string::npos) << first;

  app.evaluate("document.getElementById('setup-account').click()");
  EXPECT_TRUE(app.waitForState([](const Json& s) { return s["visibleTitles"].size() >= 2; }))
      << *app.state();

  app.evaluate("MacGap.Defaults.set('username', 'ann', 'string')");
  EXPECT_TRUE(app.waitForPage([](const Json& p) { return p["welcome"] == false; }));
  EXPECT_EQ((*app.page())["console"], Json(true));
}

// Quit from the menu and the termination signals end the application cleanly; the signals save
// the window's frame on the way; a kill after the page hid the application finds it saved too:
// as the window hid, and again when the page resized the hidden window.
TEST(EndToEnd, QuitAndTerminationSignalsEndCleanly) {
  const fs::path frame =
      fs::path(std::getenv("XDG_STATE_HOME")) / "wendrel-desktop" / "MacGapWindow.json";
  for (int signal : {0, SIGTERM, SIGINT, SIGKILL}) {
    fs::remove(frame);
    RunningApp app;
    ASSERT_TRUE(app.waitForPage(pageLoaded));
    if (signal == SIGKILL) {
      app.evaluate(
          "window.addEventListener('resize', function () {"
          "  if (innerWidth === 640) MacGap.hide(); });"
          "MacGap.Window.resize(640, 480);");
      ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == false; }));
      auto saved = [&] {
        std::ifstream in(frame);
        const auto json = Json::parse(in, nullptr, false);
        return json.is_object() ? std::make_pair(json.value("width", 0), json.value("height", 0))
                                : std::make_pair(0, 0);
      };
      EXPECT_EQ(saved(), std::make_pair(640, 480));    // saved as it hid
      app.evaluate("MacGap.Window.resize(700, 500)");  // while hidden
      EXPECT_TRUE(waitFor([&] { return saved() == std::make_pair(700, 500); }, 30));
    }
    if (signal)
      g_subprocess_send_signal(app.process(), signal);
    else
      app.quit();
    ASSERT_TRUE(app.waitForExit(30));
    if (signal != SIGKILL) {
      EXPECT_TRUE(g_subprocess_get_if_exited(app.process())) << signal;
      EXPECT_EQ(g_subprocess_get_exit_status(app.process()), 0) << signal;
    }
    if (signal) {
      EXPECT_TRUE(fs::exists(frame)) << signal;
    }
  }
  std::ifstream in(frame);
  const auto saved = Json::parse(in, nullptr, false);
  EXPECT_EQ(saved.value("width", 0), 700) << saved.dump();
  EXPECT_EQ(saved.value("height", 0), 500) << saved.dump();
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

// The engine's page processes below `parent` (sandboxed or not: the sandbox is a child too).
std::vector<pid_t> webProcessesBelow(pid_t parent) {
  std::map<pid_t, pid_t> parentOf;
  std::map<pid_t, std::string> names;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos || text.find('(') == std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    names[pid] = text.substr(text.find('(') + 1, close - text.find('(') - 1);
    std::istringstream rest(text.substr(close + 2));
    std::string state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    parentOf[pid] = ppid;
  }
  std::vector<pid_t> out;
  for (const auto& [pid, name] : names) {
    if (name != "WebKitWebProces") continue;  // the kernel keeps 15 characters
    for (pid_t p = parentOf[pid]; p > 1; p = parentOf[p])
      if (p == parent) {
        out.push_back(pid);
        break;
      }
  }
  return out;
}

// The page's web process killed as the out-of-memory killer would: the main window loads its
// page again with the bridge, its child window (same process) closes, a mail link given while
// the new page starts waits for that page's ready report; the third death within a minute
// leaves the page stopped under an info bar whose Reload button loads it again.
TEST(EndToEnd, TheMainWindowSurvivesItsWebProcess) {
  forgetLog();
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  app.evaluate("window.childWindow = window.open('child.html', '_blank')");
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["children"] == 1; }));
  const pid_t pid = std::stoi(g_subprocess_get_identifier(app.process()));
  // Marks the running page, then kills its process.
  auto killPage = [&](int round) {
    app.evaluate("state.round = " + std::to_string(round) + "; render();");
    ASSERT_TRUE(app.waitForPage([&](const Json& p) { return p.value("round", 0) == round; }));
    const auto pids = webProcessesBelow(pid);
    ASSERT_FALSE(pids.empty());
    for (pid_t p : pids) ::kill(p, SIGKILL);
  };
  // A new page with MacGap: the killed page's mark is gone.
  auto freshPage = [](const Json& p) { return pageLoaded(p) && !p.contains("round"); };
  auto reason = [&] { return (*app.state())["recoveryReason"].get<std::string>(); };

  killPage(1);
  ASSERT_TRUE(app.waitForPage(freshPage));
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["children"] == 0; }));
  killPage(2);
  ASSERT_TRUE(app.waitForPage(freshPage));
  EXPECT_EQ(app.launchAgain({"mailto:held@example.com"}), 0);
  EXPECT_EQ((*app.page())["events"], Json::array());
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return !p["events"].empty(); }));
  EXPECT_EQ(eventsNamed(*app.page(), "newEmailRequest"),
            Json::array({{{"url", "held@example.com"}}}));
  EXPECT_EQ(reason(), "");

  killPage(3);
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["recoveryReason"] != ""; }));
  EXPECT_NE(reason().find("stopped unexpectedly"), std::string::npos) << reason();
  app.call("PressRecoveryReload");
  ASSERT_TRUE(app.waitForPage(freshPage));
  EXPECT_EQ(reason(), "");
  EXPECT_GE(logLinesWith("The web process of the main window crashed or was killed"), 1);
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
  std::istringstream words(
      "/usr/bin/bwrap --unshare-user --disable-userns --die-with-parent --uid 0 --gid 0 "
      "--cap-drop ALL --dev-bind / / --");
  const std::vector<std::string> jail{std::istream_iterator<std::string>(words), {}};
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
