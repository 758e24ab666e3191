// Process handling for the start-up benchmark: starts a program with its own environment and
// output file, waits for it with a time limit, lists a process and its descendants, reads their
// proportional set size, and ends a whole tree. The benchmark makes itself a child subreaper, so
// the web and network processes left by a finished run come back to it and are reaped before the
// next run starts.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace wd::bench {

// Called once before any other function here: adopts orphaned descendants and holds SIGCHLD for
// the waits below.
void becomeSubreaper();

struct Exit {
  int status = 0;                // as from waitpid
  double milliseconds = 0.0;     // from just before the start to the end of the process
  double cpuMilliseconds = 0.0;  // processor time (user + system) of the process itself
};

class Process {
 public:
  // Starts `argv` with exactly `environment`, standard input from /dev/null and both output
  // streams appended to `outputFile`. Nothing when the program cannot be started.
  static std::optional<Process> start(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment,
                                      const std::string& outputFile);

  // Waits until the process ends or `limit` passes (then nothing; the process keeps running).
  std::optional<Exit> wait(std::chrono::milliseconds limit);

  pid_t pid() const { return pid_; }

 private:
  Process(pid_t pid, std::chrono::steady_clock::time_point started)
      : pid_(pid), started_(started) {}
  pid_t pid_;
  std::chrono::steady_clock::time_point started_;
};

struct ProcessInfo {
  pid_t pid = 0;
  std::string name;  // the kernel's short command name
};

// `root` and every process below it, root first; empty when root is gone.
std::vector<ProcessInfo> processTree(pid_t root);

// Proportional set size in KiB (smaps_rollup), 0 when the process is gone or unreadable.
long long pssKiB(pid_t pid);

// Sends SIGTERM to `root` and all its descendants.
void terminateTree(pid_t root);

// Waits for every child, adopted ones included; what is left after `limit` gets SIGKILL.
void reapChildren(std::chrono::milliseconds limit);

}  // namespace wd::bench
