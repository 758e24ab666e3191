#pragma once
// Whether WebKit's web process sandbox can start on this machine. The engine starts the web
// process through bubblewrap, which needs the program and the kernel's namespaces (refused for
// users in many containers and CI machines); when it cannot start, the web process dies at once
// and the window stays empty. The probe runs bubblewrap the way the engine does, with the same
// namespaces and mounts, on a program that only exits. It starts when made and runs while the
// rest of start-up goes on; the first web view asks for the answer.
#include <sys/types.h>

#include <chrono>
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

 private:
  void finish(int status);
  std::string readErrors();

  pid_t pid_ = -1;
  int errorFd_ = -1;
  std::string program_;
  std::optional<Answer> answer_;
};

}  // namespace wd
