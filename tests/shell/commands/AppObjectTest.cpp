// MacGap itself (App) in the headless page: paths, dropped files, notifications and their
// records, application control, URLs, events; MacGap.Notify (posts as MacGap.notify does,
// withdraws by id or "*") and MacGap.Dock (the context's launcher badge).
#include <gdk/gdk.h>
#include <webkit2/webkit2.h>

#include <regex>

#include "PageObjectTest.h"
#include "core/Bundle.h"
#include "shell/commands/App.h"
#include "shell/commands/Dock.h"
#include "shell/commands/Notify.h"
#include "shell/system/Badge.h"
#include "shell/system/SystemEvents.h"

namespace wd::test {

class AppObject : public PageObjectTest, protected FakeShell {
 protected:
  void SetUp() override {
    window->page.install({app,
                          {{"Notify", std::make_shared<Notify>(window, context)},
                           {"Dock", std::make_shared<Dock>(window, context)}}});
  }
  std::vector<std::string> deliveredIds() const {
    std::vector<std::string> ids;
    for (const auto& n : notifications.delivered) ids.push_back(n.userInfo.value("id", ""));
    return ids;
  }
  std::vector<bool> sounds() const {
    std::vector<bool> out;
    for (const auto& n : notifications.posted) out.push_back(n.sound);
    return out;
  }

