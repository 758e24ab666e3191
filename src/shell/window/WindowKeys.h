#pragma once
// GNOME's keyboard conventions for the application's own windows: Escape cancels a dialog or
// closes a utility window, Ctrl+W closes the window that has the focus. Both run the window's
// own way of closing (which may ask first), before the toolkit's key bindings and the
// application's accelerators see the key.
#include <functional>

typedef struct _GtkWindow GtkWindow;

namespace wd {

// Escape (no modifier) and Ctrl+W on `window` call `close` and go no further. The handler lives
// as long as the window.
void closeOnEscape(GtkWindow* window, std::function<void()> close);

}  // namespace wd
