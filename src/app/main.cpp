// wendrel-desktop: the desktop mail client's entry point. Parses the command line, then runs
// either the application or one of the command-line tools.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "autodiscover/DiscoverCli.h"
#include "core/I18n.h"
#include "shell/Application.h"
#include "wd/Version.h"
#ifdef WD_WITH_TEST_HOOKS
#include "shell/testing/TestHooks.h"
#endif

int main(int argc, char** argv) {
  wd::i18n::bindCatalogue();
  wd::CommandLine cl = wd::CommandLine::parse(argc, argv);
  switch (cl.action) {
    case wd::CommandLine::Action::Version:
      std::printf("%s %s\n", wd::build::kAppName, wd::build::kVersion);
      return 0;
    case wd::CommandLine::Action::Help:
      std::fputs(wd::CommandLine::helpText().c_str(), stdout);
      return 0;
    case wd::CommandLine::Action::UsageError:
      std::fputs(wd::CommandLine::usageMessage(wd::build::kExecutable, cl.error).c_str(), stderr);
      return wd::CommandLine::kUsageStatus;
    case wd::CommandLine::Action::Discover:
      return wd::runDiscoverCommand(cl.discover);
    case wd::CommandLine::Action::Run:
      break;
  }
#ifdef WD_WITH_TEST_HOOKS
  return wd::runApplication(cl.app, [](wd::AppDelegate& delegate, GDBusConnection* connection) {
    return wd::TestHooks::enabled() ? std::make_shared<wd::TestHooks>(connection, delegate)
                                    : nullptr;
  });
#else
  return wd::runApplication(cl.app);
#endif
}
