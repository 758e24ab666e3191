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

  NotificationDaemon() {
    serve("org.freedesktop.Notifications", kPath, R"(<node>
      <interface name="org.freedesktop.Notifications">
        <method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/>
          <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
          <arg type="as" direction="in"/><arg type="a{sv}" direction="in"/>
          <arg type="i" direction="in"/><arg type="u" direction="out"/></method>
        <method name="CloseNotification"><arg type="u" direction="in"/></method>
        <method name="GetCapabilities"><arg type="as" direction="out"/></method>
      </interface></node>)",
          onMethod, this);
  }
  // The user clicks the notification: ActionInvoked(id, "default"), then NotificationClosed.
  void click(std::uint32_t id) {
    g_dbus_connection_emit_signal(connection, nullptr, kPath, kInterface, "ActionInvoked",
                                  g_variant_new("(us)", id, "default"), nullptr);
    close(id, 2);
  }
  // The notification goes away (reason 1 expired, 2 dismissed, 3 closed by call).
  void close(std::uint32_t id, std::uint32_t reason) {
    g_dbus_connection_emit_signal(connection, nullptr, kPath, kInterface, "NotificationClosed",
                                  g_variant_new("(uu)", id, reason), nullptr);
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
  }

  std::vector<Notify> notified;
  std::vector<std::uint32_t> closeCalls;

 private:
  static constexpr const char* kPath = "/org/freedesktop/Notifications";
  static constexpr const char* kInterface = "org.freedesktop.Notifications";

  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* params, GDBusMethodInvocation* invocation,
                       gpointer data) {
    auto* self = static_cast<NotificationDaemon*>(data);
    GVariant* reply = nullptr;
    if (g_strcmp0(method, "Notify") == 0) {
      const gchar *app, *summary, *body;
      g_autofree const gchar** actions = nullptr;
      g_autoptr(GVariantIter) hints = nullptr;
      g_variant_get(params, "(&su&s&s&s^a&sa{sv}i)", &app, nullptr, nullptr, &summary, &body,
                    &actions, &hints, nullptr);
      Notify n{self->nextId_++, app, summary, body};
      for (auto* a = actions; *a; ++a) n.actions.emplace_back(*a);
      const gchar* key = nullptr;
      GVariant* value = nullptr;
      while (g_variant_iter_loop(hints, "{&sv}", &key, &value)) {
        g_autofree gchar* text = g_variant_print(value, FALSE);
        n.hints[key] = text;
      }
      self->notified.push_back(n);
      reply = g_variant_new("(u)", n.id);
    } else if (g_strcmp0(method, "CloseNotification") == 0) {
      guint32 id = 0;
      g_variant_get(params, "(u)", &id);
      self->closeCalls.push_back(id);
      g_dbus_method_invocation_return_value(invocation, nullptr);
      return self->close(id, 3);
    } else {  // GetCapabilities
      const gchar* caps[] = {"actions", "body", "body-markup", nullptr};
      reply = g_variant_new("(^as)", const_cast<gchar**>(caps));
    }
    g_dbus_method_invocation_return_value(invocation, reply);
  }
  std::uint32_t nextId_ = 1;
};

}  // namespace wd::test
