// The main window controller's event cache: what the page receives before and after it
// reports ready, and in which order.
#include <gtest/gtest.h>

#include "bridge/Event.h"
#include "core/NotificationCenter.h"
#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/window/ProcessRecovery.h"

namespace wd::test {
namespace {

Json event(const std::string& name, Json data) {
  return Json{{"name", name}, {"data", data}};
}

class EventCache : public ::testing::Test {
 protected:
  LaunchedApp app;
  void ready() { app.main().pageEvents().pageReady(); }
};

TEST_F(EventCache, TwoMailtoLinksBeforeReadyGiveOneEventWithTheSecond) {
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  app.delegate->handleGetURLEvent("mailto:bob@example.com?subject=Hello%20there&body=Hi");
  EXPECT_EQ(app.main().log(), Json::array());
  ready();
  EXPECT_EQ(app.main().log(),
            Json::array({event("newEmailRequest",
                               {{"url", "bob@example.com?subject=Hello%20there&body=Hi"}})}));
}

TEST_F(EventCache, MailtoSchemeIsComparedExactlyAndOtherURLsAreIgnored) {
  ready();
  for (const char* url : {"MAILTO:ann@example.com", "Mailto:ann@example.com", "http://example.com",
                          "mailto:%zz", "not a url", "", "mailto"})
    app.delegate->handleGetURLEvent(url);
  EXPECT_EQ(app.main().log(), Json::array());
  app.delegate->handleGetURLEvent("mailto:");
  EXPECT_EQ(app.main().log(), Json::array({event("newEmailRequest", {{"url", ""}})}));
}

TEST_F(EventCache, OneEntryPerNameAllDeliveredOnceThenImmediateDispatch) {
  app.delegate->newItem("New Event");
  app.delegate->gotoModule("Mail");
  app.delegate->newItem("New Message");
  app.delegate->setOutOfOffice(false);
  app.delegate->fulltextSearch();
  app.delegate->openFiles({"/tmp/a.txt"});
  app.delegate->openFiles({});
  app.delegate->openFiles({"/tmp/b.txt", "/tmp/c d.pdf"});
  EXPECT_EQ(app.main().pageEvents().heldEvents().size(), 5u);
  EXPECT_EQ(app.main().log(), Json::array());
  ready();
  Json log = app.main().log();
  ASSERT_EQ(log.size(), 5u);
  for (const Json& e :
       {event("newItem", {{"item", "New Message"}}), event("gotoModule", {{"module", "Mail"}}),
        event("setOutOfOffice", {{"enabled", "true"}}), event("fulltextSearch", nullptr),
        event("shareFileRequest", {{"files", {"/tmp/b.txt", "/tmp/c d.pdf"}}})})
    EXPECT_NE(std::find(log.begin(), log.end(), e), log.end()) << e.dump();
  EXPECT_TRUE(app.main().pageEvents().heldEvents().empty());
  EXPECT_TRUE(app.controller().appInitialized());

  // A second "appReady" (the page reloaded) delivers nothing again.
  ready();
  EXPECT_EQ(app.main().log().size(), 5u);
  // Afterwards events go out at once.
  app.delegate->messageAction("Reply");
  EXPECT_EQ(app.main().log().back(), event("messageAction", {{"action", "Reply"}}));
}

TEST_F(EventCache, ClickedNotificationBeforeReadyRunsAfterTheCachedEventsExactlyOnce) {
  UserNotification n;
  n.identifier = "n-1";
  n.userInfo = {{"identifier", "n-1"},
                {"callback", "function (id) { window.log.push({name: 'callback', data: id}); }"}};
  auto key = app.notifications.deliver(n);
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  app.main().visible = false;
  app.notifications.click(key);
  // The window comes forward and the notification is withdrawn at once; only the page's
  // callback waits for the page.
  EXPECT_TRUE(app.main().visible);
  EXPECT_TRUE(app.notifications.delivered.empty());
  EXPECT_TRUE(app.main().pageEvents().heldScript().has_value());
  EXPECT_EQ(app.main().log(), Json::array());
  ready();
  EXPECT_EQ(app.main().log(), Json::array({event("newEmailRequest", {{"url", "ann@example.com"}}),
                                           event("callback", "n-1")}));
  EXPECT_FALSE(app.main().pageEvents().heldScript().has_value());
  ready();
  EXPECT_EQ(app.main().log().size(), 2u);
}

TEST_F(EventCache, OnlyTheLastClickedNotificationIsHeld) {
  UserNotification a, b;
  a.identifier = "a";
  a.userInfo = {{"callback", "function (id) { window.log.push(id); }"}};
  b = a;
  b.identifier = "b";
  auto ka = app.notifications.deliver(a);
  auto kb = app.notifications.deliver(b);
  app.notifications.click(ka);
  app.notifications.click(kb);
  ready();
  EXPECT_EQ(app.main().log(), Json::array({"b"}));
}

TEST_F(EventCache, FileNamesThatAreNotUTF8ArriveInDisplayFormWithTheOthers) {
  ready();
  app.delegate->openFiles({"/tmp/caf\xe9.txt", "/tmp/plain.txt"});
  Json log = app.main().log();
  ASSERT_EQ(log.size(), 1u);
  const Json& files = log[0]["data"]["files"];
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], Json("/tmp/caf\xef\xbf\xbd.txt"));  // the bad byte shown as U+FFFD
  EXPECT_EQ(files[1], Json("/tmp/plain.txt"));
}

