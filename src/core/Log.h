#pragma once
// Application logging: spdlog with a rotating file sink (every level, the application's line
// format) and a syslog sink for warnings and errors. Use the WD_LOG_* macros: they record the
// calling function's name, which ends every log line, and the call site, by which repeats are
// held back (RateLimitedLogger).
//
// Levels: warnings are the application's own few messages meant for the system log;
// diagnostics about bad input, missing files or failed platform calls are info (the file only);
// debug is developer tracing. Errors are for faults of the application itself.
#include <spdlog/spdlog.h>

#include <filesystem>
#include <optional>

namespace wd::logging {

inline constexpr std::size_t kMaxFileSize = 1048576;
inline constexpr std::size_t kMaxFiles = 5;

// Installs the application logger as spdlog's default logger. `directory` defaults to the XDG
// state directory's logs folder. `withSyslog` false leaves the system log out (tests).
void setup(std::optional<std::filesystem::path> directory = {}, bool withSyslog = true);
// The file the rotating sink writes to.
std::filesystem::path logFilePath(const std::filesystem::path& directory);

}  // namespace wd::logging

#define WD_LOG_ERROR(...) SPDLOG_LOGGER_CALL(spdlog::default_logger_raw(), spdlog::level::err, __VA_ARGS__)
#define WD_LOG_WARN(...) SPDLOG_LOGGER_CALL(spdlog::default_logger_raw(), spdlog::level::warn, __VA_ARGS__)
#define WD_LOG_INFO(...) SPDLOG_LOGGER_CALL(spdlog::default_logger_raw(), spdlog::level::info, __VA_ARGS__)
#define WD_LOG_DEBUG(...) SPDLOG_LOGGER_CALL(spdlog::default_logger_raw(), spdlog::level::debug, __VA_ARGS__)