  std::shared_ptr<App> app = std::make_shared<App>(window, context, window);
};

TEST_F(AppObject, PathsDroppedFilesAndWhatThePageNames) {
  js("try { MacGap.homePath = '/elsewhere'; } catch (e) {}");  // read-only
  expectAll({{"MacGap.resourcePath", Bundle::main().resourcePath().string()},
             {"MacGap.homePath", getenv("HOME")},
             {"MacGap.libraryPath", getenv("XDG_DATA_HOME")},
             {"typeof MacGap.documentsPath", "string"},
             {"MacGap.tempPath.length > 0 && MacGap.applicationPath.length > 0", true},
             {"typeof MacGap.droppedFiles", "undefined"},
             // No web view behind this window: setting the user agent does nothing, nor fails.
             {"MacGap.setUserAgent('X/1'); typeof MacGap.setCustomUserAgent", "undefined"},
             // The idle time comes from the display server: none without a display connection.
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
}

TEST_F(AppObject, NotifyPostsWithItsFieldsAndRecordsWhatItPosted) {
  js("window.before = Date.now(); MacGap.notify({title: 'Hello'});"
     "MacGap.notify({id: 'a', title: 'T', subtitle: 'S', content: 'C', sound: false});"
     "[true, 0, 'no', null].forEach(function (s, i) { MacGap.notify({id: 'b' + i, sound: s}); });"
     // A sheet posts nothing and records nothing (there is no main window here: nothing shows).
     "MacGap.notify({type: 'sheet', title: 'Sheet', content: 'Text', id: 'x'})");
  const auto& posted = notifications.posted;
  ASSERT_EQ(posted.size(), 6u);
  EXPECT_EQ(sounds(), (std::vector<bool>{true, false, true, false, false, true}));
  EXPECT_EQ((std::vector<std::string>{posted[0].title, posted[1].title, posted[1].subtitle,
                                      posted[1].informativeText}),
            (std::vector<std::string>{"Hello", "T", "S", "C"}));
  const std::string id = posted[0].userInfo.at("id").get<std::string>();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}"))) << id;
  expectAll({{"MacGap.notifications.length", 6},
             {"MacGap.notifications[0].id === " + lit(id), true},
             {"MacGap.notifications[0].title", "Hello"},
             {"'title' in MacGap.notifications[2]", false},  // no title given: no title entry
             {"var s = MacGap.notifications[0].sentOn;"
              "s instanceof Date && s >= before - 1000 && s <= Date.now() + 1000",
              true}});
  expectNoThrow("MacGap.notify(); MacGap.notify(null); MacGap.notify('x')");
}

// By id: every delivered match is withdrawn and its record dropped; a notification no longer
// delivered (the user dismissed it) keeps its record. "*" withdraws everything, records stay.
TEST_F(AppObject, CloseNotificationWithdrawsByIdOrEverything) {
  js("MacGap.notify({id: 'same', title: '1'}); MacGap.notify({id: 'same', title: '2'});"
     "MacGap.notify({id: 'other', title: '3'}); MacGap.notify({id: 'gone'});");
  std::erase_if(notifications.delivered,
                [](const auto& n) { return n.userInfo.value("id", "") == "gone"; });
  js("MacGap.closeNotification('same'); MacGap.closeNotification('gone');"
     "MacGap.closeNotification('nothing'); MacGap.closeNotification();"
     "MacGap.closeNotification(null)");
  EXPECT_EQ(deliveredIds(), std::vector<std::string>{"other"});
  EXPECT_EQ(js("MacGap.notifications.map(function (r) { return r.id; })"), Json({"other", "gone"}));
  notifications.deliver(UserNotification());  // of another poster (no "id" entry)
  js("MacGap.closeNotification('*')");
  EXPECT_TRUE(notifications.delivered.empty());
  EXPECT_EQ(js("MacGap.notifications.length"), Json(2));
}

TEST_F(AppObject, SleepWakeAndActivationBecomePageEvents) {
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

TEST_F(AppObject, NotifyPostsAsTheAppObjectDoesAndWithdrawsWithoutTouchingLists) {
  js("MacGap.notify({id: 'app', title: 'from App'}); MacGap.Notify.notify({title: 'Hello'});"
     "MacGap.Notify.notify({id: 7, title: 'T', subtitle: 'S', content: 'C', sound: 'no'});"
     "MacGap.Notify.notify({type: 'sheet', title: 'Alert'});"  // an alert, not delivered
     "MacGap.Notify.notify(); MacGap.Notify.notify(42)");      // no options: a blank one each
  const auto& posted = notifications.posted;
  ASSERT_EQ(posted.size(), 5u);
  EXPECT_EQ(posted[1].title, "Hello");
  EXPECT_EQ(posted[1].userInfo.at("id").get<std::string>().size(), 36u);
  EXPECT_EQ(sounds(), (std::vector<bool>{true, true, false, true, true}));
  EXPECT_EQ(posted[2].userInfo, Json({{"id", "7"}}));
  EXPECT_EQ((std::vector<std::string>{posted[2].subtitle, posted[2].informativeText}),
            (std::vector<std::string>{"S", "C"}));
  EXPECT_EQ(js("typeof MacGap.Notify.notifications"), Json("undefined"));

  notifications.delivered.resize(1);  // the user dismissed all but the App object's
  js("MacGap.Notify.notify({id: 'a'}); MacGap.Notify.notify({id: 'b'});"
     "MacGap.Notify.notify({id: 'a'}); MacGap.Notify.close('nothing'); MacGap.Notify.close();"
     "MacGap.Notify.close(null); MacGap.Notify.close('A')");
  EXPECT_EQ(deliveredIds(), (std::vector<std::string>{"app", "a", "b", "a"}));
  js("MacGap.Notify.close('a')");
  EXPECT_EQ(deliveredIds(), (std::vector<std::string>{"app", "b"}));
  js("MacGap.Notify.close('*')");
  EXPECT_TRUE(notifications.delivered.empty());
  EXPECT_EQ(js("MacGap.notifications.length"), Json(1));  // the App object's record stays
}

TEST_F(AppObject, DockBadgeIsSetClearedAndReadBack) {
  const std::string accented("\xc3\xa9\0x", 4);
  const std::pair<const char*, Json> cases[] = {
      {"addBadge('3')", "3"},
      {"removeBadge()", "none"},
      {"addBadge('new mail')", "new mail"},
      {"addBadge()", "none"},
      {"addBadge('12'); MacGap.Dock.addBadge('')", "none"},
      {"addBadge(5)", "5"},
      {"addBadge(null)", "none"},
      {"addBadge('\\u00e9\\u0000x')", accented},
  };
  EXPECT_EQ(js("typeof MacGap.Dock.badge"), Json("undefined"));
  for (const auto& [script, badge] : cases) {
    EXPECT_EQ(js("MacGap.Dock." + std::string(script) +
                 "; var b = MacGap.Dock.badge; b === undefined ? 'none' : b"),
              badge)
        << script;
    EXPECT_EQ(badge == "none", !context.badge().label()) << script;
  }
  js("try { MacGap.Dock.badge = '9'; } catch (e) {}");  // read-only
  EXPECT_EQ(js("MacGap.Dock.badge"), Json(accented));
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
  for (std::string bad :
       {"", "line\nbreak", "cr\r", "del\x7f", "caf\xc3\xa9", "a,b", "a;b", "@", "a/", "/1", "a ",
        " a", "(c)", "a (open", "a close)", "a {b}", "\"q\"", "a/1/2", "a (\\"})
    EXPECT_FALSE(App::isValidUserAgent(bad)) << bad;
  EXPECT_FALSE(App::isValidUserAgent(std::string("nul\0x", 5)));
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

}  // namespace wd::test
