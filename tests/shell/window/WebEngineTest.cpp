// The web engine's set-up on real web windows: the web process sandbox, spelling and the filtered
// context menus, the page's colour scheme following the desktop's settings portal (the real one).
#include <gmock/gmock.h>
#include <unistd.h>

#include <fstream>

#include "shell/DesktopPortal.h"
#include "shell/system/ColorScheme.h"
#include "shell/window/ContextMenuFilter.h"
#include "shell/window/SandboxProbe.h"
#include "shell/window/WebRig.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;

// A context menu item's label: only the deprecated GtkAction holds it (outside any macro
// argument, where the pragma that allows the deprecated call would not apply).
std::string menuItemLabel(WebKitContextMenuItem* item) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GtkAction* action = webkit_context_menu_item_get_action(item);
  const char* label = action ? gtk_action_get_label(action) : nullptr;
  G_GNUC_END_IGNORE_DEPRECATIONS
  return label ? label : "";
}

// The answer comes from how the trial run ends; a machine where the sandbox started is remembered
// under its key only; the background check reports from the main loop how the run ended.
TEST(SandboxProbe, AnswersFromTheTrialRunAndRemembersOnlyAnAvailableSandboxForItsMachine) {
  // The command and part of the reason (empty: available).
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/bin/true"}, ""},
      {{"/bin/sh", "-c", "echo 'bwrap: No permissions to create new namespace' >&2; exit 1"},
       "bwrap: No permissions to create new namespace"},
      {{"/bin/sh", "-c", "exit 3"}, "exited with status 3"},
      {{"/bin/sh", "-c", "kill -9 $$"}, "ended by a signal"},
      {{"/nonexistent/bwrap"}, "/nonexistent/bwrap cannot run"},
      {{}, "no sandbox program"},
  };
  for (const auto& [command, reason] : cases) {
    SandboxProbe probe(command, {"/bin/sh"});
    const auto& answer = probe.answer();
    EXPECT_EQ(answer.available, reason.empty()) << answer.reason;
    EXPECT_NE(answer.reason.find(reason), std::string::npos) << answer.reason;
    EXPECT_EQ(&probe.answer(), &answer);  // asked again: the same answer
    // Checked in the background: reported from the main loop how the run ended.
    SandboxProbe background(command, {"/bin/sh"});
    std::optional<bool> answered;
    background.whenAnswered([&](const SandboxProbe::Answer& a) { answered = a.available; });
    EXPECT_FALSE(answered);  // never inside the call
    ASSERT_TRUE(waitFor([&] { return answered.has_value(); }, 30));
    EXPECT_EQ(*answered, reason.empty());
  }
  // A helper program of the engine that is missing: nothing is run.
  EXPECT_EQ(SandboxProbe({"/bin/true"}, {"/bin/sh", "/nonexistent/xdg-dbus-proxy"}).answer().reason,
            "/nonexistent/xdg-dbus-proxy is not installed");
  // A run that does not end in time is stopped and counts as unavailable.
  SandboxProbe stuck({"/bin/sleep", "600"});
  EXPECT_FALSE(stuck.answer(std::chrono::milliseconds(50)).available);
  EXPECT_NE(stuck.answer().reason.find("did not answer"), std::string::npos);
  // One never asked is stopped with its owner.
  SandboxProbe({"/bin/sleep", "600"});
  const auto file = std::filesystem::path(std::getenv("HOME")) / "state" / "sandbox-available";
  const auto key = SandboxProbe::machineKey({"/bin/sh"}, {"/bin/true", "/nonexistent/proxy"});
  ASSERT_FALSE(key.empty());
  EXPECT_NE(key, SandboxProbe::machineKey({"/bin/true"}, {"/bin/true", "/nonexistent/proxy"}));
  EXPECT_EQ(SandboxProbe::machineKey({"/nonexistent/bwrap"}, {}), "");
  EXPECT_FALSE(SandboxProbe::rememberedAvailable(file, key));
  SandboxProbe::remember(file, key, true);
  EXPECT_TRUE(SandboxProbe::rememberedAvailable(file, key));
  EXPECT_FALSE(SandboxProbe::rememberedAvailable(file, key + " other"));
  EXPECT_FALSE(SandboxProbe::rememberedAvailable(file, ""));
  SandboxProbe::remember(file, key, false);
  EXPECT_FALSE(std::filesystem::exists(file));  // nothing remembered
}

