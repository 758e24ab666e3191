// MacGap.DesktopCommand in the headless page, over the shell's doubles and the application's own
// menu bar on a registered GtkApplication (whose accelerators are what Control-N reaches): the
// user's language, the launcher badge, the Out of Office, Message and File menus, notifications
// whose click runs the page's callback, the version and update checks.
#include <gtk/gtk.h>

#include "PageObjectTest.h"
#include "core/Bundle.h"
#include "core/Settings.h"
#include "shell/app/MainMenu.h"
#include "shell/menu/NativeMenu.h"
#include "shell/system/Badge.h"
#include "shell/system/PreferredLanguage.h"

namespace wd::test {

class DesktopObject : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    application =
        gtk_application_new("com.tovik.WendrelDesktop.DesktopTest", G_APPLICATION_NON_UNIQUE);
    ASSERT_TRUE(g_application_register(G_APPLICATION(application), nullptr, nullptr));
    menu = std::make_shared<MainMenu>(G_ACTION_MAP(application),
                                      [this] { return app.delegate.get(); });
    auto layout = Bundle::main().pathForResource("MainMenu", "ui", "ui");
    ASSERT_TRUE(layout && menu->load(*layout));
    // As at start-up: the application takes the layout's accelerators from the menu bar.
    gtk_application_set_menubar(application, menu->model());
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
    js(FakeWindow::kLogScript);  // the installed context logs too
    window->pageEvents().pageReady();
    js("var D = MacGap.DesktopCommand");
  }
  void TearDown() override {
    gtk_application_set_menubar(application, nullptr);
    context.reset();
    menu.reset();
    g_object_unref(application);
  }
  // The accelerator shown by the File menu's item `title`.
  std::string fileKey(const char* title) {
    auto item = menu->mainMenu()->itemWithTitle("File")->submenu()->itemWithTitle(title);
    return item ? item->accelerator().value_or("") : "<none>";
  }
  // The actions the application runs for a key combination.
  std::vector<std::string> actionsFor(const char* accel) {
    std::vector<std::string> out;
    g_auto(GStrv) names = gtk_application_get_actions_for_accel(application, accel);
    for (gchar** n = names; n && *n; ++n) out.emplace_back(*n);
    return out;
  }
  // The newest event the main page received.
  Json lastEvent() {
    Json log = window->log();
    return log.is_array() && !log.empty() ? log.back() : Json();
  }
  // Whether the menu bar's Message entry can be opened (its action, when it has one, enabled).
  bool messageMenuEnabled() {
    auto item = menu->mainMenu()->itemWithTitle("Message");
    const std::string action = item->detailedAction();
    return item->enabled() &&
           (action.empty() ||
            g_action_group_get_action_enabled(G_ACTION_GROUP(application), action.c_str() + 4));
  }

  LaunchedApp app;
  GtkApplication* application = nullptr;
  std::shared_ptr<MainMenu> menu;
  std::unique_ptr<ShellContext> context;
};

