#pragma once
// Command-line options of wendrel-desktop.
#include <string>

#include "autodiscover/DiscoverCli.h"
#include "shell/Application.h"

namespace wd {

struct CommandLine {
  enum class Action { Run, Version, Help, Discover, UsageError };
  Action action = Action::Run;
  std::string error;          // for UsageError
  DiscoverOptions discover;   // for Discover
  ApplicationOptions app;     // for Run

  static CommandLine parse(int argc, char** argv);
  static std::string helpText();
};

}  // namespace wd
