#include "app/CommandLine.h"

#include <cerrno>
#include <cstdlib>

#include "core/I18n.h"
#include "shell/preferences/EmailFormatter.h"

namespace wd {

std::string CommandLine::helpText() {
  return "Usage: wendrel-desktop [OPTION...] [mailto:URI | FILE ...]\n"
         "\n"
         "Runs the Wendrel Desktop mail client. mailto: links and files given on the command\n"
         "line are handed to the running instance.\n"
         "\n"
         "Options:\n"
         "  -h, --help              show this help and exit\n"
         "  --version               show the name and version and exit\n"
         "  --web-client DIR        use the web client in DIR (a folder holding "
         "public/index.html)\n"
         "                          instead of the bundled page\n"
         "  --discover ADDRESS      find the mail server of ADDRESS by autodiscovery and print "
         "the\n"
         "                          outcome as JSON; the password is read as one line from\n"
         "                          standard input. Exit status: 0 success, 2 invalid\n"
         "                          credentials, 3 not found, 64 usage error\n"
         "  --timeout SECONDS       total time for --discover, at least 3 (default 30)\n"
         "  --trust-host HOST       with --discover: accept HOST's certificate even when it does\n"
         "                          not validate (repeatable)\n"
         "  --                      treat every later argument as a link or file, even one\n"
         "                          starting with '-'\n";
}

std::string CommandLine::usageMessage(const std::string& program, const std::string& error) {
  g_autofree gchar* hint =
      g_strdup_printf(_("Try '%s --help' for more information."), program.c_str());
  return program + ": " + error + "\n" + hint + "\n";
}

CommandLine CommandLine::parse(int argc, char** argv) {
  CommandLine cl;
  bool discover = false;
  bool optionsEnded = false;
  auto fail = [&cl](std::string message) {
    cl.action = Action::UsageError;
    cl.error = std::move(message);
    return cl;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // Links and files; "-" alone is a file name, and after "--" everything is.
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      cl.app.targets.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    auto value = [&](std::string& out) -> bool {
      auto eq = arg.find('=');
      if (eq != std::string::npos) {
        out = arg.substr(eq + 1);
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto is = [&arg](const char* name) {
      return arg == name || arg.rfind(std::string(name) + "=", 0) == 0;
    };
    if (arg == "--help" || arg == "-h") {
      cl.action = Action::Help;
      return cl;
    } else if (arg == "--version") {
      cl.action = Action::Version;
      return cl;
    } else if (is("--discover")) {
      discover = true;
      if (!value(cl.discover.address)) return fail(_("--discover needs an e-mail address"));
    } else if (is("--timeout")) {
      std::string text;
      if (!value(text)) return fail(_("--timeout needs a number of seconds"));
      errno = 0;
      char* end = nullptr;
      long seconds = std::strtol(text.c_str(), &end, 10);
      // The total is shared by three attempts in whole seconds, so less than 3 would leave an
      // attempt no time at all.
      if (errno != 0 || end == text.c_str() || *end != '\0' || seconds < 3 || seconds > 86400)
        return fail(_("--timeout needs a whole number of seconds between 3 and 86400"));
      cl.discover.timeoutSeconds = static_cast<int>(seconds);
    } else if (is("--trust-host")) {
      std::string host;
      if (!value(host) || host.empty()) return fail(_("--trust-host needs a host name"));
      cl.discover.trustedHosts.push_back(host);
    } else if (is("--web-client")) {
      if (!value(cl.app.webClientDirectory) || cl.app.webClientDirectory.empty())
        return fail(_("--web-client needs a folder"));
    } else if (arg == "--gapplication-service") {
      // D-Bus activation starts the application with GApplication's own option.
      cl.app.passThrough.push_back(arg);
    } else if (arg.rfind("--", 0) == 0) {
      return fail(std::string(_("unrecognized option")) + " '" + arg.substr(0, arg.find('=')) +
                  "'");
    } else {
      // Short options: only -h exists; "-v" is refused rather than opened as a file.
      return fail(std::string(_("invalid option")) + " -- '" + arg.substr(1, 1) + "'");
    }
  }
  if (discover) {
    // The same check as the account window's address field, with its reason.
    std::string reason;
    if (!EmailFormatter::objectValueForString(cl.discover.address, &reason))
      return fail("--discover '" + cl.discover.address + "': " + _(reason.c_str()));
    cl.action = Action::Discover;
  }
  return cl;
}

}  // namespace wd