TEST(DesktopLocale, TheFirstPreferredLanguageGivesItsLanguageCode) {
  const std::pair<const char*, const char*> names[] = {
      {"pt_BR.UTF-8", "pt"}, {"pt-BR", "pt"},   {"de", "de"}, {"EN_gb", "en"},
      {"sr@latin", "sr"},    {"fil_PH", "fil"}, {"C", "en"},  {"C.UTF-8", "en"},
      {"POSIX", "en"},       {"", "en"},        {"_x", "en"}, {"zh-Hant-TW", "zh"}};
  for (const auto& [name, code] : names) EXPECT_EQ(locale::languageCode(name), code) << name;

  // The environment as the C library reads it: LANGUAGE (a list), then LC_ALL, LC_MESSAGES, LANG;
  // an empty LANGUAGE counts as none, and none at all is the C locale.
  const char* keys[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  const char* cases[][5] = {{"pt_BR:en_US", nullptr, nullptr, "de_DE.UTF-8", "pt"},
                            {nullptr, nullptr, nullptr, "de_DE.UTF-8", "de"},
                            {"", "fr_CA.UTF-8", "it_IT", "de_DE", "fr"},
                            {nullptr, nullptr, "it_IT", "de_DE", "it"},
                            {nullptr, nullptr, nullptr, nullptr, "en"}};
  auto setEnv = [](const char* key, const char* value) {
    value ? void(g_setenv(key, value, TRUE)) : g_unsetenv(key);
  };
  g_auto(GStrv) saved = g_get_environ();
  const DesktopCommand command{std::weak_ptr<bridge::WindowHandle>()};
  for (const auto& c : cases) {
    for (int i = 0; i < 4; ++i) setEnv(keys[i], c[i]);
    EXPECT_EQ(command.getDefaultLocale(), c[4]) << c[4];
  }
  for (const char* key : keys) setEnv(key, g_environ_getenv(saved, key));
}

TEST_F(DesktopObject, BadgeVersionLocaleAndUpdateChecks) {
  const std::pair<const char*, std::optional<std::string>> badges[] = {
      {"setDockBadge('3')", "3"},     {"setDockBadge('')", std::nullopt},
      {"setDockBadge('new')", "new"}, {"setDockBadge(null)", std::nullopt},
      {"setDockBadge(12)", "12"},     {"setDockBadge()", std::nullopt}};
  for (const auto& [script, label] : badges) {
    js(std::string("D.") + script);
    EXPECT_EQ(context->badge().label(), label) << script;
  }
  EXPECT_EQ(js("D.getAppVersion()"), Bundle::main().version());
  EXPECT_EQ(js("D.getDefaultLocale()"), locale::preferredLanguageCode());

  js("D.startUpdateCheckerWith()");  // no server: nothing starts
  EXPECT_FALSE(app.delegate->updateChecker());
  // The service is a closed loopback port: the check fails at once, nothing leaves the machine.
  UserDefaults::standard().setString(Settings::kUpdateServiceURL, "https://127.0.0.1:9/update");
  js("D.startUpdateCheckerWith('mail.example.com')");
  ASSERT_TRUE(app.delegate->updateChecker());
  ASSERT_TRUE(app.delegate->updateChecker()->updateServer());
  EXPECT_NE(app.delegate->updateChecker()->updateServer()->find("server=mail.example.com"),
            std::string::npos);
}

TEST_F(DesktopObject, OutOfOfficeIsCheckedOnlyByExactlyTrueAndTheMessageMenuFollowsItsFlag) {
  const std::pair<const char*, bool> cases[] = {
      {"('true')", true},  {"('false')", false}, {"('true')", true}, {"('')", false},
      {"('true')", true},  {"('TRUE')", false},  {"(true)", true},   {"()", false},
      {"(' true')", false}};  // a boolean true reaches it as the text "true"
  for (const auto& [args, on] : cases) {
    js(std::string("D.setOutOfOfficeMenuState") + args);
    EXPECT_EQ(menu->outOfOfficeState(), on) << args;
  }
  // The item still asks the page for the opposite of its state and keeps it.
  ASSERT_TRUE(menu->activateItem("Out of Office"));
  EXPECT_FALSE(menu->outOfOfficeState());
  EXPECT_TRUE(waitFor([&] {
    return lastEvent().value("data", Json()) == Json({{"enabled", "true"}});
  }));
  const std::pair<const char*, bool> messageCases[] = {
      {"(0)", false},   {"(1)", true}, {"(false)", false}, {"(true)", true},
      {"('x')", false}, {"(2)", true}, {"()", false},      {"(0.5)", false}};
  for (const auto& [args, enabled] : messageCases) {
    js(std::string("D.enableMessageMenu") + args);
    EXPECT_EQ(messageMenuEnabled(), enabled) << args;
  }
}

TEST_F(DesktopObject, ControlNMovesBetweenTheNewItemsOfTheFileMenu) {
  ASSERT_EQ(fileKey("New Message"), "<Primary>n");
  ASSERT_EQ(actionsFor("<Primary>n"), std::vector<std::string>{"app.newItem('New Message')"});
  const std::string search = fileKey("Search");

  for (const char* title : {"New Event", "New Message", "New Note"}) {
    js("D.setDefaultNewItemShortcut(" + lit(title) + ")");
    for (const char* item : {"New Message", "New Event", "New Contact", "New Task", "New Note"})
      EXPECT_EQ(fileKey(item), std::string(item) == title ? "<Primary>n" : "")
          << title << ": " << item;
    // Control-N runs the chosen item, and only that one.
    const auto actions = actionsFor("<Primary>n");
    ASSERT_EQ(actions.size(), 1u) << title;
    g_autofree gchar* name = nullptr;
    GVariant* target = nullptr;
    ASSERT_TRUE(g_action_parse_detailed_name(actions[0].c_str(), &name, &target, nullptr));
    g_action_group_activate_action(G_ACTION_GROUP(application), name + 4, target);
    if (target) g_variant_unref(target);
    const Json chosen = {{"name", "newItem"}, {"data", {{"item", title}}}};
    EXPECT_TRUE(waitFor([&] { return lastEvent() == chosen; })) << title;
  }
  // Items not beginning with "New" keep their keys; no match leaves no item with Control-N.
  EXPECT_EQ(fileKey("Search"), search);
  js("D.setDefaultNewItemShortcut('new note')");
  js("D.setDefaultNewItemShortcut()");
  for (const char* item : {"New Message", "New Event", "New Note"})
    EXPECT_EQ(fileKey(item), "") << item;
  EXPECT_TRUE(actionsFor("<Primary>n").empty());
}

TEST_F(DesktopObject, NotificationsCarryIdAndCallbackAndAClickRunsIt) {
  auto& n = app.notifications;
  // The third replaces the first; the last has no id: nothing to call back.
  js("D.showNotificationIdCallback({title: 'T', body: 'B'}, 'n1', function (id) { clicked = id; });"
     "D.showNotificationIdCallback({title: 'Other'}, 'n2', function () {});"
     "D.showNotificationIdCallback({title: 'T2', body: 'B2'}, 'n1',"
     " function (id) { window.clicked = 'again ' + id; });"
     "D.showNotificationIdCallback({title: 'bare'})");
  ASSERT_EQ(n.delivered.size(), 3u);
  const UserNotification& first = n.delivered[1];
  EXPECT_EQ((std::vector<std::string>{first.title, first.informativeText}),
            (std::vector<std::string>{"T2", "B2"}));
  EXPECT_EQ(first.identifier, "n1");
  EXPECT_FALSE(first.sound);
  EXPECT_EQ(first.userInfo,
            Json({{"identifier", "n1"},
                  {"callback", "function (id) { window.clicked = 'again ' + id; }"}}));
  EXPECT_EQ(n.delivered[2].userInfo, Json::object());

  n.click(first.key);  // runs in the main window's page, with the id
  EXPECT_TRUE(waitFor([&] { return js("window.clicked") == "again n1"; }));
  EXPECT_EQ(n.delivered.size(), 2u);

  js("D.dismissNotification(null); D.dismissNotification('nothing'); D.dismissNotification()");
  EXPECT_EQ(n.delivered.size(), 2u);
  js("D.dismissNotification('n2')");
  ASSERT_EQ(n.delivered.size(), 1u);
  EXPECT_EQ(n.delivered[0].title, "bare");
}

}  // namespace wd::test
