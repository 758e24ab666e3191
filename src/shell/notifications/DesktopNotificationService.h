#pragma once
// Notifications through the desktop's notification server (org.freedesktop.Notifications on the
// session bus), called asynchronously so the main loop never waits on the server. A click is the
// server's "default" action; the delivered list follows the server's NotificationClosed signal.
#include <gio/gio.h>

#include <memory>

#include "shell/notifications/NotificationService.h"

namespace wd {

class DesktopNotificationService : public NotificationService {
 public:
  // Uses `connection` when given, else the session bus (when there is none, notifications are
  // dropped with a warning).
  explicit DesktopNotificationService(GDBusConnection* connection = nullptr);
  ~DesktopNotificationService() override;
  DesktopNotificationService(const DesktopNotificationService&) = delete;
  DesktopNotificationService& operator=(const DesktopNotificationService&) = delete;

  std::uint64_t deliver(UserNotification notification) override;
  std::vector<UserNotification> deliveredNotifications() const override;
  void removeDeliveredNotification(std::uint64_t key) override;

  // Text of the body sent to the server: the subtitle and the text on separate lines, escaped
  // when the server reads markup.
  static std::string bodyText(const UserNotification& n, bool serverReadsMarkup);

  struct State;  // shared with asynchronous calls, which hold it weakly

 private:
  std::shared_ptr<State> state_;
};

}  // namespace wd
