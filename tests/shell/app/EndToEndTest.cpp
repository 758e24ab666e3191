// The real wendrel-desktop under the test session on a test bundle: what only the running
// application does. The page reports in its title, read through the test hook (WD_TEST_HOOKS=1).
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>

#include "core/GLibPtr.h"
#include "core/Json.h"
#include "shell/NotificationDaemon.h"
#include "support/Files.h"
#include "support/Process.h"

namespace wd::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kBusName = "com.tovik.WendrelDesktop";
// `name` below the directory in the environment variable `variable`.
fs::path in(const std::string& name, const char* variable = "HOME") {
  return fs::path(std::getenv(variable)) / name;
}
// A fresh copy of `from` at `to`.
void copyTree(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive);
}
struct Launch {
  std::vector<std::string> args, wrapper;  // the wrapper: a command it runs under (first launch)
  bool bundledPage = false;                // the application's own page, not the test page
  std::vector<std::pair<std::string, std::string>> env;
};

class RunningApp {
 public:
  explicit RunningApp(Launch launch = {}) : env_(launch.env) {
    env_.insert(env_.end(), {{"WENDREL_RESOURCE_DIR", in("bundle")},
                             {"WD_TEST_HOOKS", "1"},
                             {"WENDREL_AUDIO_SINK", "fakesink sync=false"}});
    copyTree(in("resources/ui", "WD_SOURCE_DIR"), in("bundle/ui"));
    copyTree(
        in(launch.bundledPage ? "resources/public" : "tests/shell/app/e2e/public", "WD_SOURCE_DIR"),
        in("bundle/public"));
    process_.reset(spawn(launch.args, launch.wrapper));
  }
  ~RunningApp() {
    if (!process_) return;
    quit();
    if (!waitForExit(20)) g_subprocess_force_exit(process_.get());
    waitForExit(10);
  }
  GSubprocess* spawn(const std::vector<std::string>& args, std::vector<std::string> argv = {}) {
    g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    for (auto& [name, value] : env_)
      g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    argv.push_back(WD_APP_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<const char*> p;
    for (auto& a : argv) p.push_back(a.c_str());
    p.push_back(nullptr);
    g_autoptr(GError) error = nullptr;
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, p.data(), &error);
    if (!process) ADD_FAILURE() << error->message;
    return process;
  }
  // A second launch: hands its arguments to this instance and ends; its exit status.
  int launchAgain(const std::vector<std::string>& args) {
    g_autoptr(GSubprocess) p = spawn(args);
    if (!p || !g_subprocess_wait(p, nullptr, nullptr)) return -1;
    return g_subprocess_get_if_exited(p) ? g_subprocess_get_exit_status(p) : -1;
  }
  // A method of the test hook (or of org.gtk.Actions at the application's path); its reply.
  GVariantRef call(const char* method, GVariant* params = nullptr,
                   const char* path = "/com/tovik/WendrelDesktop/Test",
                   const char* interface = "com.tovik.WendrelDesktop.Test") {
    return GVariantRef(g_dbus_connection_call_sync(bus_.get(), kBusName, path, interface, method,
                                                   params, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                                                   nullptr, nullptr));
  }
  std::optional<Json> state() {
    auto reply = call("State");
    if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(a{sv})")))
      return std::nullopt;
    Json out = Json::object();
    g_autoptr(GVariantIter) entries = nullptr;
    const gchar* key = nullptr;
    GVariant* v = nullptr;
    g_variant_get(reply.get(), "(a{sv})", &entries);
    while (g_variant_iter_loop(entries, "{&sv}", &key, &v)) {
      if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) {
        out[key] = g_variant_get_string(v, nullptr);
      } else if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING_ARRAY)) {
        g_autofree const gchar** strv = g_variant_get_strv(v, nullptr);
        out[key] = std::vector<std::string>(strv, strv + g_variant_n_children(v));
      } else {  // booleans and numbers print as JSON
        g_autofree gchar* printed = g_variant_print(v, FALSE);
        out[key] = Json::parse(printed, nullptr, false);
      }
    }
    return out;
  }
  // What the main page reports (its title as JSON), none before it has rendered.
  std::optional<Json> page() {
    auto s = state();
    return s ? JSONObject((*s)["mainTitle"].get<std::string>()) : std::nullopt;
  }
  template <class F>
  bool waitForState(F condition) {
    return waitFor(
        [&] {
          if (auto s = state(); s && condition(*s)) return true;
          g_usleep(20000);
          return false;
        },
        60);
  }
  template <class F>
  bool waitForPage(F condition) {
    return waitForState([&](const Json& s) {
      auto p = JSONObject(s["mainTitle"].get<std::string>());
      return p && condition(*p);
    });
  }
  void evaluate(const std::string& script) {
    call("EvaluateScript", g_variant_new("(s)", script.c_str()));
  }
  // Activates an application action as the menu does, with its target.
  void activateAction(const char* name, GVariant* target = nullptr) {
    GVariant* boxed = target ? g_variant_new_variant(target) : nullptr;
    call("Activate",
         g_variant_new("(s@ava{sv})", name,
                       g_variant_new_array(G_VARIANT_TYPE_VARIANT, &boxed, boxed ? 1 : 0), nullptr),
         "/com/tovik/WendrelDesktop", "org.gtk.Actions");
  }
  void quit() { activateAction("quit"); }
  bool waitForExit(double seconds) {
    return waitFor([this] { return g_subprocess_get_identifier(process()) == nullptr; }, seconds);
  }
  GSubprocess* process() { return process_.get(); }

 private:
  GObjectRef<GDBusConnection> bus_{g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)};
  std::vector<std::pair<std::string, std::string>> env_;
  GObjectRef<GSubprocess> process_;
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
fs::path logFile() {
  return in("wendrel-desktop/logs/wendrel-desktop.log", "XDG_STATE_HOME");
}
int logLinesWith(const std::string& text) {
  std::istringstream in(readFile(logFile()).value_or(""));
  int count = 0;
  for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos;
  return count;
}
// Runs the application until its page loaded; the lines of that run's log holding `text`.
int logLinesOfARun(const Launch& launch, const std::string& text) {
  fs::remove(logFile());
  {
    RunningApp app(launch);
    EXPECT_TRUE(app.waitForPage(pageLoaded));
  }
  return logLinesWith(text);
}

