#include "shell/window/WindowCentring.h"

#include <algorithm>
#include <cmath>

namespace wd {

screen::Rect centredFrame(const screen::Rect& monitor, double width, double height) {
  // A window larger than the monitor keeps its top-left corner (and title bar) on it.
  return {monitor.x + std::max(0.0, std::floor((monitor.width - width) / 2)),
          monitor.y + std::max(0.0, std::floor((monitor.height - height) / 2)), width, height};
}

void centreOnMonitor(GtkWindow* window) {
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  GdkMonitor* monitor = nullptr;
  if (display && gdkWindow) monitor = gdk_display_get_monitor_at_window(display, gdkWindow);
  if (display && !monitor) monitor = gdk_display_get_primary_monitor(display);
  if (display && !monitor && gdk_display_get_n_monitors(display) > 0)
    monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle geometry{};
  if (monitor) gdk_monitor_get_geometry(monitor, &geometry);
  int width = 0, height = 0;
  gtk_window_get_size(window, &width, &height);
  const screen::Rect frame = centredFrame(
      {double(geometry.x), double(geometry.y), double(geometry.width), double(geometry.height)},
      width, height);
  gtk_window_move(window, int(frame.x), int(frame.y));
}

}  // namespace wd
