#pragma once
// A double of the desktop's notification server on its own session bus connection: records
// Notify and CloseNotification, emits ActionInvoked and NotificationClosed on request.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "shell/BusPeer.h"

namespace wd::test {

class NotificationDaemon : public BusPeer {
 public:
  struct Notify {
    std::uint32_t id = 0;
    std::string appName, summary, body;
    std::vector<std::string> actions;
    std::map<std::string, std::string> hints;  // printed values
  };

  NotificationDaemon();
  // True once the name is owned.
  bool ready() const { return owned(); }
  // The user clicks the notification: ActionInvoked(id, "default"), then NotificationClosed.
  void click(std::uint32_t id);
  // The notification goes away (reason 1 expired, 2 dismissed, 3 closed by call).
  void close(std::uint32_t id, std::uint32_t reason);

  std::vector<Notify> notified;
  std::vector<std::uint32_t> closeCalls;

 private:
  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant*, GDBusMethodInvocation*, gpointer);
  std::uint32_t nextId_ = 1;
};

}  // namespace wd::test