// The engine's web processes below this process (sandboxed or not).
std::vector<pid_t> webProcesses() {
  std::map<pid_t, std::pair<pid_t, std::string>> processes;  // parent and command name
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string stat;  // "pid (name) state parent ..."
    std::getline(std::ifstream(entry.path() / "stat"), stat);
    const auto open = stat.find('('), close = stat.rfind(')');
    if (close != std::string::npos)
      processes[std::atoi(stat.c_str())] = {std::atoi(stat.c_str() + close + 4),
                                            stat.substr(open + 1, close - open - 1)};
  }
  std::vector<pid_t> out;
  for (const auto& [pid, process] : processes) {
    pid_t p = process.first;
    while (p > 1 && p != getpid()) p = processes.count(p) ? processes[p].first : 0;
    if (p > 1 && process.second == "WebKitWebProces") out.push_back(pid);  // 15 characters kept
  }
  return out;
}

// The context menus of the shared page.
class WebEngine : public ClientWindow {
 protected:
  // The context menu the menu key opens after `focus` ran, as the window's filter left it (this
  // handler runs after the window's own); the item labelled `choose`, if given, is chosen.
  struct Menu {
    std::vector<int> actions;
    std::vector<std::string> labels;
    std::string choose;
    GAction* chosen = nullptr;
  };
  Menu contextMenu(const std::string& focus, const std::string& choose = {}) {
    Menu seen{.choose = choose};
    EXPECT_EQ(ask(focus + "document.title = 'focused';"), "focused");
    const gulong handler = g_signal_connect(
        window->webView(), "context-menu",
        G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                       Menu* s) -> gboolean {
          for (GList* l = webkit_context_menu_get_items(menu); l; l = l->next) {
            auto* item = WEBKIT_CONTEXT_MENU_ITEM(l->data);
            s->actions.push_back(webkit_context_menu_item_get_stock_action(item));
            s->labels.push_back(menuItemLabel(item));
            if (!s->choose.empty() && s->labels.back() == s->choose)
              s->chosen = G_ACTION(g_object_ref(webkit_context_menu_item_get_gaction(item)));
          }
          return s->choose.empty();  // shown only when an item is to be chosen
        }),
        &seen);
    gtk_widget_grab_focus(GTK_WIDGET(window->webView()));
    gboolean handled = FALSE;
    g_signal_emit_by_name(window->webView(), "popup-menu", &handled);
    EXPECT_TRUE(waitFor([&] { return !seen.actions.empty(); }, 60));  // a menu has items
    g_signal_handler_disconnect(window->webView(), handler);
    if (seen.chosen) {
      drainLoop();
      g_action_activate(seen.chosen, nullptr);
      g_clear_object(&seen.chosen);
    }
    return seen;
  }
};

TEST_F(WebEngine, WebProcessRunsSandboxedWithBridgeStorageAndResources) {
  SandboxProbe probe;
  if (const auto& answer = probe.answer(); !answer.available)
    GTEST_SKIP() << "The web process sandbox cannot start on this machine: " << answer.reason;
  const fs::path secret = fs::path(std::getenv("HOME")) / "private.txt";
  writeFile(secret, "the user's own file");

  // The web processes made for this window, not those of earlier ones.
  const auto before = webProcesses();
  open("loaded");
  // The script bridge, the resource mapping and local storage work inside the sandbox.
  EXPECT_EQ(title(), kLoaded);
  EXPECT_TRUE(answers("localStorage.k = 'kept'; document.title = 'stored ' + localStorage.k;",
                      "stored kept"));

  auto processes = webProcesses();
  std::erase_if(processes, [&](pid_t p) { return std::ranges::count(before, p) > 0; });
  ASSERT_FALSE(processes.empty());
  for (pid_t pid : processes) {
    const fs::path proc = fs::path("/proc") / std::to_string(pid), root = proc / "root";
    std::error_code ec;
    EXPECT_NE(fs::read_symlink(proc / "ns/mnt", ec), fs::read_symlink("/proc/self/ns/mnt", ec));
    // What the web process sees: the page's folder, not the user's files.
    EXPECT_TRUE(fs::exists(root / client.relative_path() / "public/index.html", ec)) << pid;
    EXPECT_FALSE(fs::exists(root / secret.relative_path(), ec)) << pid;
  }
}

