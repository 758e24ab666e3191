#include "core/Log.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/sinks/syslog_sink.h>
#include <syslog.h>

#include <cstdio>
#include <vector>

#include "core/LogFormatter.h"
#include "core/Paths.h"
#include "core/RateLimitedLogger.h"

namespace wd::logging {
namespace fs = std::filesystem;

std::filesystem::path logFilePath(const std::filesystem::path& directory) {
  return directory / "wendrel-desktop.log";
}

void setup(std::optional<std::filesystem::path> directory, bool withSyslog) {
  const fs::path dir = directory ? *directory : paths::logDirectory();
  std::vector<spdlog::sink_ptr> sinks;

  // File sink: every level. spdlog's rotating sink keeps the current file plus `max_files`
  // rotated ones, so kMaxFiles - 1 gives at most kMaxFiles files in all. A log directory that
  // cannot be made or a file that cannot be opened must not stop the application.
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "wendrel-desktop: cannot create the log directory %s (%s); no log file\n",
                 dir.c_str(), ec.message().c_str());
  } else {
    try {
      auto file = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
          logFilePath(dir).string(), kMaxFileSize, kMaxFiles - 1, false);
      file->set_formatter(std::make_unique<LogFormatter>());
      file->set_level(spdlog::level::trace);
      sinks.push_back(std::move(file));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "wendrel-desktop: cannot open the log file in %s (%s); no log file\n",
                   dir.c_str(), e.what());
    }
  }
  if (sinks.empty()) {
    // Without a file, warnings and errors still reach the standard error stream.
    auto console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    console->set_formatter(std::make_unique<LogFormatter>());
    console->set_level(spdlog::level::warn);
    sinks.push_back(std::move(console));
  }

  // System log: warnings and errors only (the system log adds its own time stamp and level).
  if (withSyslog) {
    auto system = std::make_shared<spdlog::sinks::syslog_sink_mt>("wendrel-desktop", LOG_PID,
                                                                  LOG_USER, false);
    system->set_level(spdlog::level::warn);
    sinks.push_back(std::move(system));
  }

  auto logger = std::make_shared<RateLimitedLogger>("wendrel-desktop", sinks.begin(), sinks.end());
  logger->set_level(spdlog::level::debug);
  logger->flush_on(spdlog::level::warn);
  spdlog::set_default_logger(std::move(logger));
}

}  // namespace wd::logging
