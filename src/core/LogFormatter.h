#pragma once
// The application's log line format for spdlog sinks:
//   "yyyy-MM-dd HH:mm:ss.SSS [LEVEL] message [function]\n"
// in local time, with the level word left-aligned in five characters ("ERROR", "WARN ", "INFO ",
// "DEBUG"). Safe to use from any thread: it holds no shared mutable state (each thread keeps
// its own cache of the formatted second).
#include <spdlog/formatter.h>

#include <memory>
#include <string_view>

namespace wd {

class LogFormatter final : public spdlog::formatter {
 public:
  // A line never exceeds this many bytes: longer messages are cut (at a character boundary) so
  // that one line always fits in one log file.
  static constexpr std::size_t kMaxLineBytes = 1048576;

  void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override;
  std::unique_ptr<spdlog::formatter> clone() const override;

  // "ERROR" for errors and critical messages, "WARN" for warnings, "INFO" for information,
  // "DEBUG" for everything else (not padded).
  static std::string_view levelWord(spdlog::level::level_enum level);
};

}  // namespace wd