// Later launches hand their links and files to the running instance: links before the page
// reports ready are held, later ones arrive at once; a batch with bad links loses only those.
// Closing the main window hides it (the page stays loaded); a launch without arguments (the
// launcher's reopen) and a click on the page's notification bring it back, and the click
// withdraws the notification.
TEST(EndToEnd, LaterLaunchesReachTheRunningInstanceAndBringItsHiddenWindowBack) {
  NotificationDaemon daemon;
  ASSERT_TRUE(daemon.owned());
  RunningApp app({.args = {"mailto:first@example.com"}});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  EXPECT_EQ(app.launchAgain({"mailto:second@example.com?subject=Hi%20there"}), 0);
  EXPECT_EQ((*app.page())["events"], Json::array());
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return !p["events"].empty(); }));
  EXPECT_EQ(eventsNamed(*app.page(), "newEmailRequest"),
            Json::array({{{"url", "second@example.com?subject=Hi%20there"}}}));
  const std::string a = in("a file.txt"), b = "/tmp/b.pdf";
  EXPECT_EQ(app.launchAgain({a, b}), 0);
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["events"].size() == 2; }));
  EXPECT_EQ(eventsNamed(*app.page(), "shareFileRequest"), Json::array({{{"files", {a, b}}}}));
  const Json loads = (*app.page())["loads"];
  const auto hide = [&] {
    app.call("CloseMainWindow");
    ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == false; }));
    EXPECT_EQ((*app.state())["windows"], Json(1));
  };
  const auto shown = [](const Json& s) { return s["mainVisible"] == true && s["windows"] == 1; };
  hide();
  EXPECT_EQ(app.launchAgain({}), 0);
  ASSERT_TRUE(app.waitForState(shown));
  EXPECT_EQ((*app.page())["loads"], loads);  // not reloaded
  app.evaluate("MacGap.notify({id: 'n1', title: 'Hello', content: 'World'})");
  ASSERT_TRUE(waitFor([&] { return daemon.notified.size() == 1; }, 60));
  hide();
  daemon.click(daemon.notified[0].id);
  ASSERT_TRUE(app.waitForState(shown));
  ASSERT_TRUE(waitFor([&] { return !daemon.closeCalls.empty(); }, 60));
  EXPECT_EQ(daemon.closeCalls[0], daemon.notified[0].id);
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
}

