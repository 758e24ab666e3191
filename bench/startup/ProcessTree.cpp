// Starting, waiting for, measuring and ending the benchmark's process trees (see ProcessTree.h).
#include "ProcessTree.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace wd::bench {

namespace {
using Clock = std::chrono::steady_clock;

sigset_t childSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCHLD);
  return set;
}

// Sleeps until a child changes state or `until` passes.
void awaitChildSignal(Clock::time_point until) {
  const auto left = until - Clock::now();
  if (left <= Clock::duration::zero()) return;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  const sigset_t set = childSignal();
  sigtimedwait(&set, nullptr, &timeout);
}

// The parent of `pid` from /proc/PID/stat (the field after the parenthesised command name).
std::optional<pid_t> parentOf(pid_t pid, std::string* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const auto open = line.find('(');
  const auto close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  if (name) *name = line.substr(open + 1, close - open - 1);
  std::istringstream rest(line.substr(close + 1));
  std::string state;
  long long parent = 0;
  if (!(rest >> state >> parent)) return std::nullopt;
  return static_cast<pid_t>(parent);
}

// Every process on the system, grouped by parent.
std::map<pid_t, std::vector<ProcessInfo>> processesByParent() {
  std::map<pid_t, std::vector<ProcessInfo>> byParent;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string file = entry.path().filename().string();
    if (file.empty() || file.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto pid = static_cast<pid_t>(std::stol(file));
    std::string name;
    if (auto parent = parentOf(pid, &name)) byParent[*parent].push_back({pid, name});
  }
  return byParent;
}
}  // namespace

void becomeSubreaper() {
  prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  const sigset_t set = childSignal();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

std::optional<Process> Process::start(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment,
                                      const std::string& outputFile) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (const auto& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);  // the child gets SIGCHLD as usual
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

  pid_t pid = 0;
  const auto started = Clock::now();
  const int error = posix_spawn(&pid, args[0], &files, &attributes, args.data(), env.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) return std::nullopt;
  return Process(pid, started);
}

std::optional<Exit> Process::wait(std::chrono::milliseconds limit) {
  const auto until = started_ + limit;
  for (;;) {
    int status = 0;
    rusage usage{};
    const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_) {
      const auto elapsed = Clock::now() - started_;
      auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
      return Exit{status, std::chrono::duration<double, std::milli>(elapsed).count(),
                  ms(usage.ru_utime) + ms(usage.ru_stime)};
    }
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (Clock::now() >= until) return std::nullopt;
    awaitChildSignal(until);
  }
}

std::vector<ProcessInfo> processTree(pid_t root) {
  auto byParent = processesByParent();
  std::string rootName;
  if (!parentOf(root, &rootName)) return {};
  std::vector<ProcessInfo> tree{{root, rootName}};
  std::deque<pid_t> pending{root};
  while (!pending.empty()) {
    const pid_t parent = pending.front();
    pending.pop_front();
    for (const auto& child : byParent[parent]) {
      tree.push_back(child);
      pending.push_back(child.pid);
    }
  }
  return tree;
}

long long pssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  long long value = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    if (fields >> key >> value && key == "Pss:") return value;
  }
  return 0;
}

void terminateTree(pid_t root) {
  for (const auto& p : processTree(root)) kill(p.pid, SIGTERM);
}

void reapChildren(std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  bool killed = false;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(-1, &status, WNOHANG);
    if (done > 0) continue;
    if (done < 0 && errno == ECHILD) return;
    if (done < 0 && errno != EINTR) return;
    if (Clock::now() >= until && !killed) {
      killed = true;
      for (const auto& p : processTree(getpid()))
        if (p.pid != getpid()) kill(p.pid, SIGKILL);
    }
    awaitChildSignal(killed ? Clock::now() + std::chrono::milliseconds(100) : until);
  }
}

}  // namespace wd::bench
