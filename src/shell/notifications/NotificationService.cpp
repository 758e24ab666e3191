#include "shell/notifications/NotificationService.h"

#include "shell/notifications/DesktopNotificationService.h"

namespace wd {

namespace {
std::shared_ptr<NotificationService>& slot() {
  static std::shared_ptr<NotificationService> service;
  return service;
}
}  // namespace

NotificationService& NotificationService::shared() {
  auto& s = slot();
  if (!s) s = std::make_shared<DesktopNotificationService>();
  return *s;
}

void NotificationService::setShared(std::shared_ptr<NotificationService> service) {
  slot() = std::move(service);
}

}  // namespace wd
