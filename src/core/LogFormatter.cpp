#include "core/LogFormatter.h"

#include <chrono>
#include <ctime>

namespace wd {

namespace {

// Per-thread cache of the "yyyy-MM-dd HH:mm:ss" text of the last second formatted on this
// thread: local-time conversion is the costly part and lines come in bursts.
struct SecondCache {
  std::time_t second = -1;
  char text[32] = {};
  std::size_t length = 0;
};

std::string_view secondText(std::time_t second) {
  thread_local SecondCache cache;
  if (cache.second != second || cache.length == 0) {
    std::tm tm{};
    localtime_r(&second, &tm);
    cache.length = std::strftime(cache.text, sizeof cache.text, "%Y-%m-%d %H:%M:%S", &tm);
    cache.second = second;
  }
  return {cache.text, cache.length};
}

void append(spdlog::memory_buf_t& dest, std::string_view text) {
  dest.append(text.data(), text.data() + text.size());
}

}  // namespace

std::string_view LogFormatter::levelWord(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::err:
    case spdlog::level::critical:
      return "ERROR";
    case spdlog::level::warn:
      return "WARN";
    case spdlog::level::info:
      return "INFO";
    default:
      return "DEBUG";
  }
}

void LogFormatter::format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) {
  using namespace std::chrono;
  const std::size_t start = dest.size();
  const auto sinceEpoch = msg.time.time_since_epoch();
  auto seconds = duration_cast<std::chrono::seconds>(sinceEpoch);
  auto millis = duration_cast<milliseconds>(sinceEpoch - seconds).count();
  if (millis < 0) {  // times before 1970: floor, not truncate
    seconds -= std::chrono::seconds(1);
    millis += 1000;
  }
  append(dest, secondText(static_cast<std::time_t>(seconds.count())));
  const char fraction[5] = {'.', static_cast<char>('0' + millis / 100),
                            static_cast<char>('0' + millis / 10 % 10),
                            static_cast<char>('0' + millis % 10), ' '};
  append(dest, {fraction, sizeof fraction});

  const std::string_view word = levelWord(msg.level);
  append(dest, "[");
  append(dest, word);
  append(dest, std::string_view("     ", 5 - word.size()));
  append(dest, "] ");

  const std::string_view function = msg.source.funcname != nullptr ? msg.source.funcname : "";
  std::string_view text(msg.payload.data(), msg.payload.size());
  // Keep the whole line within kMaxLineBytes; cut the message, not the line's frame.
  const std::size_t frame = dest.size() - start + function.size() + 4;
  if (frame < kMaxLineBytes && text.size() > kMaxLineBytes - frame) {
    std::size_t cut = kMaxLineBytes - frame;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
  }
  append(dest, text);
  append(dest, " [");
  append(dest, function);
  append(dest, "]\n");
}

std::unique_ptr<spdlog::formatter> LogFormatter::clone() const {
  return std::make_unique<LogFormatter>();
}

}  // namespace wd
