// The page's MacGap roots in the headless page: App, Notify and Dock over the shell's doubles, and
// DesktopCommand over the application's menu bar on a registered GtkApplication.
#include <webkit2/webkit2.h>

#include <regex>

#include "PageObjectTest.h"
#include "core/Bundle.h"
#include "core/Settings.h"
#include "shell/app/MainMenu.h"
#include "shell/commands/App.h"
#include "shell/commands/Dock.h"
#include "shell/commands/Notify.h"
#include "shell/menu/NativeMenu.h"
#include "shell/system/Badge.h"
#include "shell/system/PreferredLanguage.h"
#include "shell/system/SystemEvents.h"

namespace wd::test {

// The notifications posted: [title, subtitle, text, sound, userInfo] ("<uuid>" for a fresh id).
static Json summary(const std::vector<UserNotification>& list) {
  const std::regex uuid("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}");
  Json out = Json::array();
  for (const auto& n : list) {
    Json info = n.userInfo;
    if (std::regex_match(info.value("id", ""), uuid)) info["id"] = "<uuid>";
    out.push_back({n.title, n.subtitle, n.informativeText, n.sound, info});
  }
  return out;
}

class AppObject : public PageObjectTest, protected FakeShell {
 protected:
  void SetUp() override {
    window->page.install({app,
                          {{"Notify", std::make_shared<Notify>(window, context)},
                           {"Dock", std::make_shared<Dock>(window, context)}}});
    js("var N = MacGap.Notify");
  }
  std::shared_ptr<App> app = std::make_shared<App>(window, context, window);
};

TEST_F(AppObject, NotificationsPathsDroppedFilesWhatThePageNamesDockBadgeAndSystemEvents) {
  // A sheet posts nothing (no main window here); MacGap.Notify posts alike but records nothing.
  // "*" withdraws everything, records stay. By id: every delivered match is withdrawn and its
  // record dropped; a notification no longer delivered (the user dismissed it) keeps its record,
  // as do those N.close withdraws.
  js("window.before = Date.now(); MacGap.notify({title: 'Hello'});"
     "MacGap.notify({id: 'a', title: 'T', subtitle: 'S', content: 'C', sound: 'no'});"
     "MacGap.notify({id: 'b', sound: null});"
     "MacGap.notify({type: 'sheet', title: 'Sheet', content: 'Text', id: 'x'});"
     "N.notify({id: 7, title: 'N'}); N.notify(); N.notify({type: 'sheet', title: 'Alert'})");
  ASSERT_EQ(summary(notifications.posted),
            Json::parse(R"([["Hello", "", "", true, {"id": "<uuid>"}],
      ["T", "S", "C", false, {"id": "a"}], ["", "", "", true, {"id": "b"}],
      ["N", "", "", true, {"id": "7"}], ["", "", "", true, {"id": "<uuid>"}]])"));
  const std::string id = notifications.posted[0].userInfo.value("id", "");
  expectAll({{"MacGap.notifications.map(function (r) { return r.id; }).join()", id + ",a,b"},
             {"MacGap.notifications[0].title", "Hello"},
             {"'title' in MacGap.notifications[2]", false},  // no title given: no title entry
             {"var s = MacGap.notifications[0].sentOn;"
              "s instanceof Date && s >= before - 1000 && s <= Date.now() + 1000",
              true},
             {"typeof N.notifications", "undefined"}});
  notifications.deliver(UserNotification());  // of another poster (no "id" entry)
  js("MacGap.closeNotification('*'); MacGap.notify({id: 'same', title: '1'});"
     "MacGap.notify({id: 'same', title: '2'}); MacGap.notify({id: 'other', title: '3'});"
     "MacGap.notify({id: 'gone'}); MacGap.notify({id: 'n'});");
  std::erase_if(notifications.delivered,
                [](const auto& n) { return n.userInfo.value("id", "") == "gone"; });
  js("MacGap.closeNotification('same'); MacGap.closeNotification('gone');"
     "MacGap.closeNotification('nothing'); MacGap.closeNotification();"
     "MacGap.closeNotification(null); N.close('N'); N.close(); N.close('n')");
  EXPECT_EQ(summary(notifications.delivered),
            Json::parse(R"([["3", "", "", true, {"id": "other"}]])"));
  EXPECT_EQ(js("MacGap.notifications.map(function (r) { return r.id; })"),
            Json({id, "a", "b", "other", "gone", "n"}));
  js("MacGap.notify(); MacGap.notify(null); MacGap.notify('x'); N.notify(42)");  // none throws
  // No web view behind this window: setting the user agent does nothing, nor fails. The idle
  // time comes from the display server: none without a display connection.
  expectAll({{"MacGap.resourcePath", Bundle::main().resourcePath().string()},
             {"MacGap.homePath", getenv("HOME")},
             {"MacGap.libraryPath", getenv("XDG_DATA_HOME")},
             {"typeof MacGap.documentsPath", "string"},
             {"MacGap.tempPath.length > 0 && MacGap.applicationPath.length > 0", true},
             {"typeof MacGap.droppedFiles", "undefined"},
             {"MacGap.setUserAgent('X/1'); typeof MacGap.setCustomUserAgent", "undefined"},
             {"typeof MacGap.idleTime", gdk_display_get_default() ? "number" : "undefined"}});
  app->addFiles({"/tmp/one.txt"});
  app->addFiles({"/tmp/two.txt", "/tmp/three 3.txt"});
  window->page.reload();  // the same object survives a reload
  EXPECT_EQ(js("MacGap.droppedFiles"), Json({"/tmp/two.txt", "/tmp/three 3.txt"}));
  // URLs and applications the page names reach the desktop; missing ones reach nothing.
  js("MacGap.openURL('https://example.com/a?b=c'); MacGap.openURL(); MacGap.launch('Firefox');"
     "MacGap.launch(null)");
  EXPECT_EQ(workspace.opened, std::vector<std::string>{"https://example.com/a?b=c"});
  EXPECT_EQ(workspace.launched, std::vector<std::string>{"Firefox"});
  // The badge the page reads (the launcher's label) before and after each step; null: none.
  EXPECT_EQ(js("var D = MacGap.Dock; [typeof D.badge].concat(['new mail', 'remove', 5, '', '12',"
               "  undefined].map(function (b) {"
               "    b === 'remove' ? D.removeBadge() : D.addBadge(b); return D.badge; }))"),
            Json::parse(R"(["undefined", "new mail", null, "5", null, "12", null])"));
  EXPECT_EQ(js("D.addBadge('\\u00e9\\u0000x'); D.badge"), Json(std::string("\xc3\xa9\0x", 4)));
  listen("'sleep', 'wake', 'appActivated'");
  const Json files = {{"localizedName", "Files"}, {"bundleURL", "file:///usr/share/x"}};
  center.post(SystemEvents::kWillSleep);
  center.post(SystemEvents::kDidWake);
  center.post(SystemEvents::kDidActivateApplication, files);
  center.post(SystemEvents::kDidActivateApplication);  // no application: no event
  EXPECT_EQ(js("seen"), Json::parse(R"([["sleep", {}], ["wake", {}], ["appActivated", )" +
                                    files.dump() + "]]"));
  window.reset();  // once the window is gone nothing is raised (and nothing fails)
  center.post(SystemEvents::kWillSleep);
}

// Every agent accepted is one the engine takes (it keeps its previous agent when it refuses one,
// with a critical); the others are refused.
TEST(AppValues, OnlyHeaderValuesTheEngineTakesAreUserAgentsAndTruthFollowsThePlatform) {
  g_autoptr(WebKitSettings) settings = webkit_settings_new();
  for (const char* good :
       {"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) Safari/605.1",
        "a", "tab\tinside", "x/1 (nested (comment) \\) ok)", "p/1 (a;b,c@d/e{f}\"g)"}) {
    EXPECT_TRUE(App::isValidUserAgent(good)) << good;
    webkit_settings_set_user_agent(settings, good);
    EXPECT_STREQ(webkit_settings_get_user_agent(settings), good);
  }
  for (std::string bad :
       {"", "line\nbreak", "caf\xc3\xa9", "a/", "a ", "a {b}", "a (open", "a (\\", "a (\xc3\xa9)"})
    EXPECT_FALSE(App::isValidUserAgent(bad)) << bad;
  EXPECT_FALSE(App::isValidUserAgent(std::string("nul\0x", 5)));
  // Truth values as the platform reads them.
  using bridge::Value;
  const std::pair<Value, bool> cases[] = {
      {Value(true), true},     {Value(0), false},     {Value(2.5), true}, {Value(" true"), true},
      {Value("false"), false}, {Value("-007"), true}, {Value(""), false}};
  for (const auto& [value, truth] : cases) EXPECT_EQ(App::truthValue(value), truth);
}

class DesktopObject : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    ASSERT_TRUE(g_application_register(G_APPLICATION(application.get()), nullptr, nullptr));
    menu = std::make_shared<MainMenu>(G_ACTION_MAP(application.get()),
                                      [this] { return app.delegate.get(); });
    auto layout = Bundle::main().pathForResource("MainMenu", "ui", "ui");
    ASSERT_TRUE(layout && menu->load(*layout));
    // As at start-up: the application takes the layout's accelerators from the menu bar.
    gtk_application_set_menubar(application.get(), menu->model());
    context = std::make_unique<ShellContext>(
        ShellContext::Services{.application = app.controlPtr,
                               .notifications = app.notificationsPtr,
                               .workspace = app.workspacePtr,
                               .defaults = &UserDefaults::standard(),
                               .center = &app.center,
                               .menus = menu,
                               .clipboard = std::make_shared<MemoryClipboard>()});
    auto command = std::make_shared<DesktopCommand>(app.windows.main, context.get(),
                                                    [this] { return app.delegate.get(); });
    window = app.windows.main;
    window->page.install({command, {{"DesktopCommand", command}}});
    window->pageEvents().pageReady();
    js("var D = MacGap.DesktopCommand");
  }
  std::shared_ptr<NativeMenuItem> fileItem(const std::string& title) {
    return menu->mainMenu()->itemWithTitle("File")->submenu()->itemWithTitle(title);
  }
  // The accelerator the File menu's item `title` shows ("<none>": no such item).
  std::string fileKey(const char* title) {
    return fileItem(title) ? fileItem(title)->accelerator().value_or("") : "<none>";
  }
  LaunchedApp app;
  // Released after the menu and the context below, which use its actions.
  std::unique_ptr<GtkApplication, void (*)(gpointer)> application{
      gtk_application_new("com.tovik.WendrelDesktop.DesktopTest", G_APPLICATION_NON_UNIQUE),
      g_object_unref};
  std::shared_ptr<MainMenu> menu;
  std::unique_ptr<ShellContext> context;
};