// Another web client's folder (--web-client) gets the bridge, not the bundled page; the page in
// it, type-checked against the generated macgap.d.ts (test page_api_types) and given the plugins
// the bundled configuration ships, finds each declared member installed with its declared kind,
// and MacGap, its objects, the Menu class and a menu item have nothing more.
TEST(EndToEnd, AnotherWebClientGetsEveryDeclaredMemberAndNothingUndeclared) {
  const fs::path client = in("api-client");
  copyTree(in("tests/shell/app/e2e/api", "WD_SOURCE_DIR"), client);
  const auto shipped =
      JSONObject(readFile(in("resources/public/config.json", "WD_SOURCE_DIR")).value_or(""));
  ASSERT_TRUE(shipped && (*shipped)["plugins"].size() >= 12);
  writeFile(client / "public/config.json", Json{{"plugins", (*shipped)["plugins"]}}.dump());
  RunningApp app({.args = {"--web-client", client.string()}});
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  const Json page = *app.page();
  EXPECT_EQ(page["problems"], Json::array()) << page.dump(1);
  EXPECT_GT(page.value("checked", 0), 100);
  app.evaluate("state.href = location.href; render();");
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p.contains("href"); }));
  EXPECT_EQ((*app.page())["href"].get<std::string>().rfind("file://" + client.string(), 0), 0u);
}

// The bundled page on a first start: a welcome that says what the application is for and how to
// host another web client, with a button that opens the account set-up; once an account has a
// user name the developer console takes its place.
TEST(EndToEnd, TheBundledPageOffersTheAccountSetUpUntilAnAccountExists) {
  RunningApp app({.bundledPage = true});
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainTitle"] == "Wendrel Desktop"; }));
  app.evaluate(R"(window.report = function () {
      var w = document.getElementById('welcome');
      document.title = JSON.stringify({welcome: !w.hidden,
        console: document.getElementById('console').open,
        text: w.querySelector('p').textContent.replace(/\s+/g, ' '),
        button: document.getElementById('setup-account').textContent});
    };
    document.addEventListener('userDefaultsChanged', function () { setTimeout(report, 0); });
    // After the page's own start (DOMContentLoaded), which decides what it shows.
    if (document.readyState === 'complete') report();
    else window.addEventListener('load', report);)");
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
  const fs::path frame = in("wendrel-desktop/MacGapWindow.json", "XDG_STATE_HOME");
  const auto saved = [&] {
    const Json json = JSONObject(readFile(frame).value_or("")).value_or(Json::object());
    return std::make_pair(json.value("width", 0), json.value("height", 0));
  };
  for (int signal : {0, SIGTERM, SIGINT, SIGKILL}) {
    SCOPED_TRACE(signal);
    fs::remove(frame);
    RunningApp app;
    ASSERT_TRUE(app.waitForPage(pageLoaded));
    if (signal == SIGKILL) {
      app.evaluate(
          "window.addEventListener('resize', function () {"
          "  if (innerWidth === 640) MacGap.hide(); });"
          "MacGap.Window.resize(640, 480);");
      ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainVisible"] == false; }));
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
      EXPECT_TRUE(g_subprocess_get_successful(app.process()));  // status 0
    }
    EXPECT_TRUE(!signal || fs::exists(frame));
  }
  EXPECT_EQ(saved(), std::make_pair(700, 500));
}

// Adds the web processes below `parent` to `out` (sandboxed or not: the sandbox is a child too).
void webProcessesBelow(pid_t parent, std::vector<pid_t>& out) {
  std::error_code gone;  // the process ended meanwhile
  for (const auto& task :
       fs::directory_iterator("/proc/" + std::to_string(parent) + "/task", gone)) {
    std::istringstream children(readFile(task.path() / "children").value_or(""));
    for (pid_t child = 0; children >> child;) {
      // The kernel keeps 15 characters of the name.
      if (readFile("/proc/" + std::to_string(child) + "/comm") == "WebKitWebProces\n")
        out.push_back(child);
      webProcessesBelow(child, out);
    }
  }
}

