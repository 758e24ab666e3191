#pragma once
// The shake of a window: a short side-to-side movement that tells the user an entry was
// refused. The window swings 4 times by 5 % of its width to each side of where it stands,
// within 0.7 s, moving in straight lines between the turning points (equal time for each
// stretch), and ends exactly where it began. While a shake runs, another shake of the same
// window does nothing.
#include <vector>

typedef struct _GtkWindow GtkWindow;

namespace wd::effects {

inline constexpr int kShakeCount = 4;
// Single-precision values, as the effect has always used them.
inline constexpr double kShakeFactor = static_cast<double>(0.05f);
inline constexpr double kShakeDuration = static_cast<double>(0.7f);  // seconds

// The horizontal offsets of the turning points of a window `width` wide, in order: 0, then
// -d, +d four times, then 0 again (d = width x factor).
std::vector<double> shakeKeyframes(double width);
// The offset `elapsed` seconds after the start (0 before the start and after the end).
double shakeOffsetAt(double width, double elapsed);

// Starts a shake of `window` on the main loop and returns at once; false (and nothing
// happens) when the window is shaking already or has no size.
bool shake(GtkWindow* window);
bool isShaking(GtkWindow* window);

}  // namespace wd::effects
