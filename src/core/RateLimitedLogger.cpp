// Rate limiting of repeated texts per call site in front of the logger's sinks. The decision
// is taken once per message, before any sink sees it, so the file and the system log agree on
// what was written.
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

bool RateLimitedLogger::expired(const Site& site, std::chrono::steady_clock::time_point now) const {
  return now < site.windowStart || now - site.windowStart >= window_;
}

void RateLimitedLogger::sink_it_(const spdlog::details::log_msg& msg) {
  if (msg.level < spdlog::level::info || msg.source.filename == nullptr) {
    spdlog::logger::sink_it_(msg);
    return;
  }
  std::size_t suppressed = 0;
  bool held = false;
  Pending reports;
  {
    const auto now = clock_();
    SiteKey key(msg.source.filename, msg.source.line,
                std::string(msg.payload.data(), msg.payload.size()));
    std::lock_guard lock(mutex_);
    sweep(now, key, reports);
    auto [it, first] = sites_.try_emplace(std::move(key));
    Site& site = it->second;
    if (!first && !expired(site, now)) {
      ++site.suppressed;
      site.level = msg.level;
      site.function = msg.source.funcname != nullptr ? msg.source.funcname : "";
      held = true;
    } else {
      site.windowStart = now;
      suppressed = std::exchange(site.suppressed, 0);
    }
  }
  writeCounts(reports);
  if (held) return;
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

void RateLimitedLogger::sweep(std::chrono::steady_clock::time_point now, const SiteKey& keep,
                              Pending& reports) {
  if (now >= lastSweep_ && now - lastSweep_ < window_) return;
  lastSweep_ = now;
  for (auto it = sites_.begin(); it != sites_.end();) {
    if (it->first == keep || !expired(it->second, now)) {
      ++it;
      continue;
    }
    if (it->second.suppressed > 0) reports.emplace_back(it->first, it->second);
    it = sites_.erase(it);
  }
}

void RateLimitedLogger::writeCounts(const Pending& reports) {
  for (const auto& [key, site] : reports) {
    const auto& [file, line, text] = key;
    const std::string counted = text + suppressedNote(site.suppressed);
    const spdlog::details::log_msg msg(
        spdlog::source_loc{file.c_str(), line, site.function.c_str()}, name(), site.level, counted);
    spdlog::logger::sink_it_(msg);
  }
}

void RateLimitedLogger::reportSuppressed() {
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    for (auto& [key, site] : sites_) {
      if (site.suppressed == 0) continue;
      pending.emplace_back(key, site);
      site.suppressed = 0;
    }
  }
  writeCounts(pending);
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
