// The application delegate: start-up, reopen, the window registry, menu commands (through the
// real menu layout and its actions), update settings and notification clicks.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/Bundle.h"
#include "core/NotificationCenter.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "shell/ShellFakes.h"
#include "shell/app/MainMenu.h"

namespace wd::test {
namespace {

Json event(const std::string& name, Json data) {
  return Json{{"name", name}, {"data", data}};
}

TEST(AppDelegateLaunch, MakesOneMainWindowOnTheBundledPageAndShowsIt) {
  UserDefaults::standard().setBool(Settings::kRunAnyway, true);
  LaunchedApp app;
  EXPECT_EQ(app.windows.mainPath, "public/index.html");
  EXPECT_EQ(app.main().params, 1);
  EXPECT_TRUE(app.main().visible);
  EXPECT_EQ(app.main().fronts, 0);  // shown without a sender: no activation
  EXPECT_FALSE(UserDefaults::standard().boolForKey(Settings::kRunAnyway));
  EXPECT_TRUE(app.delegate->childWindowControllers().empty());
  EXPECT_FALSE(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());
}

TEST(AppDelegateLaunch, ReopenShowsTheHiddenMainWindowWithoutASecondOne) {
  LaunchedApp app;
  app.main().visible = false;
  EXPECT_FALSE(app.delegate->applicationShouldHandleReopen(false));
  EXPECT_TRUE(app.main().visible);
  EXPECT_TRUE(app.delegate->applicationShouldHandleReopen(true));
  EXPECT_TRUE(app.windows.made.empty());

  LaunchedApp unlaunched(false);
  EXPECT_TRUE(unlaunched.delegate->applicationShouldHandleReopen(false));
}

TEST(WindowRegistry, TheMainWindowIsNeverAChild) {
  LaunchedApp app;
  auto main = app.windows.main;
  app.delegate->registerChildController(main);
  EXPECT_TRUE(app.delegate->childWindowControllers().empty());
  EXPECT_TRUE(app.delegate->isMainWindow(main.get()));
  app.delegate->unregisterChildController(main.get());
  app.delegate->windowDidClose(main.get());
  EXPECT_TRUE(app.delegate->isMainWindow(main.get()));
  EXPECT_FALSE(app.delegate->isMainWindow(nullptr));
}

TEST(WindowRegistry, NewWindowIsRegisteredShownInFrontAndReleasedOnClose) {
  LaunchedApp app;
  auto window = app.delegate->newWindowWithRequest("https://example.com/compose");
  ASSERT_TRUE(window);
  auto* fake = static_cast<FakeWindow*>(window.get());
  EXPECT_EQ(fake->url, "https://example.com/compose");
  EXPECT_EQ(fake->fronts, 1);
  ASSERT_EQ(app.delegate->childWindowControllers().size(), 1u);
  EXPECT_FALSE(app.delegate->isMainWindow(window.get()));

  auto second = app.delegate->newWindowWithRequest("");
  EXPECT_EQ(app.delegate->childWindowControllers().size(), 2u);
  std::weak_ptr<WebWindow> weak = window;
  app.delegate->windowDidClose(window.get());
  window.reset();
  EXPECT_TRUE(weak.expired());  // the registry held the last reference
  ASSERT_EQ(app.delegate->childWindowControllers().size(), 1u);
  EXPECT_EQ(app.delegate->childWindowControllers()[0], second);
  app.delegate->windowDidClose(window.get());  // unknown: nothing
  EXPECT_EQ(app.delegate->childWindowControllers().size(), 1u);

  // Secondary windows are limited; one closing makes room for one more.
  while (app.delegate->childWindowControllers().size() < WindowHost::kMaxChildWindows)
    ASSERT_TRUE(app.delegate->newWindowWithRequest("https://example.com/more"));
  EXPECT_FALSE(app.delegate->mayOpenChildWindow());
  EXPECT_EQ(app.delegate->newWindowWithRequest("https://example.com/one-too-many"), nullptr);
  EXPECT_EQ(app.delegate->childWindowControllers().size(), WindowHost::kMaxChildWindows);
  app.delegate->windowDidClose(second.get());
  EXPECT_TRUE(app.delegate->newWindowWithRequest("https://example.com/again"));
}

TEST(MenuTitles, MnemonicUnderscoresAreNotPartOfTheTitle) {
  const std::pair<const char*, const char*> cases[] = {{"_File", "File"},
                                                       {"New _Message", "New Message"},
                                                       {"snake__case", "snake_case"},
                                                       {"Plain", "Plain"},
                                                       {"_", ""},
                                                       {"", ""}};
  for (const auto& [label, title] : cases) EXPECT_EQ(MainMenu::titleOf(label), title) << label;
}

class MenuCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    actions = g_simple_action_group_new();
    menu = std::make_unique<MainMenu>(G_ACTION_MAP(actions), [this] { return app.delegate.get(); });
    auto layout = Bundle::main().pathForResource("MainMenu", "ui", "ui");
    ASSERT_TRUE(layout);
    ASSERT_TRUE(menu->load(*layout));
    app.main().pageEvents().pageReady();
  }
  void TearDown() override {
    menu.reset();
    g_object_unref(actions);
  }
  LaunchedApp app;
  GSimpleActionGroup* actions = nullptr;
  std::unique_ptr<MainMenu> menu;
};