// The Out of Office item is checked only by exactly "true"; the Message menu follows its flag.
TEST_F(DesktopObject, BadgeVersionLocaleUpdateChecksMenuStatesNotificationsAndControlN) {
  js("D.setDockBadge(12)");
  EXPECT_EQ(context->badge().label(), "12");
  js("D.setDockBadge()");
  EXPECT_EQ(context->badge().label(), std::nullopt);
  EXPECT_EQ(js("D.getAppVersion()"), Bundle::main().version());
  // The user's first preferred language (GLib's reading of the environment), as a language code.
  const std::pair<const char*, const char*> names[] = {
      {"fil_PH.UTF-8", "fil"}, {"DE-de", "de"}, {"C.UTF-8", "en"}, {"POSIX", "en"}, {"", "en"}};
  for (const auto& [name, code] : names) EXPECT_EQ(locale::languageCode(name), code) << name;
  g_autofree gchar* language = g_strdup(g_getenv("LANGUAGE"));
  g_setenv("LANGUAGE", "pt_BR:en_US", TRUE);  // first, before LC_ALL, LC_MESSAGES and LANG
  EXPECT_EQ(js("D.getDefaultLocale()"), "pt");
  language ? void(g_setenv("LANGUAGE", language, TRUE)) : g_unsetenv("LANGUAGE");
  js("D.startUpdateCheckerWith()");  // no server: nothing starts
  EXPECT_FALSE(app.delegate->updateChecker());
  // The service is a closed loopback port: the check fails at once, nothing leaves the machine.
  UserDefaults::standard().setString(Settings::kUpdateServiceURL, "https://127.0.0.1:9/update");
  js("D.startUpdateCheckerWith('mail.example.com')");
  ASSERT_TRUE(app.delegate->updateChecker());
  const std::string url = app.delegate->updateChecker()->updateServer().value_or("");
  EXPECT_NE(url.find("server=mail.example.com"), std::string::npos);
  // Rows: the arguments, the mark (a boolean true reaches it as "true"), whether the menu bar's
  // Message entry can be opened (it and its action, if any, enabled).
  auto message = menu->mainMenu()->itemWithTitle("Message");
  const std::string action = message->detailedAction();
  const std::tuple<const char*, bool, bool> cases[] = {
      {"('true')", true, false}, {"('TRUE')", false, false}, {"(true)", true, true},
      {"()", false, false},      {"(2)", false, true},       {"(0.5)", false, false}};
  for (const auto& [args, on, enabled] : cases) {
    js(std::string("D.setOutOfOfficeMenuState") + args + "; D.enableMessageMenu" + args);
    EXPECT_EQ(menu->outOfOfficeState(), on) << args;
    EXPECT_EQ(message->enabled() &&
                  (action.empty() || g_action_group_get_action_enabled(
                                         G_ACTION_GROUP(application.get()), action.c_str() + 4)),
              enabled)
        << args;
  }
  // What a click runs (the callback's text, in the main page) is the application delegate's.
  // The third replaces the first; the last has no id: nothing to call back.
  js("D.showNotificationIdCallback({title: 'T', body: 'B'}, 'n1', function (id) { clicked = id; });"
     "D.showNotificationIdCallback({title: 'Other'}, 'n2', function () {});"
     "D.showNotificationIdCallback({title: 'T2', body: 'B2'}, 'n1', function (id) { c = id; });"
     "D.showNotificationIdCallback({title: 'bare'});"
     "D.dismissNotification(null); D.dismissNotification('nothing'); D.dismissNotification()");
  auto& n = app.notifications.delivered;
  ASSERT_EQ(summary(n), Json::parse(R"([
      ["Other", "", "", false, {"identifier": "n2", "callback": "function () {}"}],
      ["T2", "", "B2", false, {"identifier": "n1", "callback": "function (id) { c = id; }"}],
      ["bare", "", "", false, {}]])"));
  EXPECT_EQ(n[1].identifier, "n1");
  js("D.dismissNotification('n2')");
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].title, "T2");
  // Control-N runs the chosen item's action, and only that one (what the item's action raises in
  // the page is the application delegate's).
  ASSERT_EQ(fileKey("New Message"), "<Primary>n");
  const std::string search = fileKey("Search");
  // No match ("new note", no title) leaves no item with Control-N.
  for (const std::string title : {"New Event", "New Message", "New Note", "new note", ""}) {
    js("D.setDefaultNewItemShortcut(" + (title.empty() ? "" : lit(title)) + ")");
    for (const char* item : {"New Message", "New Event", "New Contact", "New Task", "New Note"})
      EXPECT_EQ(fileKey(item), item == title ? "<Primary>n" : "") << title << ": " << item;
    const auto chosen = fileItem(title);
    g_auto(GStrv) actions = gtk_application_get_actions_for_accel(application.get(), "<Primary>n");
    g_autofree gchar* joined = g_strjoinv(" ", actions);  // every action Control-N runs
    EXPECT_EQ(joined, chosen ? chosen->detailedAction() : "") << title;
  }
  EXPECT_EQ(fileKey("Search"), search);  // items not beginning with "New" keep their keys
}

}  // namespace wd::test