TEST_F(WebEngine, SpellingFromTheSettingElseTheLocaleAndContextMenusKeepEditingAndOpenLink) {
  const std::vector<std::string> locale{"de_DE.UTF-8@euro", "de_DE", "de.UTF-8", "de", "C"};
  // A setting naming nothing usable leaves the locale in charge.
  const std::pair<std::optional<Json>, std::vector<std::string>> cases[] = {
      {std::nullopt, {"de_DE", "de"}},
      {Json("en_US, fr-FR;pt_BR:en_US"), {"en_US", "fr_FR", "pt_BR"}},
      {Json::array({"nl", 7, "en_GB.UTF-8", "../../x", ""}), {"nl", "en_GB"}},
      {Json("C, POSIX, x, en_/, 12"), {"de_DE", "de"}},
      {Json(42), {"de_DE", "de"}}};
  for (const auto& [setting, expected] : cases)
    EXPECT_EQ(spelling::languages(setting, locale), expected) << (setting ? setting->dump() : "");
  EXPECT_TRUE(spelling::languages(std::nullopt, {"C", "POSIX"}).empty());
  ASSERT_TRUE(fs::exists("/usr/share/hunspell/en_US.dic"))
      << "the en_US dictionary (hunspell-en-us) is needed";
  open("loaded");
  // The dictionaries are set shortly after start, not before the first page.
  WebKitWebContext* context = webkit_web_view_get_context(window->webView());
  ASSERT_TRUE(waitFor([&] {
    const gchar* const* languages = webkit_web_context_get_spell_checking_languages(context);
    return languages && languages[0];
  }));
  // The misspelt field's menu, the field focused and selected by a script: its editing and
  // spelling items with a guess.
  const Menu menu = contextMenu(
      "var f = document.getElementById('field'); f.focus(); f.setSelectionRange(0, 4);");
  for (int action :
       {WEBKIT_CONTEXT_MENU_ACTION_IGNORE_SPELLING, WEBKIT_CONTEXT_MENU_ACTION_LEARN_SPELLING,
        WEBKIT_CONTEXT_MENU_ACTION_CUT, WEBKIT_CONTEXT_MENU_ACTION_PASTE})
    EXPECT_THAT(menu.actions, Contains(action));
  EXPECT_THAT(menu.labels, Contains("hello"));
  // Open Link (kept) on a link to another site that targets a new window: the site opens in the
  // browser, as a click on the link does; no window of the application is made for it.
  const Menu link = contextMenu("document.getElementById('target').focus();", "_Open Link");
  for (int action : link.actions) EXPECT_FALSE(isFilteredContextMenuAction(action)) << action;
  ASSERT_TRUE(waitFor([&] { return !app->workspace.opened.empty(); }, 30));
  EXPECT_EQ(app->workspace.opened, std::vector<std::string>{server->url("localhost", "/new")});
  runLoopFor(1);
  EXPECT_TRUE(app->delegate->childWindowControllers().empty());
  EXPECT_EQ(webkit_web_view_get_uri(window->webView()), webclient::fileURL("public/index.html"));
}

TEST_F(WebEngine, PageColourSchemeFollowsTheDesktopSettingReadFromThePortalsVariants) {
  const std::pair<const char*, std::optional<DesktopColorScheme::Scheme>> cases[] = {
      {"uint32 1", DesktopColorScheme::Dark},
      {"<<uint32 2>>", DesktopColorScheme::Light},
      {"0", DesktopColorScheme::NoPreference},
      {"uint32 3", std::nullopt},
      {"-1", std::nullopt},
      {"'dark'", std::nullopt}};
  for (const auto& [text, expected] : cases) {
    g_autoptr(GVariant) value = g_variant_parse(nullptr, text, nullptr, nullptr, nullptr);
    EXPECT_EQ(DesktopColorScheme::parse(value), expected) << text;
  }
  EXPECT_EQ(DesktopColorScheme::parse(nullptr), std::nullopt);
  // The distribution's portal, its GTK back end reading the GNOME settings.
  if (!DesktopPortal::installed()) GTEST_SKIP() << "xdg-desktop-portal-gtk is not installed";
  DesktopPortal portal("prefer-light");
  ASSERT_TRUE(portal.ready());
  DesktopColorScheme follower(gtk_settings_get_default());
  ASSERT_TRUE(waitFor([&] { return follower.scheme() == DesktopColorScheme::Light; }));
  open("loaded");
  // The page counts its change events: one per change of the desktop's setting, none after.
  run("window.wdChanges = 0; matchMedia('(prefers-color-scheme: dark)')"
      ".addEventListener('change', () => ++window.wdChanges);");
  const std::string ask =
      "document.title = 'dark ' + "
      "matchMedia('(prefers-color-scheme: dark)').matches + ' ' + wdChanges;";
  EXPECT_TRUE(answers(ask, "dark false 0"));
  const std::pair<const char*, const char*> steps[] = {{"prefer-dark", "dark true 1"},
                                                       {"prefer-light", "dark false 2"},
                                                       {"default", "dark false 2"}};
  for (const auto& [scheme, expected] : steps) {
    portal.setColorScheme(scheme);
    EXPECT_TRUE(answers(ask, expected)) << scheme;
    runLoopFor(1);  // a second event for the same change would arrive meanwhile
    EXPECT_TRUE(answers(ask, expected)) << scheme;
  }
  portal.setColorScheme("prefer-dark");
  ASSERT_TRUE(waitFor([&] { return follower.scheme() == DesktopColorScheme::Dark; }));
  gboolean preferDark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &preferDark,
               nullptr);
  EXPECT_TRUE(preferDark);  // the window's own theme follows too
}

}  // namespace
}  // namespace wd::test
