#pragma once
// Desktop notifications as the application sees them: deliver one, list the ones still shown,
// withdraw one, and learn when the user clicks one. The real service speaks the freedesktop
// notification protocol over D-Bus; tests use a double behind the same interface.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"

namespace wd {

struct UserNotification {
  std::uint64_t key = 0;                  // assigned by the service at delivery; unique
  std::optional<std::string> identifier;  // the poster's identifier, when it gave one
  std::string title;
  std::string subtitle;
  std::string informativeText;
  bool sound = true;               // false: delivered silently
  Json userInfo = Json::object();  // small dictionary handed back on a click
};

class NotificationService {
 public:
  using ActivationHandler = std::function<void(const UserNotification&)>;
  virtual ~NotificationService() = default;

  // Shows the notification now; returns the key it is known by from then on.
  virtual std::uint64_t deliver(UserNotification notification) = 0;
  // The notifications still shown, oldest first.
  virtual std::vector<UserNotification> deliveredNotifications() const = 0;
  // Withdraws a delivered notification (nothing when it is no longer delivered).
  virtual void removeDeliveredNotification(std::uint64_t key) = 0;
  // Called when the user clicks a delivered notification (it is still in the delivered list).
  void setActivationHandler(ActivationHandler handler) { onActivate_ = std::move(handler); }

 protected:
  void activated(const UserNotification& notification) {
    if (onActivate_) onActivate_(notification);
  }

 private:
  ActivationHandler onActivate_;
};

}  // namespace wd
