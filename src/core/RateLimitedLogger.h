#pragma once
// The application's logger: spdlog's logger with repeats held back, so that a page calling a
// failing member in a loop writes one line every few seconds instead of one per call. A repeat
// is the same text from the same call site (source file and line); a different text is always
// written, so no distinct message is lost. The first of a text is logged; repeats within the
// window are only counted; the next repeat logged after the window carries "(N similar messages
// suppressed)". Counts still open are written as their own lines once their window has passed
// and the logger writes again, when the logger goes away, or on reportSuppressed(). Debug and
// trace messages are never held back: they are the developer's own tracing and are not raised
// by page input.
#include <spdlog/logger.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace wd::logging {

class RateLimitedLogger final : public spdlog::logger {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::seconds kDefaultWindow{10};

  RateLimitedLogger(std::string name, spdlog::sinks_init_list sinks, Clock clock = {},
                    std::chrono::steady_clock::duration window = kDefaultWindow);
  template <typename It>
  RateLimitedLogger(std::string name, It begin, It end, Clock clock = {},
                    std::chrono::steady_clock::duration window = kDefaultWindow)
      : spdlog::logger(std::move(name), begin, end), clock_(std::move(clock)), window_(window) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
  }
  ~RateLimitedLogger() override;

  // Writes, for every text with held-back repeats, one line with their count (at the level
  // and with the function name of the last of them).
  void reportSuppressed();

  std::shared_ptr<spdlog::logger> clone(std::string name) override;

  // " (N similar messages suppressed)", as appended to a message.
  static std::string suppressedNote(std::size_t count);

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;

 private:
  struct Site {
    std::chrono::steady_clock::time_point windowStart;
    std::size_t suppressed = 0;
    spdlog::level::level_enum level = spdlog::level::info;
    std::string function;
  };
  // Source file, line, text.
  using SiteKey = std::tuple<std::string, int, std::string>;
  using Pending = std::vector<std::pair<SiteKey, Site>>;

  bool expired(const Site& site, std::chrono::steady_clock::time_point now) const;
  // Takes out every entry whose window has passed, except `keep`: the ones with a count go to
  // `reports`. Runs at most once per window, so the entries never outgrow one window's texts.
  void sweep(std::chrono::steady_clock::time_point now, const SiteKey& keep, Pending& reports);
  void writeCounts(const Pending& reports);

  Clock clock_;
  std::chrono::steady_clock::duration window_;
  std::mutex mutex_;
  std::map<SiteKey, Site> sites_;
  std::chrono::steady_clock::time_point lastSweep_{};
};

}  // namespace wd::logging
