// Kept apart: the X11 headers define macros (None, Bool, Status, ...) that clash with C++ code.
#include "shell/system/IdleTime.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

namespace wd::idle {

std::optional<double> secondsSinceLastInput() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return std::nullopt;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  int eventBase = 0, errorBase = 0;
  if (!x || !XScreenSaverQueryExtension(x, &eventBase, &errorBase)) return std::nullopt;
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return std::nullopt;
  std::optional<double> seconds;
  if (XScreenSaverQueryInfo(x, DefaultRootWindow(x), info))
    seconds = static_cast<double>(info->idle) / 1000.0;
  XFree(info);
  return seconds;
}

}  // namespace wd::idle
