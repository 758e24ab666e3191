// The application delegate over doubles: start-up, windows, menu commands (the real menu layout),
// update settings, notification clicks and the events held until the page reports ready.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/Bundle.h"
#include "core/Settings.h"
#include "shell/ShellFakes.h"
#include "shell/app/MainMenu.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/window/ProcessRecovery.h"

namespace wd::test {
namespace {

class AppDelegateTest : public ::testing::Test {
 protected:
  void ready() { app.main().pageEvents().pageReady(); }
  LaunchedApp app;
};

TEST_F(AppDelegateTest, LaunchMakesOneMainWindowAndReopenShowsItAgain) {
  EXPECT_EQ(app.main().url, "public/index.html");
  EXPECT_EQ(app.main().params, 1);
  EXPECT_TRUE(app.main().visible);
  EXPECT_EQ(app.main().fronts, 0);  // shown without a sender: no activation
  EXPECT_TRUE(app.delegate->childWindowControllers().empty());
  app.main().visible = false;
  EXPECT_FALSE(app.delegate->applicationShouldHandleReopen(false));
  EXPECT_TRUE(app.main().visible);
  EXPECT_TRUE(app.delegate->applicationShouldHandleReopen(true));
  EXPECT_TRUE(app.windows.made.empty());
  EXPECT_TRUE(LaunchedApp(false).delegate->applicationShouldHandleReopen(false));
  // The one-time "run anyway" answer is spent by a launch.
  UserDefaults::standard().setBool(Settings::kRunAnyway, true);
  LaunchedApp again;
  EXPECT_FALSE(UserDefaults::standard().boolForKey(Settings::kRunAnyway));
  // The update settings are stored (on disk) when the page first starts the checker.
  auto& defaults = UserDefaults::standard();
  defaults.removeObjectForKey(Settings::kUpdatePeriod);
  defaults.removeObjectForKey(Settings::kUpdateServiceURL);
  EXPECT_FALSE(app.delegate->updateChecker());
  app.delegate->startUpdateCheckerWith("mail.example.com");
  EXPECT_TRUE(app.delegate->updateChecker());  // on the stored values: UpdateCheckerTest
  const UserDefaults disk(defaults.file());
  EXPECT_EQ(disk.integerForKey(Settings::kUpdatePeriod), 14400);
  EXPECT_EQ(disk.stringForKey(Settings::kUpdateServiceURL),
            std::optional<std::string>(AppDelegate::kBuiltInUpdateServiceURL));
}

TEST_F(AppDelegateTest, ChildWindowsAreRegisteredShownLimitedAndReleasedOnClose) {
  // The main window is never a child.
  auto main = app.windows.main;
  app.delegate->registerChildController(main);
  app.delegate->unregisterChildController(main.get());
  app.delegate->windowDidClose(main.get());
  EXPECT_TRUE(app.delegate->childWindowControllers().empty());
  EXPECT_TRUE(app.delegate->isMainWindow(main.get()));
  EXPECT_FALSE(app.delegate->isMainWindow(nullptr));
  auto window = app.delegate->newWindowWithRequest("https://example.com/compose");
  ASSERT_TRUE(window);
  auto* fake = static_cast<FakeWindow*>(window.get());
  EXPECT_EQ(fake->url, "https://example.com/compose");
  EXPECT_EQ(fake->fronts, 1);
  ASSERT_EQ(app.delegate->childWindowControllers().size(), 1u);
  EXPECT_FALSE(app.delegate->isMainWindow(window.get()));
  // Secondary windows are limited; one closing makes room for one more (its release with its
  // web view: WebWindows).
  while (app.delegate->childWindowControllers().size() < WindowHost::kMaxChildWindows)
    ASSERT_TRUE(app.delegate->newWindowWithRequest("https://example.com/more"));
  EXPECT_FALSE(app.delegate->mayOpenChildWindow());
  EXPECT_EQ(app.delegate->newWindowWithRequest("https://example.com/one-too-many"), nullptr);
  app.delegate->windowDidClose(window.get());
  app.delegate->windowDidClose(nullptr);  // unknown: nothing
  EXPECT_EQ(app.delegate->childWindowControllers().size(), WindowHost::kMaxChildWindows - 1);
  EXPECT_TRUE(app.delegate->newWindowWithRequest("https://example.com/again"));
}

TEST_F(AppDelegateTest, MenuItemsReachThePageTheWorkspaceAndTheApplication) {
  g_autoptr(GSimpleActionGroup) actions = g_simple_action_group_new();
  MainMenu menu(G_ACTION_MAP(actions), [this] { return app.delegate.get(); });
  ASSERT_TRUE(menu.load(*Bundle::main().pathForResource("MainMenu", "ui", "ui")));
  ready();
  for (const char* label : {"New Message", "New Event", "New Contact", "New Task", "New Note",
                            "Reply", "Forward", "Delete", "Mail", "Contacts", "Send Feedback"})
    EXPECT_EQ(menu.findItem(label).value_or(MainMenu::Item{}).target, label) << label;
  EXPECT_EQ(MainMenu::titleOf("snake__case"), "snake_case");  // a doubled underscore stays one
  EXPECT_EQ(MainMenu::titleOf("_"), "");
  auto about = menu.findItem("About Wendrel Desktop");
  ASSERT_TRUE(about);
  EXPECT_FALSE(about->target);
  // Title items pass their title and bring the main window forward; Send Feedback does not, nor
  // does Out of Office, which asks for the opposite of its state.
  const std::tuple<const char*, Json, bool> cases[] = {
      {"New Message", event("newItem", {{"item", "New Message"}}), true},
      {"Reply All", event("messageAction", {{"action", "Reply All"}}), true},
      {"Calendar", event("gotoModule", {{"module", "Calendar"}}), true},
      {"Search", event("fulltextSearch", nullptr), true},
      {"Send Feedback", event("showFeedback", nullptr), false},
      {"Out of Office", event("setOutOfOffice", {{"enabled", "true"}}), false},
  };
  for (const auto& [label, sent, shows] : cases) {
    SCOPED_TRACE(label);
    app.main().visible = false;
    ASSERT_TRUE(menu.activateItem(label));
    EXPECT_EQ(app.main().log().back(), sent);
    EXPECT_EQ(app.main().visible, shows);
  }
  menu.setOutOfOfficeState(true);
  ASSERT_TRUE(menu.activateItem("Out of Office"));
  EXPECT_TRUE(menu.outOfOfficeState());
  EXPECT_EQ(app.main().log().back(), event("setOutOfOffice", {{"enabled", "false"}}));
  EXPECT_EQ(app.main().log().size(), std::size(cases) + 1);
  ASSERT_TRUE(menu.activateItem("Knowledge Base"));
  ASSERT_TRUE(menu.activateItem("Support"));
  EXPECT_EQ(app.workspace.opened,
            (std::vector<std::string>{AppDelegate::kKnowledgebaseURL, AppDelegate::kSupportURL}));
  const int fronts = app.main().fronts;
  ASSERT_TRUE(menu.activateItem("Show Main Window"));
  EXPECT_EQ(app.main().fronts, fronts + 1);
  EXPECT_EQ(app.control.calls, std::vector<std::string>{"activate"});
  EXPECT_TRUE(menu.findItem("Preferences"));
  ASSERT_TRUE(menu.activateItem("Quit"));
  EXPECT_EQ(app.control.calls.back(), "terminate");
  // Without an update checker, Check for Update does nothing (and does not fail).
  ASSERT_TRUE(menu.activateItem("Check for Update…"));
  EXPECT_FALSE(menu.activateItem("No Such Item"));
}

// Mail links too: one event with the last before the ready report; the scheme is compared exactly.
TEST_F(AppDelegateTest, HeldEventsOnePerNameAreDeliveredOnceThenEventsGoOutAtOnce) {
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  app.delegate->handleGetURLEvent("mailto:bob@example.com?subject=Hello%20there&body=Hi");
  app.delegate->newItem("New Event");
  app.delegate->gotoModule("Mail");
  app.delegate->newItem("New Message");
  app.delegate->setOutOfOffice(false);
  app.delegate->fulltextSearch();
  app.delegate->openFiles({"/tmp/a.txt"});
  app.delegate->openFiles({});
  app.delegate->openFiles({"/tmp/b.txt", "/tmp/c d.pdf"});
  EXPECT_EQ(app.main().log(), Json::array());
  ready();
  Json log = app.main().log();
  ASSERT_EQ(log.size(), 6u);
  for (const Json& e :
       {event("newEmailRequest", {{"url", "bob@example.com?subject=Hello%20there&body=Hi"}}),
        event("newItem", {{"item", "New Message"}}), event("gotoModule", {{"module", "Mail"}}),
        event("setOutOfOffice", {{"enabled", "true"}}), event("fulltextSearch", nullptr),
        event("shareFileRequest", {{"files", {"/tmp/b.txt", "/tmp/c d.pdf"}}})})
    EXPECT_NE(std::find(log.begin(), log.end(), e), log.end()) << e.dump();
  EXPECT_TRUE(app.delegate->mainWindowController()->appInitialized());
  ready();  // a second report (the page reloaded) delivers nothing again
  EXPECT_EQ(app.main().log().size(), 6u);
  app.delegate->handleGetURLEvent("MAILTO:ann@example.com");
  EXPECT_EQ(app.main().log().size(), 6u);
  app.delegate->handleGetURLEvent("mailto:");
  EXPECT_EQ(app.main().log().back(), event("newEmailRequest", {{"url", ""}}));
  app.delegate->messageAction("Reply");
  EXPECT_EQ(app.main().log().back(), event("messageAction", {{"action", "Reply"}}));
  // File names that are not UTF-8 arrive in display form with the others.
  app.delegate->openFiles({"/tmp/caf\xe9.txt", "/tmp/plain.txt"});
  EXPECT_EQ(app.main().log().back()["data"]["files"],
            Json({"/tmp/caf\xef\xbf\xbd.txt", "/tmp/plain.txt"}));  // the bad byte as U+FFFD
  // A page whose process died comes back with its gate closed: what comes meanwhile is held
  // and the new page's report delivers it.
  app.main().pageEvents().closeGate();
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  app.delegate->openFiles({"/tmp/a.txt"});
  EXPECT_EQ(app.main().log().size(), 9u);
  ready();
  EXPECT_EQ(app.main().log().size(), 11u);
}

// A click brings the main window forward and withdraws the notification at once; only the
// callback (of one with an identifier, which the callback gets as a string) waits for the page,
// and of the clicks before the ready report only the last one's runs.
TEST_F(AppDelegateTest, NotificationClicksRunOnlyTheLastCallbackAfterTheHeldEventsOnce) {
  const Json info = {
      {"callback", "function (id) { window.log.push({name: 'callback', data: id}); }"}};
  auto ka = app.notifications.deliver({.identifier = "a", .userInfo = info});
  auto kb = app.notifications.deliver({.identifier = "it's \"b\"", .userInfo = info});
  app.delegate->handleGetURLEvent("mailto:ann@example.com");
  app.main().visible = false;
  app.notifications.click(ka);
  app.notifications.click(kb);
  EXPECT_TRUE(app.main().visible);
  EXPECT_TRUE(app.notifications.delivered.empty());
  EXPECT_EQ(app.main().log(), Json::array());
  ready();
  EXPECT_EQ(app.main().log(), Json::array({event("newEmailRequest", {{"url", "ann@example.com"}}),
                                           event("callback", "it's \"b\"")}));
  ready();
  // Without a callback, without an identifier, or one that does not parse: nothing runs (not
  // even the page's callbackWrapper left by the click above); each still withdraws.
  const int fronts = app.main().fronts;
  for (const UserNotification& c :
       {UserNotification{.identifier = "x"},
        UserNotification{.userInfo = {{"callback", "function () { window.log.push('ran'); }"}}},
        UserNotification{.identifier = "y", .userInfo = {{"callback", "}{ not a function"}}}})
    app.notifications.click(app.notifications.deliver(c));
  EXPECT_EQ(app.main().log().size(), 2u);
  EXPECT_EQ(app.main().fronts, fronts + 3);
  EXPECT_TRUE(app.notifications.delivered.empty());
}

// The page's own call, through DesktopCommand installed as MacGap.DesktopCommand: any page's
// report releases the main window's events, a secondary window's too.
TEST_F(AppDelegateTest, PublishAppReadyFromAnyPageReleasesTheMainWindowsEvents) {
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
  app.main().page.evaluate("MacGap.DesktopCommand.publishAppReady()");  // nothing again
  EXPECT_EQ(app.main().log().size(), 1u);
}

// Reloading stops at the third death within a minute, counted over a sliding minute.
TEST(ReloadBudget, TheThirdDeathWithinAMinuteStopsReloading) {
  constexpr std::int64_t s = 1'000'000;
  // The deaths, whether the last one reloads; in the third row the first death is a minute old.
  const std::pair<std::vector<std::int64_t>, bool> cases[] = {{{0, 1 * s}, true},
                                                              {{0, 1 * s, 2 * s}, false},
                                                              {{0, 30 * s, 60 * s}, true},
                                                              {{0, 1 * s, 2 * s, 3 * s}, false},
                                                              {{0, 1 * s, 100 * s, 101 * s}, true}};
  for (const auto& [deaths, reloads] : cases) {
    ReloadBudget budget;
    bool last = true;
    for (auto t : deaths) last = budget.recordDeath(t);
    EXPECT_EQ(last, reloads) << deaths.size() << " deaths, last at " << deaths.back();
  }
  ReloadBudget reset;
  reset.recordDeath(0);
  reset.recordDeath(1);
  reset.reset();  // the user asked for a reload
  EXPECT_TRUE(reset.recordDeath(2));
}

TEST(MailtoSpecifier, KeepsEverythingAfterTheScheme) {
  for (const char* url :
       {"mailto:a@b.c?subject=x&cc=d@e.f", "mailto:?to=a@b.c", "mailto:a%40b.c?body=%E2%82%AC%20x"})
    EXPECT_EQ(MainWindowController::mailtoResourceSpecifier(url), std::string(url + 7));
  for (std::string bad :
       {std::string("mailto :a@b.c"), std::string("mailto:a\0b", 10), std::string("mailto:a%00b"),
        std::string("mailto:a b@c.d"), std::string("mailto:a%zz"), std::string("mailto:a%4")})
    EXPECT_FALSE(MainWindowController::mailtoResourceSpecifier(bad)) << bad;
}

}  // namespace
}  // namespace wd::test
