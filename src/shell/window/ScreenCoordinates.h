#pragma once
// Window frames in the page's screen coordinates and in GTK's. The page's origin is the
// bottom-left corner of the primary monitor, y grows upward and a frame's origin is its
// bottom-left corner; GTK's origin is the top-left corner of the whole screen, y grows downward
// and a frame's origin is its top-left corner. The primary monitor's geometry (in GTK's
// coordinates) links the two.
namespace wd::screen {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// A GTK (top-left) frame in the page's (bottom-left) coordinates.
inline Rect toBottomLeft(const Rect& topLeft, const Rect& primary) {
  return {topLeft.x - primary.x, primary.y + primary.height - (topLeft.y + topLeft.height),
          topLeft.width, topLeft.height};
}

// A page (bottom-left) frame in GTK's (top-left) coordinates.
inline Rect toTopLeft(const Rect& bottomLeft, const Rect& primary) {
  return {bottomLeft.x + primary.x, primary.y + primary.height - bottomLeft.y - bottomLeft.height,
          bottomLeft.width, bottomLeft.height};
}

}  // namespace wd::screen
