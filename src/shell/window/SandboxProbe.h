#pragma once
// Whether WebKit's web process sandbox can start on this machine. The engine starts the web
// process through bubblewrap, which needs the program and the kernel's namespaces (refused for
// users in many containers and CI machines); when it cannot start, the web process dies at once
// and the window stays empty. The probe runs bubblewrap the way the engine does, with the same
// namespaces and mounts, on a program that only exits. It starts when made and runs while the
// rest of start-up goes on; the first web view asks for the answer.
//
// A run costs a few hundred milliseconds that the first window would wait for, so a positive
// answer is remembered per machine (kernel and bubblewrap as they are now, see machineKey):
// with a remembered "available" the first web view does not wait, and the run goes on in the
// background only to check (whenAnswered); a changed answer is remembered for the next start.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wd {

class SandboxProbe {
 public:
  // The bubblewrap the engine runs, with the namespaces and mounts of its web process.
  static std::vector<std::string> defaultCommand();
  // Programs the engine also runs for a sandboxed web process: its D-Bus proxy (without it the
  // engine aborts the whole application).
  static std::vector<std::string> defaultHelpers();

  struct Answer {
    bool available = false;
    std::string reason;  // why not, in one line (empty when available)
  };

  // Starts `command` (no shell) without waiting for it, when every program in `helpers` is
  // there (else the answer is known at once).
  explicit SandboxProbe(std::vector<std::string> command = defaultCommand(),
                        const std::vector<std::string>& helpers = defaultHelpers());
  ~SandboxProbe();  // a run still going is killed and reaped
  SandboxProbe(const SandboxProbe&) = delete;
  SandboxProbe& operator=(const SandboxProbe&) = delete;

  // The answer: waits for what is left of the run, at most `limit` in all; a run that has not
  // ended by then is killed and counts as unavailable. Later calls give the same answer.
  const Answer& answer(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Calls `done` with the answer from the main loop once the run has ended, without waiting
  // (instead of answer(); the probe must outlive the call, or `done` is never called).
  void whenAnswered(std::function<void(const Answer&)> done);

  // What the answer depends on: the kernel's release and build, the size and time of the
  // program of `command`, which `helpers` exist, the user namespace the application runs in
  // and the kernel's limits on new ones ("" when the kernel or the program cannot be named).
  static std::string machineKey(const std::vector<std::string>& command = defaultCommand(),
                                const std::vector<std::string>& helpers = defaultHelpers());
  // Whether `file` remembers the sandbox as available for `key`.
  static bool rememberedAvailable(const std::filesystem::path& file, const std::string& key);
  // Remembers the answer for `key` in `file` (an unavailable one is forgotten instead).
  static void remember(const std::filesystem::path& file, const std::string& key, bool available);

 private:
  void finish(int status);
  std::string readErrors();

  pid_t pid_ = -1;
  unsigned watch_ = 0;  // the main loop's child watch of whenAnswered
  int errorFd_ = -1;
  std::string program_;
  std::optional<Answer> answer_;
};

}  // namespace wd
