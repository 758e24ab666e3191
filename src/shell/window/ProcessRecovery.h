#pragma once
// What a web window does when the web process behind its page ends (an engine crash, the
// out-of-memory killer, the engine's memory limit): the page is loaded again with a fresh
// bridge and its event gate closed, unless the page keeps dying, in which case the window
// stops reloading and offers the user a Reload button with the reason. `ReloadBudget` is the
// rule for "keeps dying": the third death within a minute.
#include <cstdint>
#include <deque>
#include <string>

namespace wd {

class ReloadBudget {
 public:
  static constexpr int kDeaths = 3;                      // deaths that stop reloading
  static constexpr std::int64_t kPeriodUs = 60'000'000;  // ...within this time

  // Records a death at `nowUs` (monotonic microseconds): true when the page may be loaded
  // again, false when this is the kDeaths-th death within kPeriodUs.
  bool recordDeath(std::int64_t nowUs);
  // The deaths within kPeriodUs up to the last one recorded.
  int recentDeaths() const { return static_cast<int>(deaths_.size()); }
  // The user asked for a reload: earlier deaths no longer count.
  void reset() { deaths_.clear(); }

 private:
  std::deque<std::int64_t> deaths_;
};

// Why the web process ended, for the log and for the user.
enum class ProcessEnd { Crashed, MemoryLimit, Requested };
// The log's wording ("crashed or was killed", "exceeded its memory limit", ...).
const char* describeForLog(ProcessEnd reason);
// The info bar's text once reloading has stopped (translated).
std::string describeForUser(ProcessEnd reason);

}  // namespace wd
