#include "shell/window/SandboxProbe.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

namespace wd {

namespace {

// A descriptor that becomes readable when the process ends (Linux 5.3 and later), else -1.
int openProcessFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

std::string firstLine(std::string text) {
  if (auto end = text.find('\n'); end != std::string::npos) text.resize(end);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return {};
  return text;
}

}  // namespace

std::vector<std::string> SandboxProbe::defaultCommand() {
  // WebKitGTK runs /usr/bin/bwrap (a path fixed when the engine is built) with new user, PID,
  // network, IPC, UTS and cgroup namespaces, a private /proc and /dev, and the system read-only.
  return {"/usr/bin/bwrap",
          "--unshare-all",
          "--die-with-parent",
          "--ro-bind",
          "/",
          "/",
          "--proc",
          "/proc",
          "--dev",
          "/dev",
          "true"};
}

std::vector<std::string> SandboxProbe::defaultHelpers() {
  return {"/usr/bin/xdg-dbus-proxy"};
}

SandboxProbe::SandboxProbe(std::vector<std::string> command,
                           const std::vector<std::string>& helpers) {
  if (command.empty()) {
    answer_ = Answer{false, "no sandbox program"};
    return;
  }
  for (const auto& helper : helpers) {
    if (!g_file_test(helper.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
      answer_ = Answer{false, helper + " is not installed"};
      return;
    }
  }
  program_ = command.front();
  std::vector<char*> argv;
  for (auto& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  GError* error = nullptr;
  GPid pid = 0;
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD |
                                              G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_CLOEXEC_PIPES);
  if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, &pid,
                                nullptr, nullptr, &errorFd_, &error)) {
    answer_ = Answer{false, program_ + " cannot run: " + (error ? error->message : "")};
    g_clear_error(&error);
    errorFd_ = -1;
    return;
  }
  pid_ = pid;
  ::fcntl(errorFd_, F_SETFL, ::fcntl(errorFd_, F_GETFL) | O_NONBLOCK);
}

SandboxProbe::~SandboxProbe() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (errorFd_ >= 0) ::close(errorFd_);
}

std::string SandboxProbe::readErrors() {
  std::string text;
  char buffer[512];
  while (errorFd_ >= 0 && text.size() < 4096) {
    const ssize_t n = ::read(errorFd_, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return firstLine(std::move(text));
}

void SandboxProbe::finish(int status) {
  pid_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    answer_ = Answer{true, {}};
  } else {
    std::string reason = readErrors();
    if (reason.empty())
      reason = WIFEXITED(status)
                   ? program_ + " exited with status " + std::to_string(WEXITSTATUS(status))
                   : program_ + " ended by a signal";
    answer_ = Answer{false, reason};
  }
  if (errorFd_ >= 0) ::close(std::exchange(errorFd_, -1));
}

const SandboxProbe::Answer& SandboxProbe::answer(std::chrono::milliseconds limit) {
  if (answer_) return *answer_;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const int processFd = openProcessFd(pid_);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      finish(status);
      break;
    }
    if (done < 0 && errno != EINTR) {  // reaped elsewhere: nothing is known of the run
      pid_ = -1;
      answer_ = Answer{false, "the check of " + program_ + " was lost"};
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      answer_ = Answer{false, program_ + " did not answer in time"};
      break;
    }
    // Sleeps until the process ends (or 1 ms at a time where the kernel has no process fds).
    if (processFd >= 0) {
      pollfd p{processFd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    } else {
      g_usleep(1000);
    }
  }
  if (processFd >= 0) ::close(processFd);
  if (errorFd_ >= 0) ::close(std::exchange(errorFd_, -1));
  return *answer_;
}

}  // namespace wd
