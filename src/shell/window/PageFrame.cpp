#include "shell/window/PageFrame.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <utility>

#include "core/Log.h"

// Last: the X11 headers define macros that clash with other names.
#include <gdk/gdkx.h>

namespace wd::screen {

GdkMonitor* primaryMonitor() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return nullptr;
  GdkMonitor* m = gdk_display_get_primary_monitor(display);
  return m ? m : gdk_display_get_monitor(display, 0);
}

Rect primaryGeometry() {
  GdkRectangle r{};
  if (GdkMonitor* m = primaryMonitor()) gdk_monitor_get_geometry(m, &r);
  return {double(r.x), double(r.y), double(r.width), double(r.height)};
}

bool canPosition() {
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) return true;
  static bool said = false;
  if (!std::exchange(said, true))
    WD_LOG_INFO("Window positions need X11; moves and positions from the page are ignored here");
  return false;
}

Rect pageFrameOf(GtkWindow* window) {
  int x = 0, y = 0, w = 0, h = 0;
  gtk_window_get_position(window, &x, &y);
  gtk_window_get_size(window, &w, &h);
  return toBottomLeft({double(x), double(y), double(w), double(h)}, primaryGeometry());
}

namespace {

// The window system's window of a shown (mapped) window, else null.
GdkWindow* shownWindow(GtkWindow* window) {
  GtkWidget* widget = GTK_WIDGET(window);
  return gtk_widget_get_mapped(widget) ? gtk_widget_get_window(widget) : nullptr;
}

// A frame asked of a shown window, checked again each time the window manager reports the
// window's geometry, until it is reached or a few requests more have gone out. Requests that
// follow each other closely (a maximize taken back at once) can otherwise end at a mix of both
// under load.
struct PendingFrame {
  GtkWindow* window;
  Rect page;  // as the page gave it
  int x, y, width, height;
  int retries = 3;
  gulong handler = 0;
  guint idle = 0;
};
constexpr const char* kPendingFrame = "wd-pending-frame";

void dropPendingFrame(gpointer data) {
  auto* pending = static_cast<PendingFrame*>(data);
  if (pending->idle) g_source_remove(pending->idle);
  if (pending->handler && g_signal_handler_is_connected(pending->window, pending->handler))
    g_signal_handler_disconnect(pending->window, pending->handler);
  delete pending;
}

// Runs after GTK has taken in the report (lower priority than its layout).
gboolean checkPendingFrame(gpointer data) {
  auto* pending = static_cast<PendingFrame*>(data);
  pending->idle = 0;
  GtkWindow* window = pending->window;
  int x = 0, y = 0, w = 0, h = 0;
  gtk_window_get_position(window, &x, &y);
  gtk_window_get_size(window, &w, &h);
  GdkWindow* shown = shownWindow(window);
  const bool reached =
      x == pending->x && y == pending->y && w == pending->width && h == pending->height;
  // Full screen, maximized or minimized since: the window manager's geometry holds.
  const auto held =
      GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_ICONIFIED;
  if (reached || !shown || (gdk_window_get_state(shown) & held) || pending->retries-- <= 0) {
    g_object_set_data(G_OBJECT(window), kPendingFrame, nullptr);  // frees `pending`
    return G_SOURCE_REMOVE;
  }
  gdk_window_move_resize(shown, pending->x, pending->y, pending->width, pending->height);
  return G_SOURCE_REMOVE;
}

gboolean onGeometryReported(GtkWidget*, GdkEventConfigure*, gpointer data) {
  auto* pending = static_cast<PendingFrame*>(data);
  if (!pending->idle)
    pending->idle = g_idle_add_full(G_PRIORITY_LOW, checkPendingFrame, pending, nullptr);
  return FALSE;
}

}  // namespace

void setPageFrame(GtkWindow* window, const Rect& frame) {
  const Rect top = toTopLeft(frame, primaryGeometry());
  const int width = std::max(1, int(top.width)), height = std::max(1, int(top.height));
  GdkWindow* shown = shownWindow(window);
  if (shown && canPosition()) {
    // One request for both, straight to the window manager. GTK sends a size later, on its
    // own, and leaves it out when it equals the window's size as last reported, even while a
    // request of another size is still on its way: a maximize the page takes back at once kept
    // the maximized size.
    auto* pending = new PendingFrame{window, frame, int(top.x), int(top.y), width, height};
    pending->handler =
        g_signal_connect(window, "configure-event", G_CALLBACK(onGeometryReported), pending);
    g_object_set_data_full(G_OBJECT(window), kPendingFrame, pending, dropPendingFrame);
    gdk_window_move_resize(shown, pending->x, pending->y, width, height);
    return;
  }
  gtk_window_resize(window, width, height);
  if (canPosition()) gtk_window_move(window, int(top.x), int(top.y));
}

Rect requestedPageFrameOf(GtkWindow* window) {
  if (const auto* pending =
          static_cast<const PendingFrame*>(g_object_get_data(G_OBJECT(window), kPendingFrame)))
    return pending->page;
  return pageFrameOf(window);
}

}  // namespace wd::screen
