// MacGap itself (App) driven from real JavaScript in the headless page: paths, dropped files,
// notifications and their records, closeNotification, application control, URLs, events; and
// MacGap.Notify (posts as MacGap.notify does, withdraws by id or "*") and MacGap.Dock (the
// context's launcher badge).
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <regex>

#include "core/Bundle.h"
#include "core/NotificationCenter.h"
#include "shell/ShellFakes.h"
#include "shell/commands/App.h"
#include "shell/commands/Dock.h"
#include "shell/commands/Notify.h"
#include "shell/system/Badge.h"
#include "shell/system/SystemEvents.h"

namespace wd::test {
namespace {

class AppObject : public ::testing::Test, protected FakeShell {
 protected:
  void SetUp() override {
    window = std::make_shared<FakeWindow>();
    app = std::make_shared<App>(window, context, window);
    window->page.install({app,
                          {{"Notify", std::make_shared<Notify>(window, context)},
                           {"Dock", std::make_shared<Dock>(window, context)}}});
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  std::vector<std::string> deliveredIds() const {
    std::vector<std::string> ids;
    for (const auto& n : notifications->delivered) ids.push_back(n.userInfo.value("id", ""));
    return ids;
  }

  std::shared_ptr<FakeNotificationService>& notifications = notificationsPtr;
  std::shared_ptr<FakeWorkspace>& workspace = workspacePtr;
  std::shared_ptr<FakeWindow> window;
  std::shared_ptr<App> app;
};

TEST_F(AppObject, PathsAreTheApplicationsAndTheUsersDirectories) {
  EXPECT_EQ(js("MacGap.resourcePath"), Json(Bundle::main().resourcePath().string()));
  EXPECT_EQ(js("MacGap.homePath"), Json(std::string(getenv("HOME"))));
  EXPECT_EQ(js("MacGap.libraryPath"), Json(std::string(getenv("XDG_DATA_HOME"))));
  EXPECT_EQ(js("typeof MacGap.documentsPath"), Json("string"));
  EXPECT_EQ(js("MacGap.tempPath.length > 0"), Json(true));
  EXPECT_EQ(js("MacGap.applicationPath.length > 0"), Json(true));
  // Read-only: the page cannot change them.
  js("try { MacGap.homePath = '/elsewhere'; } catch (e) {}");
  EXPECT_EQ(js("MacGap.homePath"), Json(std::string(getenv("HOME"))));
}

TEST_F(AppObject, DroppedFilesAreUndefinedUntilADropThenTheLastList) {
  EXPECT_EQ(js("typeof MacGap.droppedFiles"), Json("undefined"));
  app->addFiles({"/tmp/one.txt"});
  app->addFiles({"/tmp/two.txt", "/tmp/three 3.txt"});
  EXPECT_EQ(js("MacGap.droppedFiles"), Json({"/tmp/two.txt", "/tmp/three 3.txt"}));
  window->page.reload();  // the same object survives a reload
  EXPECT_EQ(js("MacGap.droppedFiles.length"), Json(2));
}

TEST_F(AppObject, NotifyWithOnlyATitlePostsWithAFreshUUIDAndRecordsIt) {
  double before = js("Date.now()").get<double>();
  js("MacGap.notify({title: 'Hello'})");
  ASSERT_EQ(notifications->posted.size(), 1u);
  const auto& n = notifications->posted[0];
  EXPECT_EQ(n.title, "Hello");
  EXPECT_TRUE(n.sound);
  std::string id = n.userInfo.at("id").get<std::string>();
  EXPECT_TRUE(std::regex_match(
      id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << id;
  Json records = js("MacGap.notifications");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["id"], Json(id));
  EXPECT_EQ(records[0]["title"], Json("Hello"));
  EXPECT_EQ(js("MacGap.notifications[0].sentOn instanceof Date"), Json(true));
  double sentOn = js("MacGap.notifications[0].sentOn.getTime()").get<double>();
  EXPECT_GE(sentOn, before - 1000);
  EXPECT_LE(sentOn, js("Date.now()").get<double>() + 1000);
}

TEST_F(AppObject, NotifyFieldsSoundAndSheet) {
  js("MacGap.notify({id: 'a', title: 'T', subtitle: 'S', content: 'C', sound: false})");
  js("MacGap.notify({id: 'b', sound: true})");
  js("MacGap.notify({id: 'c', sound: 0})");
  js("MacGap.notify({id: 'd', sound: 'no'})");
  js("MacGap.notify({id: 'e', sound: null})");
  ASSERT_EQ(notifications->posted.size(), 5u);
  EXPECT_EQ(notifications->posted[0].subtitle, "S");
  EXPECT_EQ(notifications->posted[0].informativeText, "C");
  EXPECT_FALSE(notifications->posted[0].sound);
  EXPECT_TRUE(notifications->posted[1].sound);
  EXPECT_FALSE(notifications->posted[2].sound);
  EXPECT_FALSE(notifications->posted[3].sound);
  EXPECT_TRUE(notifications->posted[4].sound);
  Json records = js("MacGap.notifications");
  EXPECT_EQ(records[1].contains("title"), false);  // no title given: no title entry

  // A sheet posts nothing and records nothing (there is no main window here: nothing shows).
  js("MacGap.notify({type: 'sheet', title: 'Sheet', content: 'Text', id: 'x'})");
  EXPECT_EQ(notifications->posted.size(), 5u);
  EXPECT_EQ(js("MacGap.notifications.length"), Json(5));
  // Bad arguments never throw into the page.
  EXPECT_EQ(js("try { MacGap.notify(); MacGap.notify(null); MacGap.notify('x'); 'ok' } "
               "catch (e) { String(e) }"),
            Json("ok"));
}

// By id: every delivered match is withdrawn and its record dropped; a notification no longer
// delivered (the user dismissed it) keeps its record. "*" withdraws everything, records stay.
TEST_F(AppObject, CloseNotificationWithdrawsByIdOrEverything) {
  js("MacGap.notify({id: 'same', title: '1'}); MacGap.notify({id: 'same', title: '2'});"
     "MacGap.notify({id: 'other', title: '3'}); MacGap.notify({id: 'gone'});");
  std::erase_if(notifications->delivered,
                [](const auto& n) { return n.userInfo.value("id", "") == "gone"; });
  js("MacGap.closeNotification('same'); MacGap.closeNotification('gone')");
  EXPECT_EQ(notifications->delivered.size(), 1u);
  EXPECT_EQ(js("MacGap.notifications.map(function (r) { return r.id; })"), Json({"other", "gone"}));
  js("MacGap.closeNotification('nothing'); MacGap.closeNotification(); "
     "MacGap.closeNotification(null)");
  EXPECT_EQ(notifications->delivered.size(), 1u);
  EXPECT_EQ(js("MacGap.notifications.length"), Json(2));

  notifications->deliver(UserNotification());  // of another poster (no "id" entry)
  js("MacGap.closeNotification('*')");
  EXPECT_TRUE(notifications->delivered.empty());
  EXPECT_EQ(js("MacGap.notifications.length"), Json(2));
}

// URLs and applications the page names reach the desktop; missing ones reach nothing.
TEST_F(AppObject, WorkspaceGetsOnlyWhatThePageNames) {
  js("MacGap.openURL('https://example.com/a?b=c'); MacGap.openURL(); MacGap.launch('Firefox');"
     "MacGap.launch(null)");
  EXPECT_EQ(workspace->opened, std::vector<std::string>{"https://example.com/a?b=c"});
  EXPECT_EQ(workspace->launched, std::vector<std::string>{"Firefox"});
  // No web view behind this window: setting the user agent does nothing and does not fail.
  EXPECT_EQ(js("MacGap.setUserAgent('X/1'); typeof MacGap.setCustomUserAgent"), Json("undefined"));
  // The idle time comes from the display server: none without a display connection.
  EXPECT_EQ(js("typeof MacGap.idleTime"), Json(gdk_display_get_default() ? "number" : "undefined"));
}

TEST_F(AppObject, SleepWakeAndActivationBecomePageEvents) {
  js("window.seen = []; ['sleep','wake','appActivated'].forEach(function (n) {"
     "  document.addEventListener(n, function (e) { seen.push([n, e.data]); }); });");
  center.post(SystemEvents::kWillSleep);
  center.post(SystemEvents::kDidWake);
  center.post(SystemEvents::kDidActivateApplication,
              Json{{"localizedName", "Files"}, {"bundleURL", "file:///usr/share/applications/x"}});
  center.post(SystemEvents::kDidActivateApplication);  // no application: no event
  EXPECT_EQ(
      js("seen"),
      Json::array({Json::array({"sleep", Json::object()}), Json::array({"wake", Json::object()}),
                   Json::array({"appActivated",
                                {{"localizedName", "Files"},
                                 {"bundleURL", "file:///usr/share/applications/x"}}})}));
  // Once the window is gone nothing is raised (and nothing fails).
  window.reset();
  center.post(SystemEvents::kWillSleep);
}

TEST_F(AppObject, NotifyPostsAsTheAppObjectDoesAndKeepsNoList) {
  js("MacGap.Notify.notify({title: 'Hello'})");
  js("MacGap.Notify.notify({id: 7, title: 'T', subtitle: 'S', content: 'C', sound: 'no'})");
  js("MacGap.Notify.notify({type: 'sheet', title: 'Alert'})");  // an alert, not delivered
  js("MacGap.Notify.notify(); MacGap.Notify.notify(42)");       // no options: a blank one each
  ASSERT_EQ(notifications->posted.size(), 4u);
  EXPECT_EQ(notifications->posted[0].title, "Hello");
  EXPECT_EQ(notifications->posted[0].userInfo.at("id").get<std::string>().size(), 36u);
  EXPECT_TRUE(notifications->posted[0].sound);
  const auto& full = notifications->posted[1];
  EXPECT_EQ(full.userInfo, Json({{"id", "7"}}));
  EXPECT_EQ(full.subtitle, "S");
  EXPECT_EQ(full.informativeText, "C");
  EXPECT_FALSE(full.sound);
  EXPECT_EQ(js("typeof MacGap.Notify.notifications"), Json("undefined"));
  EXPECT_EQ(js("MacGap.notifications.length"), Json(0));  // the App object's list is its own
}

TEST_F(AppObject, CloseWithdrawsByIdOrEverythingWithoutTouchingLists) {
  js("MacGap.notify({id: 'app', title: 'from App'})");
  js("MacGap.Notify.notify({id: 'a'}); MacGap.Notify.notify({id: 'b'});"
     "MacGap.Notify.notify({id: 'a'})");
  js("MacGap.Notify.close('nothing'); MacGap.Notify.close(); MacGap.Notify.close(null);"
     "MacGap.Notify.close('A')");
  EXPECT_EQ(deliveredIds(), (std::vector<std::string>{"app", "a", "b", "a"}));
  js("MacGap.Notify.close('a')");
  EXPECT_EQ(deliveredIds(), (std::vector<std::string>{"app", "b"}));
  js("MacGap.Notify.close('*')");
  EXPECT_TRUE(notifications->delivered.empty());
  EXPECT_EQ(js("MacGap.notifications.length"), Json(1));  // the App object's record stays
}

TEST_F(AppObject, DockBadgeIsSetClearedAndReadBack) {
  struct Case {
    const char* script;
    Json badge;  // null: undefined
  };
  const Case cases[] = {
      {"MacGap.Dock.addBadge('3')", "3"},
      {"MacGap.Dock.removeBadge()", nullptr},
      {"MacGap.Dock.addBadge('new mail')", "new mail"},
      {"MacGap.Dock.addBadge()", nullptr},
      {"MacGap.Dock.addBadge('12'); MacGap.Dock.addBadge('')", nullptr},
      {"MacGap.Dock.addBadge(5)", "5"},
      {"MacGap.Dock.addBadge(null)", nullptr},
      {"MacGap.Dock.addBadge('\\u00e9\\u0000x')", std::string("\xc3\xa9\0x", 4)},
  };
  EXPECT_EQ(js("typeof MacGap.Dock.badge"), Json("undefined"));
  for (const auto& c : cases) {
    js(c.script);
    if (c.badge.is_null()) {
      EXPECT_EQ(js("typeof MacGap.Dock.badge"), Json("undefined")) << c.script;
      EXPECT_FALSE(context.badge().label()) << c.script;
    } else {
      EXPECT_EQ(js("MacGap.Dock.badge"), c.badge) << c.script;
    }
  }
  js("try { MacGap.Dock.badge = '9'; } catch (e) {}");  // read-only
  EXPECT_EQ(js("MacGap.Dock.badge"), Json(std::string("\xc3\xa9\0x", 4)));
}

// Every agent accepted is one the engine takes without a critical; the others are refused.
TEST(AppUserAgent, OnlyHeaderValuesTheEngineTakesAreAccepted) {
  int criticals = 0;
  const GLogFunc before = g_log_set_default_handler(
      +[](const gchar*, GLogLevelFlags level, const gchar*, gpointer count) {
        if (level & G_LOG_LEVEL_CRITICAL) ++*static_cast<int*>(count);
      },
      &criticals);
  WebKitSettings* settings = webkit_settings_new();
  for (const char* good :
       {"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) Safari/605.1",
        "a", "tab\tinside", "x/1 (nested (comment) \\) ok)", "p/1 (a;b,c@d/e{f}\"g)"}) {
    EXPECT_TRUE(App::isValidUserAgent(good)) << good;
    webkit_settings_set_user_agent(settings, good);
    EXPECT_EQ(criticals, 0) << good;
    EXPECT_STREQ(webkit_settings_get_user_agent(settings), good);
  }
  for (std::string bad : {std::string(),          std::string("line\nbreak"),
                          std::string("cr\r"),    std::string("nul\0x", 5),
                          std::string("del\x7f"), std::string("caf\xc3\xa9"),
                          std::string("a,b"),     std::string("a;b"),
                          std::string("@"),       std::string("a/"),
                          std::string("/1"),      std::string("a "),
                          std::string(" a"),      std::string("(c)"),
                          std::string("a (open"), std::string("a close)"),
                          std::string("a {b}"),   std::string("\"q\""),
                          std::string("a/1/2"),   std::string("a (\\")})
    EXPECT_FALSE(App::isValidUserAgent(bad)) << bad;
  g_object_unref(settings);
  g_log_set_default_handler(before, nullptr);
}

TEST(AppTruthValue, FollowsThePlatformsReading) {
  using bridge::Value;
  const std::pair<Value, bool> cases[] = {
      {Value(true), true},  {Value(0), false},      {Value(2.5), true},
      {Value("yes"), true}, {Value(" true"), true}, {Value("false"), false},
      {Value(""), false},   {Value("0"), false},    {Value("007"), true},
  };
  for (const auto& [value, truth] : cases) EXPECT_EQ(App::truthValue(value), truth);
}

}  // namespace
}  // namespace wd::test
