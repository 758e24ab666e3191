#pragma once
// Centring a small window (About, update outcome) on the monitor that holds it.
#include <gtk/gtk.h>

#include "shell/window/ScreenCoordinates.h"

namespace wd {

// The frame of a `width` by `height` window centred on `monitor` (both in GTK's top-left
// coordinates); the size is unchanged. Centring is symmetric, so a 400 by 200 window on a
// 1440 by 900 monitor at (0, 0) lands at (520, 350) in either orientation of the y axis. A
// window larger than the monitor is placed at the monitor's corner on that axis.
screen::Rect centredFrame(const screen::Rect& monitor, double width, double height);

// Moves `window` to the centre of the monitor holding it (the primary monitor while it has no
// window-system window yet), with its current size. The monitor's origin counts, so a window on a
// secondary monitor stays on it. No monitor at all leaves the window at the origin.
void centreOnMonitor(GtkWindow* window);

}  // namespace wd
