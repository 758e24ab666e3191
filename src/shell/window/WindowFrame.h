#pragma once
// A window's position and size saved under an autosave name (in the state directory) and
// restored at the next launch.
#include <optional>
#include <string>

typedef struct _GtkWindow GtkWindow;

namespace wd {

struct WindowFrame {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool operator==(const WindowFrame&) const = default;

  // The frame saved under `name`, or none (missing or damaged file, nonsensical values).
  static std::optional<WindowFrame> load(const std::string& name);
  // Writes the frame under `name` (atomically); false when it could not be written.
  bool save(const std::string& name) const;

  // The current frame of a window (top-left origin, as the window manager places it).
  static WindowFrame of(GtkWindow* window);
  // Moves and resizes the window to this frame, kept on a monitor of the window's screen.
  void applyTo(GtkWindow* window) const;
};

}  // namespace wd
