// wendrel-desktop-update-helper: replaces a self-contained installation of the application with
// an unpacked newer one once the running application has exited, starts the new version, and
// puts the old one back when the new one does not start.
//
//   wendrel-desktop-update-helper --wait-pid PID --prefix INSTALLED --new UNPACKED
//                                 [--staging FOLDER] [--start-timeout SECONDS]
//
// 1. Waits until process PID (the application) has exited (at most 10 minutes; then nothing
//    changes).
// 2. Swaps the trees INSTALLED and UNPACKED in one step (renameat2 RENAME_EXCHANGE; where the
//    file system cannot exchange, two renames), so INSTALLED always names a whole tree.
// 3. Starts INSTALLED/bin/wendrel-desktop with WENDREL_UPDATE_STARTED naming a file the new
//    application creates once it has started.
// 4. Started in time: the old tree (now at UNPACKED) and FOLDER are deleted; exit status 0.
//    The new version exits first or does not report within the time-out (60 s): it is stopped,
//    the trees are swapped back, the old version is started again and the new tree deleted;
//    exit status 1.
// Progress goes to standard error (the application points it at the update log).
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

constexpr const char* kStartedVariable = "WENDREL_UPDATE_STARTED";

void say(const std::string& text) {
  std::fprintf(stderr, "wendrel-desktop-update-helper: %s\n", text.c_str());
}

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void pause(int milliseconds) {
  poll(nullptr, 0, milliseconds);
}

bool processExists(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

// Waits for `pid` to end: a pidfd becomes readable when it does; without pidfds, the process
// table is looked at every 100 ms.
bool waitForExit(pid_t pid, double seconds) {
  const double deadline = now() + seconds;
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    pollfd p{fd, POLLIN, 0};
    int rc = 0;
    do {
      const double left = deadline - now();
      if (left <= 0) break;
      rc = poll(&p, 1, static_cast<int>(left * 1000) + 1);
    } while (rc < 0 && errno == EINTR);
    close(fd);
    return rc > 0;
  }
  if (errno == ESRCH) return true;
  while (processExists(pid)) {
    if (now() > deadline) return false;
    pause(100);
  }
  return true;
}

bool exchange(const std::string& a, const std::string& b) {
  if (syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 2 /* RENAME_EXCHANGE */) ==
      0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) {
    say("cannot exchange " + a + " and " + b + ": " + std::strerror(errno));
    return false;
  }
  // No exchange on this file system: the shortest possible gap, through a third name.
  const std::string aside = b + ".swap";
  if (rename(b.c_str(), aside.c_str()) != 0) return false;
  if (rename(a.c_str(), b.c_str()) != 0) {
    rename(aside.c_str(), b.c_str());
    return false;
  }
  return rename(aside.c_str(), a.c_str()) == 0;
}

void removeTree(const std::string& path) {
  if (path.empty()) return;
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int flag, FTW*) {
        if (flag == FTW_DP)
          rmdir(p);
        else
          unlink(p);
        return 0;
      },
      32, FTW_DEPTH | FTW_PHYS);
}

// Starts the application of `prefix` in its own session; `startedFile` (when not empty) is
// passed to it. Returns its process id, or -1.
pid_t startApplication(const std::string& prefix, const std::string& startedFile) {
  const std::string program = prefix + "/bin/wendrel-desktop";
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setsid();
  if (const int null = open("/dev/null", O_RDWR); null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (null > STDERR_FILENO) close(null);
  }
  if (startedFile.empty())
    unsetenv(kStartedVariable);
  else
    setenv(kStartedVariable, startedFile.c_str(), 1);
  execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

enum class Start { Started, Ended, TimedOut };

Start awaitStart(pid_t child, const std::string& startedFile, double seconds) {
  const double deadline = now() + seconds;
  struct stat st {};
  while (true) {
    if (stat(startedFile.c_str(), &st) == 0) return Start::Started;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      // It may have reported just before it ended.
      return stat(startedFile.c_str(), &st) == 0 ? Start::Started : Start::Ended;
    }
    if (now() > deadline) return Start::TimedOut;
    pause(50);
  }
}

void stop(pid_t child) {
  kill(child, SIGTERM);
  const double deadline = now() + 5;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return;
    }
    pause(50);
  }
}

}  // namespace

int main(int argc, char** argv) {
  pid_t waitPid = 0;
  std::string prefix, unpacked, staging;
  double startTimeout = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--wait-pid")
      waitPid = static_cast<pid_t>(std::atol(value.c_str()));
    else if (key == "--prefix")
      prefix = value;
    else if (key == "--new")
      unpacked = value;
    else if (key == "--staging")
      staging = value;
    else if (key == "--start-timeout")
      startTimeout = std::atof(value.c_str());
  }
  if (waitPid <= 0 || prefix.empty() || unpacked.empty() || !(startTimeout > 0)) {
    say("usage: --wait-pid PID --prefix INSTALLED --new UNPACKED [--staging FOLDER] "
        "[--start-timeout SECONDS]");
    return 2;
  }
  // Outlives the application and its terminal.
  setsid();
  signal(SIGHUP, SIG_IGN);

  if (!waitForExit(waitPid, 600)) {
    say("the application did not exit; nothing was changed");
    removeTree(staging.empty() ? unpacked : staging);
    return 3;
  }
  if (!exchange(unpacked, prefix)) {
    say("the new version could not be put in place; starting the installed one");
    removeTree(staging.empty() ? unpacked : staging);
    startApplication(prefix, {});
    return 4;
  }
  char folder[] = "/tmp/wendrel-update-XXXXXX";
  const bool haveFolder = mkdtemp(folder) != nullptr;
  const std::string startedFile = haveFolder ? std::string(folder) + "/started" : "";
  const pid_t child = haveFolder ? startApplication(prefix, startedFile) : -1;
  const Start outcome = child > 0 ? awaitStart(child, startedFile, startTimeout) : Start::Ended;
  if (haveFolder) removeTree(folder);

  if (outcome == Start::Started) {
    say("the new version started; removing the old one");
    removeTree(unpacked);
    removeTree(staging);
    return 0;
  }
  say(outcome == Start::Ended ? "the new version ended before it started; rolling back"
                              : "the new version did not start in time; rolling back");
  if (child > 0 && outcome == Start::TimedOut) stop(child);
  if (!exchange(unpacked, prefix)) {
    say("the old version could not be put back");
    return 1;
  }
  removeTree(unpacked);
  removeTree(staging);
  startApplication(prefix, {});
  return 1;
}
