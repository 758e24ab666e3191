#pragma once
// A peer of the application on the test session's bus, on a connection of its own as another
// process would be: it serves one interface at one path under a name it owns.
#include <gio/gio.h>

#include "support/Loop.h"

namespace wd::test {

class BusPeer {
 public:
  BusPeer() {
    g_autofree gchar* address =
        g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (address)
      connection = g_dbus_connection_new_for_address_sync(
          address,
          GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr);
  }
  ~BusPeer() {
    if (!connection) return;
    if (owner_) g_bus_unown_name(owner_);
    if (registration_) g_dbus_connection_unregister_object(connection, registration_);
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
  }
  BusPeer(const BusPeer&) = delete;
  BusPeer& operator=(const BusPeer&) = delete;

  // Serves the first interface of `xml` at `path` (its methods go to `method` with `data`) and
  // owns `name`; true once the name is owned.
  bool serve(const char* name, const char* path, const char* xml,
             GDBusInterfaceMethodCallFunc method, gpointer data) {
    if (!connection) return false;
    g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(xml, nullptr);
    vtable_.method_call = method;
    registration_ = g_dbus_connection_register_object(connection, path, node->interfaces[0],
                                                      &vtable_, data, nullptr, nullptr);
    owner_ = g_bus_own_name_on_connection(
        connection, name, G_BUS_NAME_OWNER_FLAGS_REPLACE,
        [](GDBusConnection*, const gchar*, gpointer self) {
          static_cast<BusPeer*>(self)->owned_ = true;
        },
        nullptr, this, nullptr);
    return waitFor([this] { return owned_; });
  }
  bool owned() const { return owned_; }
  bool hasOwner(const char* name) const {
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, nullptr);
    gboolean has = FALSE;
    if (reply) g_variant_get(reply, "(b)", &has);
    return has;
  }

  GDBusConnection* connection = nullptr;

 private:
  GDBusInterfaceVTable vtable_ = {};
  guint registration_ = 0, owner_ = 0;
  bool owned_ = false;
};

}  // namespace wd::test
