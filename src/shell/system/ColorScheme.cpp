#include "shell/system/ColorScheme.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstring>

#include "core/Log.h"

namespace wd {

namespace {
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.Settings";
constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kKey = "color-scheme";
constexpr const char* kPreferDark = "gtk-application-prefer-dark-theme";

bool cancelled(GError* error) {
  return error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}
}  // namespace

DesktopColorScheme::DesktopColorScheme(GtkSettings* settings)
    : settings_(GTK_SETTINGS(g_object_ref(settings))), cancellable_(g_cancellable_new()) {
  gboolean dark = FALSE;
  g_object_get(settings_, kPreferDark, &dark, nullptr);
  themeDefault_ = dark;
  g_bus_get(G_BUS_TYPE_SESSION, cancellable_, onBus, this);
}

DesktopColorScheme::~DesktopColorScheme() {
  g_cancellable_cancel(cancellable_);
  if (watch_) g_bus_unwatch_name(watch_);
  if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  if (scheme_) g_object_set(settings_, kPreferDark, themeDefault_ ? TRUE : FALSE, nullptr);
  g_clear_object(&bus_);
  g_object_unref(cancellable_);
  g_object_unref(settings_);
}

std::optional<DesktopColorScheme::Scheme> DesktopColorScheme::parse(GVariant* value) {
  if (!value) return std::nullopt;
  GVariant* v = g_variant_ref(value);
  // Read answers the value inside one more variant than ReadOne and SettingChanged.
  while (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(v);
    g_variant_unref(v);
    v = inner;
  }
  std::optional<Scheme> out;
  gint64 n = -1;
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
    n = g_variant_get_uint32(v);
  else if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32))
    n = g_variant_get_int32(v);
  if (n >= 0 && n <= 2) out = static_cast<Scheme>(n);
  g_variant_unref(v);
  return out;
}

void DesktopColorScheme::onBus(GObject*, GAsyncResult* result, void* data) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  if (!bus) {
    if (!cancelled(error))
      WD_LOG_INFO("No session bus: the colour scheme follows the theme ({})", error->message);
    g_clear_error(&error);
    return;
  }
  auto* self = static_cast<DesktopColorScheme*>(data);
  if (g_cancellable_is_cancelled(self->cancellable_)) {
    g_object_unref(bus);
    return;
  }
  self->bus_ = bus;
  self->subscription_ = g_dbus_connection_signal_subscribe(
      bus, kPortal, kInterface, "SettingChanged", kPath, kNamespace, G_DBUS_SIGNAL_FLAGS_NONE,
      onChanged, self, nullptr);
  self->watch_ = g_bus_watch_name_on_connection(bus, kPortal, G_BUS_NAME_WATCHER_FLAGS_AUTO_START,
                                                onAppeared, onVanished, self, nullptr);
}

void DesktopColorScheme::read(bool readOne) {
  g_dbus_connection_call(bus_, kPortal, kPath, kInterface, readOne ? "ReadOne" : "Read",
                         g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NONE, 10000, cancellable_, readOne ? onReadOne : onRead,
                         this);
}

void DesktopColorScheme::onReadOne(GObject* source, GAsyncResult* result, void* data) {
  answered(source, result, data, true);
}

void DesktopColorScheme::onRead(GObject* source, GAsyncResult* result, void* data) {
  answered(source, result, data, false);
}

void DesktopColorScheme::answered(GObject* source, GAsyncResult* result, void* data, bool readOne) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (cancelled(error)) {  // the object is gone
    g_error_free(error);
    return;
  }
  auto* self = static_cast<DesktopColorScheme*>(data);
  if (!reply) {
    // Portals before version 2 have no ReadOne; any other failure (no such setting): the theme
    // decides.
    const bool oldPortal =
        readOne && g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
    g_clear_error(&error);
    if (oldPortal)
      self->read(false);
    else
      self->apply(std::nullopt);
    return;
  }
  GVariant* value = g_variant_get_child_value(reply, 0);
  self->apply(parse(value));
  g_variant_unref(value);
  g_variant_unref(reply);
}

void DesktopColorScheme::onAppeared(GDBusConnection*, const char*, const char*, void* data) {
  static_cast<DesktopColorScheme*>(data)->read(true);
}

void DesktopColorScheme::onVanished(GDBusConnection*, const char*, void* data) {
  static_cast<DesktopColorScheme*>(data)->apply(std::nullopt);
}

void DesktopColorScheme::onChanged(GDBusConnection*, const char*, const char*, const char*,
                                   const char*, GVariant* parameters, void* data) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
  const char* ns = nullptr;
  const char* key = nullptr;
  GVariant* value = nullptr;
  g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
  if (std::strcmp(ns, kNamespace) == 0 && std::strcmp(key, kKey) == 0)
    static_cast<DesktopColorScheme*>(data)->apply(parse(value));
  g_variant_unref(value);
}

void DesktopColorScheme::apply(std::optional<Scheme> scheme) {
  scheme_ = scheme;
  bool dark = themeDefault_;
  if (scheme == Dark) dark = true;
  if (scheme == Light) dark = false;
  gboolean current = FALSE;
  g_object_get(settings_, kPreferDark, &current, nullptr);
  if (static_cast<bool>(current) != dark)
    g_object_set(settings_, kPreferDark, dark ? TRUE : FALSE, nullptr);
}

}  // namespace wd
