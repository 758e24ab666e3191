#include "shell/window/ProcessRecovery.h"

#include "core/I18n.h"

namespace wd {

bool ReloadBudget::recordDeath(std::int64_t nowUs) {
  while (!deaths_.empty() && nowUs - deaths_.front() >= kPeriodUs) deaths_.pop_front();
  deaths_.push_back(nowUs);
  return static_cast<int>(deaths_.size()) < kDeaths;
}

const char* describeForLog(ProcessEnd reason) {
  switch (reason) {
    case ProcessEnd::Crashed:
      return "crashed or was killed";
    case ProcessEnd::MemoryLimit:
      return "exceeded its memory limit";
    case ProcessEnd::Requested:
      return "was ended by the application";
  }
  return "ended";
}

std::string describeForUser(ProcessEnd reason) {
  return reason == ProcessEnd::MemoryLimit
             ? _("The page used too much memory and was stopped several times in a row. It was "
                 "not loaded again.")
             : _("The page stopped unexpectedly several times in a row. It was not loaded "
                 "again.");
}

}  // namespace wd
