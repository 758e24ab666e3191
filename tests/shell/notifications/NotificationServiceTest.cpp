// Desktop notifications over D-Bus against a double of the notification server on the test
// session's private bus: what is sent, clicks and dismissals, the delivered list, withdrawal.
#include <gtest/gtest.h>

#include "shell/NotificationDaemon.h"
#include "shell/notifications/DesktopNotificationService.h"

namespace wd::test {
namespace {

TEST(DesktopNotifications, SendsTextAndSoundLearnsOfClicksAndDismissalsAndWithdraws) {
  NotificationDaemon daemon;
  ASSERT_TRUE(daemon.owned());
  DesktopNotificationService service;
  std::vector<UserNotification> clicked;
  service.setActivationHandler([&](const UserNotification& n) { clicked.push_back(n); });
  // Waits until the server was asked to show `count` notifications.
  const auto sent = [&](std::size_t count) {
    return waitFor([&] { return daemon.notified.size() == count; });
  };
  // A notification withdrawn before it was sent (the server's capabilities not known yet), and
  // one of a service gone before the bus answered, are never shown (counted at the end).
  DesktopNotificationService fresh;
  fresh.removeDeliveredNotification(fresh.deliver({}));
  EXPECT_TRUE(fresh.deliveredNotifications().empty());
  std::make_unique<DesktopNotificationService>()->deliver({});
  const auto key = service.deliver({.identifier = "n1",
                                    .title = "Hello",
                                    .subtitle = "From Ann",
                                    .informativeText = "Lunch <b>today</b>?",
                                    .userInfo = {{"identifier", "n1"}}});
  service.deliver({.title = "Quiet", .sound = false});
  ASSERT_TRUE(sent(2));
  const auto& first = daemon.notified[0];
  // The server reads markup: the page's text is escaped.
  EXPECT_EQ(first.appName + "|" + first.summary + "|" + first.body,
            "Wendrel Desktop|Hello|From Ann\nLunch &lt;b&gt;today&lt;/b&gt;?");
  ASSERT_GE(first.actions.size(), 2u);
  EXPECT_EQ(first.actions[0], "default");
  EXPECT_EQ(first.hints.at("desktop-entry"), "'com.tovik.WendrelDesktop'");
  EXPECT_TRUE(first.hints.contains("sound-name"));
  EXPECT_FALSE(first.hints.contains("suppress-sound"));
  EXPECT_EQ(daemon.notified[1].hints.at("suppress-sound"), "true");
  EXPECT_EQ(service.deliveredNotifications().size(), 2u);
  // A click reaches the handler (once Notify was answered the server's id is known) and the
  // notification leaves the list; one the user dismissed leaves it without a click.
  ASSERT_TRUE(waitFor([&] {
    daemon.click(first.id);
    return !clicked.empty();
  }));
  EXPECT_EQ(clicked[0].key, key);
  EXPECT_EQ(clicked[0].identifier, std::optional<std::string>("n1"));
  ASSERT_TRUE(waitFor([&] { return service.deliveredNotifications().size() == 1; }));
  ASSERT_TRUE(waitFor([&] {
    daemon.close(daemon.notified[1].id, 2);
    return service.deliveredNotifications().empty();
  }));
  EXPECT_EQ(clicked.size(), 1u);
  // Removing withdraws it from the server, whether or not the server's answer came yet.
  auto answering = service.deliver({});
  ASSERT_TRUE(sent(3));
  service.removeDeliveredNotification(answering);  // the server's answer may still be on its way
  EXPECT_TRUE(service.deliveredNotifications().empty());
  ASSERT_TRUE(waitFor([&] { return daemon.closeCalls.size() == 1; }));
  EXPECT_EQ(daemon.closeCalls[0], daemon.notified[2].id);
  auto known = service.deliver({});
  ASSERT_TRUE(sent(4));
  ASSERT_TRUE(waitFor([&] {  // a dismissal by the server would now be seen
    return service.deliveredNotifications().size() == 1 && daemon.closeCalls.size() == 1;
  }));
  service.removeDeliveredNotification(known);
  ASSERT_TRUE(waitFor([&] { return daemon.closeCalls.size() == 2; }));
  EXPECT_EQ(daemon.closeCalls[1], daemon.notified[3].id);
  service.removeDeliveredNotification(12345);  // unknown: nothing
  runLoopFor(0.3);
  EXPECT_EQ(daemon.notified.size(), 4u);  // the withdrawn and the orphaned one never shown
}

TEST(DesktopNotificationsWithoutServer, DeliveriesFailQuietlyAndPlainServersGetPlainText) {
  DesktopNotificationService service;
  service.deliver({});
  EXPECT_TRUE(waitFor([&] { return service.deliveredNotifications().empty(); }));
  const UserNotification n{.informativeText = "a < b & c"};
  EXPECT_EQ(DesktopNotificationService::bodyText(n, false), "a < b & c");
  EXPECT_EQ(DesktopNotificationService::bodyText(n, true), "a &lt; b &amp; c");
}

}  // namespace
}  // namespace wd::test
