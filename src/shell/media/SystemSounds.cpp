// The table of system sound names and the lookup of theme files in the XDG data directories.
#include "shell/media/SystemSounds.h"

#include <glib.h>

#include <array>
#include <filesystem>
#include <utility>
#include <vector>

namespace wd::systemsounds {

namespace {

// The page's names and the freedesktop theme sound each one plays.
constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kNames{{
    {"Basso", "dialog-error"},
    {"Blow", "dialog-information"},
    {"Bottle", "message"},
    {"Frog", "dialog-warning"},
    {"Funk", "window-question"},
    {"Glass", "message-new-instant"},
    {"Hero", "complete"},
    {"Morse", "window-attention"},
    {"Ping", "bell"},
    {"Pop", "audio-volume-change"},
    {"Purr", "service-login"},
    {"Sosumi", "suspend-error"},
    {"Submarine", "service-logout"},
    {"Tink", "device-added"},
}};

constexpr std::array<std::string_view, 3> kExtensions{".oga", ".ogg", ".wav"};

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (g_ascii_tolower(a[i]) != g_ascii_tolower(b[i])) return false;
  return true;
}

// A theme sound name is letters, digits, '-' and '_' only: nothing that leaves the folder.
bool isPlainName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!g_ascii_isalnum(c) && c != '-' && c != '_') return false;
  return true;
}

}  // namespace

std::string themeName(std::string_view name) {
  for (const auto& [page, theme] : kNames)
    if (sameIgnoringCase(page, name)) return std::string(theme);
  return std::string(name);
}

std::optional<std::string> fileForName(std::string_view name) {
  const std::string theme = themeName(name);
  if (!isPlainName(theme)) return std::nullopt;
  std::vector<std::filesystem::path> dirs{g_get_user_data_dir()};
  for (const gchar* const* d = g_get_system_data_dirs(); d && *d; ++d) dirs.emplace_back(*d);
  for (const auto& dir : dirs) {
    const auto folder = dir / "sounds" / "freedesktop" / "stereo";
    for (auto ext : kExtensions) {
      std::error_code ec;
      const auto file = folder / (theme + std::string(ext));
      if (std::filesystem::is_regular_file(file, ec)) return file.string();
    }
  }
  return std::nullopt;
}

}  // namespace wd::systemsounds
