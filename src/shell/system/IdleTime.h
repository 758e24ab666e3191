#pragma once
// How long the user has not touched any input device.
#include <optional>

namespace wd::idle {

// Seconds since the last input event of any device, as the display server counts it (the X11
// screen-saver extension). None where the display server does not tell (no display, Wayland
// without XWayland, an X server without the extension).
std::optional<double> secondsSinceLastInput();

}  // namespace wd::idle
