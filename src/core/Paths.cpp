#include "core/Paths.h"

#include <cstdlib>

#include "wd/Version.h"

namespace wd::paths {
namespace fs = std::filesystem;

namespace {
// Read the environment on every call (not GLib's cached values) so tests can redirect it.
fs::path xdg(const char* var, const char* fallbackUnderHome) {
  if (const char* v = std::getenv(var); v && *v && fs::path(v).is_absolute()) return fs::path(v);
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / fallbackUnderHome;
}
}  // namespace

fs::path configDirectory() { return xdg("XDG_CONFIG_HOME", ".config") / build::kExecutable; }
fs::path dataDirectory() { return xdg("XDG_DATA_HOME", ".local/share") / build::kExecutable; }
fs::path stateDirectory() { return xdg("XDG_STATE_HOME", ".local/state") / build::kExecutable; }
fs::path logDirectory() { return stateDirectory() / "logs"; }
fs::path localStorageDirectory() { return dataDirectory() / "LocalStorage"; }
fs::path settingsFile() { return configDirectory() / (std::string(build::kAppId) + ".plist"); }

}  // namespace wd::paths
