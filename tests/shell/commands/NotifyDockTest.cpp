// MacGap.Notify and MacGap.Dock in the headless page: Notify posts as MacGap.notify does and
// withdraws by id or "*" (the App object's notifications too); Dock sets, clears and reads the
// launcher badge (the context's real launcher badge on the test session bus).
#include <gtest/gtest.h>

#include "shell/ShellFakes.h"
#include "shell/commands/App.h"
#include "shell/commands/Dock.h"
#include "shell/commands/Notify.h"
#include "shell/system/Badge.h"

namespace wd::test {
namespace {

class NotifyAndDock : public ::testing::Test, protected FakeShell {
 protected:
  void SetUp() override {
    window = std::make_shared<FakeWindow>();
    app = std::make_shared<App>(window, context, window);
    notify = std::make_shared<Notify>(window, context);
    dock = std::make_shared<Dock>(window, context);
    window->page.install({app, {{"Notify", notify}, {"Dock", dock}}});
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  std::vector<std::string> deliveredIds() const {
    std::vector<std::string> ids;
    for (const auto& n : notifications.delivered) ids.push_back(n.userInfo.value("id", ""));
    return ids;
  }

  std::shared_ptr<FakeWindow> window;
  std::shared_ptr<App> app;
  std::shared_ptr<Notify> notify;
  std::shared_ptr<Dock> dock;
};

TEST_F(NotifyAndDock, NotifyPostsAsTheAppObjectDoesAndKeepsNoList) {
  js("MacGap.Notify.notify({title: 'Hello'})");
  js("MacGap.Notify.notify({id: 7, title: 'T', subtitle: 'S', content: 'C', sound: 'no'})");
  js("MacGap.Notify.notify({type: 'sheet', title: 'Alert'})");  // an alert, not delivered
  js("MacGap.Notify.notify(); MacGap.Notify.notify(42)");       // no options: a blank one each
  ASSERT_EQ(notifications.posted.size(), 4u);
  EXPECT_EQ(notifications.posted[0].title, "Hello");
  EXPECT_EQ(notifications.posted[0].userInfo.at("id").get<std::string>().size(), 36u);
  EXPECT_TRUE(notifications.posted[0].sound);
  const auto& full = notifications.posted[1];
  EXPECT_EQ(full.userInfo, Json({{"id", "7"}}));
  EXPECT_EQ(full.subtitle, "S");
  EXPECT_EQ(full.informativeText, "C");
  EXPECT_FALSE(full.sound);
  EXPECT_EQ(js("typeof MacGap.Notify.notifications"), Json("undefined"));
  EXPECT_EQ(js("MacGap.notifications.length"), Json(0));  // the App object's list is its own
}

TEST_F(NotifyAndDock, CloseWithdrawsByIdOrEverythingWithoutTouchingLists) {
  js("MacGap.notify({id: 'app', title: 'from App'})");
  js("MacGap.Notify.notify({id: 'a'}); MacGap.Notify.notify({id: 'b'});"
     "MacGap.Notify.notify({id: 'a'})");
  js("MacGap.Notify.close('nothing'); MacGap.Notify.close(); MacGap.Notify.close(null);"
     "MacGap.Notify.close('A')");
  EXPECT_EQ(deliveredIds(), (std::vector<std::string>{"app", "a", "b", "a"}));
  js("MacGap.Notify.close('a')");
  EXPECT_EQ(deliveredIds(), (std::vector<std::string>{"app", "b"}));
  js("MacGap.Notify.close('*')");
  EXPECT_TRUE(notifications.delivered.empty());
  EXPECT_EQ(js("MacGap.notifications.length"), Json(1));  // the App object's record stays
}

TEST_F(NotifyAndDock, DockBadgeIsSetClearedAndReadBack) {
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

}  // namespace
}  // namespace wd::test
