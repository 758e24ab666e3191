#pragma once
// Command-line options of wendrel-desktop. Options are checked before anything starts: an
// unknown option (long or short) is a usage error, never a file to open.
#include <string>

#include "autodiscover/DiscoverCli.h"
#include "shell/Application.h"

namespace wd {

struct CommandLine {
  enum class Action { Run, Version, Help, Discover, UsageError };
  Action action = Action::Run;
  std::string error;         // for UsageError
  DiscoverOptions discover;  // for Discover
  ApplicationOptions app;    // for Run

  static CommandLine parse(int argc, char** argv);
  static std::string helpText();
  // What a usage error prints on standard error (before exit status 64): the program name, the
  // error, and where to find the options.
  static std::string usageMessage(const std::string& program, const std::string& error);
  static constexpr int kUsageStatus = 64;
};

}  // namespace wd
