#pragma once
// A double of the desktop's notification server on its own session bus connection: records
// Notify and CloseNotification, emits ActionInvoked and NotificationClosed on request.
#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/Loop.h"

namespace wd::test {

class NotificationDaemon {
 public:
  struct Notify {
    std::uint32_t id = 0;
    std::string appName, summary, body;
    std::vector<std::string> actions;
    std::map<std::string, std::string> hints;  // printed values
  };

  NotificationDaemon();
  ~NotificationDaemon();
  NotificationDaemon(const NotificationDaemon&) = delete;
  NotificationDaemon& operator=(const NotificationDaemon&) = delete;

  // True once the name is owned.
  bool ready() const { return owned_; }
  // The user clicks the notification: ActionInvoked(id, "default"), then NotificationClosed.
  void click(std::uint32_t id);
  // The notification goes away (reason 1 expired, 2 dismissed, 3 closed by call).
  void close(std::uint32_t id, std::uint32_t reason);

  std::vector<Notify> notified;
  std::vector<std::uint32_t> closeCalls;

  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant*, GDBusMethodInvocation*, gpointer);

 private:
  GDBusConnection* connection_ = nullptr;
  guint registration_ = 0;
  guint owner_ = 0;
  bool owned_ = false;
  std::uint32_t nextId_ = 1;
};

}  // namespace wd::test
