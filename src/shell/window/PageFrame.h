#pragma once
// Window frames as the page gives and reads them (bottom-left coordinates, see
// ScreenCoordinates.h) on real GTK windows. Positions need X11: elsewhere a move is left alone
// (said once in the log) and sizes still apply.
#include "shell/window/ScreenCoordinates.h"

typedef struct _GdkMonitor GdkMonitor;
typedef struct _GtkWindow GtkWindow;

namespace wd::screen {

// The primary monitor, else the first one; none without a display.
GdkMonitor* primaryMonitor();
// Its geometry in GTK's coordinates (all zero without a monitor).
Rect primaryGeometry();
// Whether windows can be positioned here (X11).
bool canPosition();

// The window's frame in the page's coordinates.
Rect pageFrameOf(GtkWindow* window);
// Gives the window that frame (sizes at least 1 by 1).
void setPageFrame(GtkWindow* window, const Rect& frame);
// The frame last given while the window system has not shown it yet, else the window's frame:
// what a move, a resize or a maximize builds on, so that a request made before the window
// manager has answered the one before keeps what that one asked for.
Rect requestedPageFrameOf(GtkWindow* window);

}  // namespace wd::screen
