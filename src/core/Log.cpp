#include "core/Log.h"

#include "core/Paths.h"

namespace wd::logging {

std::filesystem::path logFilePath(const std::filesystem::path& directory) {
  return directory / "wendrel-desktop.log";
}

void setup(std::optional<std::filesystem::path> directory, bool withSyslog) {
  (void)directory;
  (void)withSyslog;
  // Placeholder until the rotating file and syslog sinks land: keep spdlog's console logger.
}

}  // namespace wd::logging