TEST_F(MenuCommands, TitleItemsPassTheirTitleAndShowTheMainWindow) {
  app.main().visible = false;
  ASSERT_TRUE(menu->activateItem("New Message"));
  EXPECT_TRUE(app.main().visible);
  ASSERT_TRUE(menu->activateItem("Reply All"));
  ASSERT_TRUE(menu->activateItem("Calendar"));
  ASSERT_TRUE(menu->activateItem("Search"));
  EXPECT_EQ(app.main().log(), Json::array({event("newItem", {{"item", "New Message"}}),
                                           event("messageAction", {{"action", "Reply All"}}),
                                           event("gotoModule", {{"module", "Calendar"}}),
                                           event("fulltextSearch", nullptr)}));
}

TEST_F(MenuCommands, EveryTitleTakingItemCarriesItsOwnLabel) {
  for (const char* label : {"New Message", "New Event", "New Contact", "New Task", "New Note",
                            "Reply", "Forward", "Delete", "Mail", "Contacts", "Send Feedback"}) {
    auto item = menu->findItem(label);
    ASSERT_TRUE(item) << label;
    EXPECT_EQ(item->target, std::optional<std::string>(label)) << label;
  }
  auto about = menu->findItem("About Wendrel Desktop");
  ASSERT_TRUE(about);
  EXPECT_FALSE(about->target);
  for (const char* label :
       {"Check for Update…", "Preferences", "Out of Office", "Show Main Window", "Quit"})
    EXPECT_TRUE(menu->findItem(label)) << label;
}

TEST_F(MenuCommands, OutOfOfficeAsksForTheOppositeAndKeepsItsState) {
  app.main().visible = false;
  ASSERT_TRUE(menu->activateItem("Out of Office"));
  EXPECT_FALSE(menu->outOfOfficeState());
  menu->setOutOfOfficeState(true);
  ASSERT_TRUE(menu->activateItem("Out of Office"));
  EXPECT_TRUE(menu->outOfOfficeState());
  EXPECT_EQ(app.main().log(), Json::array({event("setOutOfOffice", {{"enabled", "true"}}),
                                           event("setOutOfOffice", {{"enabled", "false"}})}));
  EXPECT_FALSE(app.main().visible);  // not shown first
}

TEST_F(MenuCommands, FeedbackHelpQuitAndShowMainWindow) {
  ASSERT_TRUE(menu->activateItem("Send Feedback"));
  EXPECT_EQ(app.main().log(), Json::array({event("showFeedback", nullptr)}));
  ASSERT_TRUE(menu->activateItem("Knowledge Base"));
  ASSERT_TRUE(menu->activateItem("Support"));
  EXPECT_EQ(app.workspace.opened,
            (std::vector<std::string>{AppDelegate::kKnowledgebaseURL, AppDelegate::kSupportURL}));
  ASSERT_TRUE(menu->activateItem("Show Main Window"));
  EXPECT_EQ(app.main().fronts, 1);
  EXPECT_EQ(app.control.calls, std::vector<std::string>{"activate"});
  ASSERT_TRUE(menu->activateItem("Quit"));
  EXPECT_EQ(app.control.calls.back(), "terminate");
  // Without an update checker, Check for Update does nothing (and does not fail).
  ASSERT_TRUE(menu->activateItem("Check for Update…"));
  EXPECT_FALSE(menu->activateItem("No Such Item"));
}

class UpdateSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    UserDefaults::standard().removeObjectForKey(Settings::kUpdatePeriod);
    UserDefaults::standard().removeObjectForKey(Settings::kUpdateServiceURL);
  }
  LaunchedApp app;
};

TEST_F(UpdateSettings, NoStoredValuesStoreTheBuiltInOnesAndStartAChecker) {
  EXPECT_FALSE(app.delegate->updateChecker());
  app.delegate->startUpdateCheckerWith("mail.example.com");
  auto& defaults = UserDefaults::standard();
  EXPECT_EQ(defaults.integerForKey(Settings::kUpdatePeriod), 14400);
  EXPECT_EQ(defaults.stringForKey(Settings::kUpdateServiceURL),
            std::optional<std::string>(AppDelegate::kBuiltInUpdateServiceURL));
  ASSERT_TRUE(app.delegate->updateChecker());
  EXPECT_TRUE(app.delegate->updateChecker()->updateServer()->starts_with(
      std::string(AppDelegate::kBuiltInUpdateServiceURL) + "?server=mail.example.com&"));
  EXPECT_EQ(app.delegate->updateChecker()->seconds(), 14400);
  // Stored on disk: a fresh store reads the same.
  UserDefaults again(defaults.file());
  EXPECT_EQ(again.integerForKey(Settings::kUpdatePeriod), 14400);
}

TEST_F(UpdateSettings, NegativePeriodStopsCheckingAndStoredValuesAreKept) {
  UserDefaults::standard().setString(Settings::kUpdateServiceURL, "https://127.0.0.1:9/v1/x");
  UserDefaults::standard().setInteger(Settings::kUpdatePeriod, 60);
  app.delegate->startUpdateCheckerWith("a");
  ASSERT_TRUE(app.delegate->updateChecker());
  EXPECT_TRUE(
      app.delegate->updateChecker()->updateServer()->starts_with("https://127.0.0.1:9/v1/x?"));
  EXPECT_EQ(app.delegate->updateChecker()->seconds(), 60);
  UserDefaults::standard().setInteger(Settings::kUpdatePeriod, -1);
  app.delegate->startUpdateCheckerWith("b");
  EXPECT_FALSE(app.delegate->updateChecker());
  EXPECT_EQ(UserDefaults::standard().integerForKey(Settings::kUpdatePeriod), -1);
}

TEST(NotificationClicks, RunTheCallbackInTheMainPageAndWithdrawTheNotification) {
  LaunchedApp app;
  app.main().pageEvents().pageReady();
  app.main().visible = false;
  UserNotification n;
  n.identifier = "it's \"quoted\"";
  n.userInfo = {{"identifier", *n.identifier},
                {"callback", "function (id) { window.log.push({name: 'cb', data: id}); }"}};
  auto key = app.notifications.deliver(n);
  app.notifications.click(key);
  EXPECT_EQ(app.main().log(), Json::array({event("cb", "it's \"quoted\"")}));
  EXPECT_EQ(app.main().fronts, 1);
  EXPECT_TRUE(app.notifications.delivered.empty());
}

TEST(NotificationClicks, WithoutCallbackOrIdentifierOnlyFrontAndWithdraw) {
  LaunchedApp app;
  app.main().pageEvents().pageReady();
  UserNotification noCallback;
  noCallback.identifier = "x";
  UserNotification noIdentifier;
  noIdentifier.userInfo = {{"callback", "function () { window.log.push('ran'); }"}};
  // A page function of the same name from an earlier click must not run for a bad callback.
  app.main().page.evaluate("var callbackWrapper = function () { window.log.push('stale'); };");
  UserNotification badCallback;
  badCallback.identifier = "y";
  badCallback.userInfo = {{"callback", "}{ not a function"}};
  for (auto* n : {&noCallback, &noIdentifier, &badCallback}) {
    auto key = app.notifications.deliver(*n);
    app.notifications.click(key);
  }
  EXPECT_EQ(app.main().log(), Json::array());
  EXPECT_EQ(app.main().fronts, 3);
  EXPECT_TRUE(app.notifications.delivered.empty());
}

}  // namespace
}  // namespace wd::test