// Secondary windows from the page open scriptable and close for good (from the application and
// from their own page); a reload keeps the same MacGap objects. Then the page's web process
// killed as the out-of-memory killer would: the main window loads its page again with the
// bridge, its child window (same process) closes, a mail link given while the new page starts
// waits for that page's ready report; the third death within a minute leaves the page stopped
// under an info bar whose Reload button loads it again.
TEST(EndToEnd, SecondaryWindowsAReloadAndAMainWindowThatSurvivesItsWebProcess) {
  fs::remove(logFile());
  RunningApp app;
  ASSERT_TRUE(app.waitForPage(pageLoaded));
  const auto oneChild = [](const Json& s) { return s["children"] == 1; };
  const auto noChild = [](const Json& s) { return s["children"] == 0 && s["windows"] == 1; };
  const auto open = "window.childWindow = window.open('child.html', '_blank')";
  app.evaluate(open);
  ASSERT_TRUE(app.waitForState(oneChild));
  ASSERT_TRUE(app.waitForPage([](const Json& p) { return p["child"] == "Child object"; }));
  // The child took the focus; a menu command for the page brings the main window forward.
  ASSERT_TRUE(app.waitForState([](const Json& s) { return s["mainActive"] == false; }));
  app.activateAction("newItem", g_variant_new_string("New Message"));
  EXPECT_TRUE(app.waitForState([](const Json& s) { return s["mainActive"] == true; }));
  app.call("CloseChild", g_variant_new("(i)", 0));
  ASSERT_TRUE(app.waitForState(noChild));
  app.evaluate(open);
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
  app.evaluate("MacGap.DesktopCommand.publishAppReady()");
  app.evaluate(open);
  ASSERT_TRUE(app.waitForState(oneChild));
  const pid_t pid = std::stoi(g_subprocess_get_identifier(app.process()));
  // Marks the running page, then kills its process.
  auto killPage = [&](int round) {
    app.evaluate("state.round = " + std::to_string(round) + "; render();");
    ASSERT_TRUE(app.waitForPage([&](const Json& p) { return p.value("round", 0) == round; }));
    std::vector<pid_t> pids;
    webProcessesBelow(pid, pids);
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

// Where the kernel refuses the web process sandbox's namespaces (here: a user namespace that may
// make no other, without capabilities, as in many containers and CI machines), the application
// starts its page without the sandbox and says so once in its log, instead of a web process
// that cannot start.
TEST(EndToEnd, WithoutNamespacesThePageStartsUnsandboxedAndTheLogSaysSo) {
  const std::string jail =
      "/usr/bin/bwrap --unshare-user --disable-userns --die-with-parent --uid 0 --gid 0 "
      "--cap-drop ALL --dev-bind / / --";
  const auto runs = [&](const std::string& command) {
    return runProcess(jail + " " + command).status == 0;
  };
  if (!runs("true"))
    GTEST_SKIP() << "bubblewrap cannot make a user namespace here to refuse namespaces in";
  if (runs("/usr/bin/bwrap --unshare-all --ro-bind / / true"))
    GTEST_SKIP() << "namespaces are still allowed inside the refusing user namespace";
  std::istringstream words(jail);
  EXPECT_EQ(logLinesOfARun({.wrapper = {std::istream_iterator<std::string>(words), {}}},
                           "The web content sandbox cannot start on this system"),
            1);
}

// A session bus address left from an ended login: the application takes the login's own bus
// socket instead and its page starts (the engine's sandbox aborted it on the missing socket).
TEST(EndToEnd, AGoneSessionBusAddressGivesWayToTheLoginsOwnBus) {
  const std::string address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  const auto start = address.find("unix:path=");
  if (start == std::string::npos) GTEST_SKIP() << "the test bus is not at a socket path";
  const std::string socket =
      address.substr(start + 10, address.find_first_of(",;", start) - (start + 10));
  const fs::path runtime = in("runtime-bus");
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);  // as XDG's must be
  fs::create_symlink(socket, runtime / "bus");
  const Launch launch{
      .env = {{"XDG_RUNTIME_DIR", runtime.string()},
              {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtime / "gone").string()}}};
  EXPECT_EQ(logLinesOfARun(launch, "/gone is gone (left from an earlier login?): using unix:path="),
            1);
}

}  // namespace
}  // namespace wd::test
