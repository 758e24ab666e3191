#include "shell/window/SandboxProbe.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

#include "core/AtomicFile.h"
#include "core/SafeFileReader.h"

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
  if (watch_) g_source_remove(watch_);
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

void SandboxProbe::whenAnswered(std::function<void(const Answer&)> done) {
  if (answer_ || pid_ <= 0) {
    const Answer result = answer_.value_or(Answer{false, "no check ran"});
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        +[](gpointer data) -> gboolean {
          auto* call = static_cast<std::pair<std::function<void(const Answer&)>, Answer>*>(data);
          call->first(call->second);
          return G_SOURCE_REMOVE;
        },
        new std::pair<std::function<void(const Answer&)>, Answer>(std::move(done), result),
        +[](gpointer data) {
          delete static_cast<std::pair<std::function<void(const Answer&)>, Answer>*>(data);
        });
    return;
  }
  struct Call {
    SandboxProbe* probe;
    std::function<void(const Answer&)> done;
  };
  // GLib reaps the process and reports its status on the main loop.
  watch_ = g_child_watch_add_full(
      G_PRIORITY_DEFAULT, pid_,
      +[](GPid, gint status, gpointer data) {
        auto* call = static_cast<Call*>(data);
        call->probe->watch_ = 0;
        call->probe->finish(status);
        call->done(*call->probe->answer_);
      },
      new Call{this, std::move(done)}, +[](gpointer data) { delete static_cast<Call*>(data); });
}

std::string SandboxProbe::machineKey(const std::vector<std::string>& command,
                                     const std::vector<std::string>& helpers) {
  utsname names{};
  if (command.empty() || ::uname(&names) != 0) return {};
  std::string key = std::string(names.release) + " " + names.version;
  struct stat st {};
  if (::stat(command.front().c_str(), &st) != 0) return {};
  key +=
      " " + command.front() + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtime);
  for (const auto& helper : helpers)
    key += " " + helper + (g_file_test(helper.c_str(), G_FILE_TEST_IS_EXECUTABLE) ? "+" : "-");
  // The user namespace the application runs in and the limits on making new ones: a container
  // or a changed setting can refuse namespaces on the same kernel.
  std::error_code ec;
  key.push_back(' ');
  key += std::filesystem::read_symlink("/proc/self/ns/user", ec).string();
  for (const char* limit :
       {"/proc/sys/user/max_user_namespaces", "/proc/sys/kernel/unprivileged_userns_clone"}) {
    const auto value = readRegularFile(limit, 64);
    key.push_back(' ');
    key += value.data ? firstLine(*value.data) : std::string("-");
  }
  return key;
}

bool SandboxProbe::rememberedAvailable(const std::filesystem::path& file, const std::string& key) {
  if (key.empty()) return false;
  const auto text = readRegularFile(file, 4096);
  return text.data && *text.data == key + "\n";
}

void SandboxProbe::remember(const std::filesystem::path& file, const std::string& key,
                            bool available) {
  std::error_code ec;
  if (!available || key.empty()) {
    std::filesystem::remove(file, ec);
    return;
  }
  if (rememberedAvailable(file, key)) return;
  std::filesystem::create_directories(file.parent_path(), ec);
  writeFileAtomically(file, key + "\n");
}

}  // namespace wd
