// Per-call-site rate limiting in front of the logger's sinks. The decision is taken once per
// message, before any sink sees it, so the file and the system log agree on what was written.
#include "core/RateLimitedLogger.h"

namespace wd::logging {

RateLimitedLogger::RateLimitedLogger(std::string name, spdlog::sinks_init_list sinks, Clock clock,
                                     std::chrono::steady_clock::duration window)
    : RateLimitedLogger(std::move(name), sinks.begin(), sinks.end(), std::move(clock), window) {}

RateLimitedLogger::~RateLimitedLogger() {
  reportSuppressed();
  flush_();
}

std::string RateLimitedLogger::suppressedNote(std::size_t count) {
  return " (" + std::to_string(count) +
         (count == 1 ? " similar message suppressed)" : " similar messages suppressed)");
}

void RateLimitedLogger::sink_it_(const spdlog::details::log_msg& msg) {
  if (msg.level < spdlog::level::info || msg.source.filename == nullptr) {
    spdlog::logger::sink_it_(msg);
    return;
  }
  std::size_t suppressed = 0;
  {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    auto [it, first] = sites_.try_emplace(SiteKey(msg.source.filename, msg.source.line));
    Site& site = it->second;
    if (!first && now >= site.windowStart && now - site.windowStart < window_) {
      ++site.suppressed;
      site.level = msg.level;
      site.function = msg.source.funcname != nullptr ? msg.source.funcname : "";
      return;
    }
    site.windowStart = now;
    suppressed = std::exchange(site.suppressed, 0);
  }
  if (suppressed == 0) {
    spdlog::logger::sink_it_(msg);
    return;
  }
  std::string text(msg.payload.data(), msg.payload.size());
  text += suppressedNote(suppressed);
  spdlog::details::log_msg carried(msg);
  carried.payload = text;
  spdlog::logger::sink_it_(carried);
}

void RateLimitedLogger::reportSuppressed() {
  std::map<SiteKey, Site> pending;
  {
    std::lock_guard lock(mutex_);
    for (auto& [key, site] : sites_) {
      if (site.suppressed == 0) continue;
      pending.emplace(key, site);
      site.suppressed = 0;
    }
  }
  for (const auto& [key, site] : pending) {
    const std::string text = suppressedNote(site.suppressed).substr(1);
    const spdlog::details::log_msg msg(
        spdlog::source_loc{key.first.c_str(), key.second, site.function.c_str()}, name(),
        site.level, text);
    spdlog::logger::sink_it_(msg);
  }
}

std::shared_ptr<spdlog::logger> RateLimitedLogger::clone(std::string name) {
  auto copy = std::make_shared<RateLimitedLogger>(std::move(name), sinks_.begin(), sinks_.end(),
                                                  clock_, window_);
  copy->set_level(level());
  copy->flush_on(flush_level());
  copy->set_error_handler(custom_err_handler_);
  return copy;
}

}  // namespace wd::logging