// The page's own call, through DesktopCommand installed as MacGap.DesktopCommand: any page's
// report releases the main window's events, a secondary window's too.
TEST_F(EventCache, PublishAppReadyFromAnyPageReleasesTheMainWindowsEvents) {
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  auto child = app.delegate->newWindowWithRequest("https://example.com/compose");
  for (const auto& window : {child, std::shared_ptr<WebWindow>(app.windows.main)}) {
    auto command = std::make_shared<DesktopCommand>(window, &app.context,
                                                    [this] { return app.delegate.get(); });
    auto& page = static_cast<FakeWindow&>(*window).page;
    page.install({command, {{"DesktopCommand", command}}});
    page.evaluate(FakeWindow::kLogScript);  // installing made a new context
  }
  static_cast<FakeWindow&>(*child).page.evaluate("MacGap.DesktopCommand.publishAppReady()");
  EXPECT_TRUE(child->pageEvents().isReady());
  EXPECT_TRUE(app.main().pageEvents().isReady());
  EXPECT_EQ(app.main().log(),
            Json::array({event("newEmailRequest", {{"url", "ann@example.com"}})}));
  EXPECT_TRUE(app.main().pageEvents().heldEvents().empty());
  // The main page's own later report delivers nothing again.
  app.main().page.evaluate("MacGap.DesktopCommand.publishAppReady()");
  EXPECT_EQ(app.main().log().size(), 1u);
}

// A page whose process died comes back with its gate closed: what is held stays, what comes
// meanwhile is held too, and the new page's report delivers both.
TEST_F(EventCache, ARecoveredPageGetsWhatWasHeldAfterItReportsReady) {
  ready();
  app.main().pageEvents().closeGate();
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  app.delegate->openFiles({"/tmp/a.txt"});
  EXPECT_EQ(app.main().log(), Json::array());
  ready();
  EXPECT_EQ(app.main().log().size(), 2u);
}

// Reloading stops at the third death within a minute, counted over a sliding minute.
TEST(ReloadBudget, TheThirdDeathWithinAMinuteStopsReloading) {
  constexpr std::int64_t s = 1'000'000;
  const struct {
    std::vector<std::int64_t> deaths;
    bool reloads;  // after the last one
  } cases[] = {
      {{0}, true},
      {{0, 1 * s}, true},
      {{0, 1 * s, 2 * s}, false},
      {{0, 30 * s, 59 * s}, false},
      {{0, 30 * s, 60 * s}, true},  // the first is a minute old
      {{0, 1 * s, 2 * s, 3 * s}, false},
      {{0, 1 * s, 100 * s, 101 * s}, true},
  };
  for (const auto& c : cases) {
    ReloadBudget budget;
    bool last = true;
    for (auto t : c.deaths) last = budget.recordDeath(t);
    EXPECT_EQ(last, c.reloads) << c.deaths.size() << " deaths, last at " << c.deaths.back();
  }
  ReloadBudget reset;
  reset.recordDeath(0);
  reset.recordDeath(1);
  reset.reset();  // the user asked for a reload
  EXPECT_TRUE(reset.recordDeath(2));
}

TEST(MailtoSpecifier, KeepsEverythingAfterTheScheme) {
  EXPECT_EQ(MainWindowController::mailtoResourceSpecifier("mailto:a@b.c?subject=x&cc=d@e.f"),
            "a@b.c?subject=x&cc=d@e.f");
  EXPECT_EQ(MainWindowController::mailtoResourceSpecifier("mailto:?to=a@b.c"), "?to=a@b.c");
  EXPECT_FALSE(MainWindowController::mailtoResourceSpecifier("mailto :a@b.c"));
  for (std::string bad : {std::string("mailto:a\0b", 10), std::string("mailto:a%00b"),
                          std::string("mailto:\"<x>\"@b.c"), std::string("mailto:a b@c.d"),
                          std::string("mailto:caf\xc3\xa9@b.c"), std::string("mailto:a%zz"),
                          std::string("mailto:a%4"), std::string("mailto:a{b}")})
    EXPECT_FALSE(MainWindowController::mailtoResourceSpecifier(bad)) << bad;
  EXPECT_EQ(MainWindowController::mailtoResourceSpecifier("mailto:a%40b.c?body=%E2%82%AC%20x"),
            "a%40b.c?body=%E2%82%AC%20x");
}

}  // namespace
}  // namespace wd::test
