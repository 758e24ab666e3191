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

void setPageFrame(GtkWindow* window, const Rect& frame) {
  const Rect top = toTopLeft(frame, primaryGeometry());
  const int width = std::max(1, int(top.width)), height = std::max(1, int(top.height));
  GdkWindow* shown = gtk_widget_get_mapped(GTK_WIDGET(window))
                         ? gtk_widget_get_window(GTK_WIDGET(window))
                         : nullptr;
  if (shown && canPosition()) {
    // One request for both, straight to the window manager. GTK sends a size later, on its
    // own, and leaves it out when it equals the size the window had when GTK last laid it out,
    // even while a request of another size is still on its way: a maximize the page takes back
    // at once kept the maximized size.
    gdk_window_move_resize(shown, int(top.x), int(top.y), width, height);
    return;
  }
  gtk_window_resize(window, width, height);
  if (canPosition()) gtk_window_move(window, int(top.x), int(top.y));
}

}  // namespace wd::screen
