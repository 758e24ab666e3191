#include "shell/window/WindowFrame.h"

#include <glib.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>

#include "core/AtomicFile.h"
#include "core/Json.h"
#include "core/Paths.h"
#include "core/SafeFileReader.h"

namespace wd {

namespace {
std::filesystem::path fileFor(const std::string& name) {
  return paths::stateDirectory() / (name + ".json");
}
bool validName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}
}  // namespace

std::optional<WindowFrame> WindowFrame::load(const std::string& name) {
  if (!validName(name)) return std::nullopt;
  // A frame is four numbers; anything much larger is not a frame file.
  const auto text = readRegularFile(fileFor(name), 64u * 1024u);
  if (!text.data) return std::nullopt;
  auto json = JSONObject(*text.data);
  if (!json || !json->is_object()) return std::nullopt;
  WindowFrame f;
  try {
    f.x = json->at("x").get<int>();
    f.y = json->at("y").get<int>();
    f.width = json->at("width").get<int>();
    f.height = json->at("height").get<int>();
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (f.width < 100 || f.height < 100 || f.width > 100000 || f.height > 100000) return std::nullopt;
  return f;
}

bool WindowFrame::save(const std::string& name) const {
  if (!validName(name)) return false;
  std::error_code ec;
  std::filesystem::create_directories(paths::stateDirectory(), ec);
  const std::string text = Json{{"x", x}, {"y", y}, {"width", width}, {"height", height}}.dump();
  return !writeFileAtomically(fileFor(name), text);
}

WindowFrame WindowFrame::of(GtkWindow* window) {
  WindowFrame f;
  if (!window) return f;
  gtk_window_get_position(window, &f.x, &f.y);
  gtk_window_get_size(window, &f.width, &f.height);
  return f;
}

void WindowFrame::applyTo(GtkWindow* window) const {
  if (!window) return;
  int px = x, py = y;
  // Keep the title bar reachable: the frame's top-left must lie on some monitor.
  if (GdkDisplay* display = gdk_display_get_default()) {
    bool onMonitor = false;
    for (int i = 0; i < gdk_display_get_n_monitors(display) && !onMonitor; ++i) {
      GdkRectangle area;
      gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &area);
      onMonitor = px >= area.x && py >= area.y && px < area.x + area.width - 40 &&
                  py < area.y + area.height - 40;
    }
    if (!onMonitor) {
      GdkMonitor* primary = gdk_display_get_primary_monitor(display);
      if (!primary && gdk_display_get_n_monitors(display) > 0)
        primary = gdk_display_get_monitor(display, 0);
      if (primary) {
        GdkRectangle area;
        gdk_monitor_get_workarea(primary, &area);
        px = area.x + std::max(0, (area.width - width) / 2);
        py = area.y + std::max(0, (area.height - height) / 2);
      }
    }
  }
  gtk_window_resize(window, width, height);
  gtk_window_move(window, px, py);
}

}  // namespace wd
