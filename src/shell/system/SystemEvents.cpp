#include "shell/system/SystemEvents.h"

#include <gdk/gdk.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <unistd.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#endif

#include <filesystem>
#include <string>

#include "core/Bundle.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"

namespace wd {

namespace {

std::string fileURL(const std::string& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : "";
  g_free(uri);
  return out;
}

// The desktop entry whose executable is `exe` (absolute path or base name).
GDesktopAppInfo* desktopEntryForExecutable(const std::string& exe) {
  const std::string base = std::filesystem::path(exe).filename().string();
  GList* all = g_app_info_get_all();
  GDesktopAppInfo* found = nullptr;
  for (GList* l = all; l && !found; l = l->next) {
    const char* candidate = g_app_info_get_executable(G_APP_INFO(l->data));
    if (!candidate) continue;
    if (exe == candidate || base == std::filesystem::path(candidate).filename().string())
      found = G_DESKTOP_APP_INFO(g_object_ref(l->data));
  }
  g_list_free_full(all, g_object_unref);
  return found;
}

}  // namespace

Json SystemEvents::applicationInfoForProcess(long pid) {
  if (pid <= 0) return nullptr;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  if (ec) return nullptr;
  if (GDesktopAppInfo* entry = desktopEntryForExecutable(exe.string())) {
    const char* name = g_app_info_get_display_name(G_APP_INFO(entry));
    Json info{{"localizedName", name ? name : exe.filename().string()},
              {"bundleURL", fileURL(g_desktop_app_info_get_filename(entry)
                                        ? g_desktop_app_info_get_filename(entry)
                                        : exe.string())}};
    g_object_unref(entry);
    return info;
  }
  return Json{{"localizedName", exe.filename().string()}, {"bundleURL", fileURL(exe.string())}};
}

Json SystemEvents::ownApplicationInfo() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return Json{{"localizedName", Bundle::main().name()},
              {"bundleURL", ec ? std::string() : fileURL(exe.string())}};
}

struct SystemEvents::Impl {
  explicit Impl(NotificationCenter& c) : center(c) {}
  NotificationCenter& center;
  GDBusConnection* system = nullptr;
  guint sleepSubscription = 0;
  GCancellable* cancellable = g_cancellable_new();
#ifdef GDK_WINDOWING_X11
  GdkWindow* root = nullptr;
  unsigned long lastActive = 0;
#endif
  bool x11 = false;

  static void onPrepareForSleep(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
    gboolean start = FALSE;
    g_variant_get(parameters, "(b)", &start);
    static_cast<Impl*>(data)->center.post(start ? kWillSleep : kDidWake);
  }

  static void onSystemBus(GObject*, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (!bus) {
      if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        WD_LOG_INFO("No system bus: sleep and wake are not reported ({})", error->message);
      g_clear_error(&error);
      return;
    }
    auto* self = static_cast<Impl*>(data);
    self->system = bus;
    self->sleepSubscription = g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
        "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onPrepareForSleep, self,
        nullptr);
  }

#ifdef GDK_WINDOWING_X11
  void activeWindowChanged() {
    GdkDisplay* display = gdk_window_get_display(root);
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    Atom activeAtom = gdk_x11_get_xatom_by_name_for_display(display, "_NET_ACTIVE_WINDOW");
    Atom pidAtom = gdk_x11_get_xatom_by_name_for_display(display, "_NET_WM_PID");
    auto readWindow = [&](Window w, Atom property, Atom type) -> unsigned long {
      Atom actualType = 0;
      int format = 0;
      unsigned long count = 0, after = 0;
      unsigned char* data = nullptr;
      gdk_x11_display_error_trap_push(display);
      int status = XGetWindowProperty(xdisplay, w, property, 0, 1, False, type, &actualType,
                                      &format, &count, &after, &data);
      gdk_x11_display_error_trap_pop_ignored(display);
      unsigned long value = 0;
      if (status == Success && data && count == 1 && format == 32)
        value = *reinterpret_cast<unsigned long*>(data);
      if (data) XFree(data);
      return value;
    };
    unsigned long active = readWindow(GDK_WINDOW_XID(root), activeAtom, XA_WINDOW);
    if (active == 0 || active == lastActive) return;
    lastActive = active;
    unsigned long pid = readWindow(static_cast<Window>(active), pidAtom, XA_CARDINAL);
    Json info = pid == static_cast<unsigned long>(::getpid())
                    ? ownApplicationInfo()
                    : applicationInfoForProcess(static_cast<long>(pid));
    if (!info.is_null()) center.post(kDidActivateApplication, info);
  }

  static GdkFilterReturn rootFilter(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    auto* ev = static_cast<XEvent*>(xevent);
    if (ev->type == PropertyNotify) {
      GdkDisplay* display = gdk_window_get_display(self->root);
      if (ev->xproperty.atom ==
          gdk_x11_get_xatom_by_name_for_display(display, "_NET_ACTIVE_WINDOW"))
        self->activeWindowChanged();
    }
    return GDK_FILTER_CONTINUE;
  }
#endif
};

SystemEvents::SystemEvents(NotificationCenter& center) : impl_(std::make_unique<Impl>(center)) {
  g_bus_get(G_BUS_TYPE_SYSTEM, impl_->cancellable, Impl::onSystemBus, impl_.get());
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    impl_->x11 = true;
    impl_->root = gdk_get_default_root_window();
    gdk_window_set_events(
        impl_->root, GdkEventMask(gdk_window_get_events(impl_->root) | GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(impl_->root, Impl::rootFilter, impl_.get());
  }
#endif
}

SystemEvents::~SystemEvents() {
  g_cancellable_cancel(impl_->cancellable);
  g_object_unref(impl_->cancellable);
#ifdef GDK_WINDOWING_X11
  if (impl_->root) gdk_window_remove_filter(impl_->root, Impl::rootFilter, impl_.get());
#endif
  if (impl_->system) {
    if (impl_->sleepSubscription)
      g_dbus_connection_signal_unsubscribe(impl_->system, impl_->sleepSubscription);
    g_object_unref(impl_->system);
  }
}

}  // namespace wd
