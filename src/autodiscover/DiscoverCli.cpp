#include "autodiscover/DiscoverCli.h"

#include <glib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "autodiscover/AutodiscoverWebController.h"
#include "core/CertificateExceptions.h"
#include "core/I18n.h"
#include "core/NotificationCenter.h"

namespace wd {

int runDiscoverCommand(const DiscoverOptions& options) {
  const auto at = options.address.rfind('@');
  if (at == std::string::npos || at + 1 >= options.address.size()) {
    std::fputs("wendrel-desktop: --discover needs an e-mail address with a domain after '@'\n",
               stderr);
    return 64;
  }
  const std::string domain = options.address.substr(at + 1);

  // The password: one line of standard input, without its line end. On a terminal it is asked
  // for on standard error and not echoed.
  std::string password;
  termios saved{};
  const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::fputs("Password: ", stderr);
  }
  std::getline(std::cin, password);
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fputc('\n', stderr);
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();

  for (const auto& host : options.trustedHosts)
    CertificateExceptions::shared().setAllowsAnyCertificate(true, host);

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  Json outcome;
  bool finished = false;
  auto token = NotificationCenter::defaultCenter().addObserver(kAccountWebDiscoveryNotification,
                                                               [&](const Notification& note) {
                                                                 outcome = note.object;
                                                                 finished = true;
                                                                 g_main_loop_quit(loop);
                                                               });
  auto controller = AutodiscoverWebController::create(options.address, password, domain);
  controller->startWithTimeout(options.timeoutSeconds);
  if (!finished) g_main_loop_run(loop);
  controller.reset();
  token.reset();
  g_main_loop_unref(loop);

  if (!outcome.is_object()) outcome = Json{{"result", "autodiscoverFailed"}};
  const std::string line = outcome.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);

  // The JSON line is for scripts; a person reads why it failed on standard error.
  const std::string result = outcome.value("result", std::string());
  if (result == "success") return 0;
  if (result == "invalidCredentials") {
    std::fprintf(stderr, "wendrel-desktop: %s\n",
                 _("the mail server refused the user name or password"));
    return 2;
  }
  g_autofree gchar* reason = g_strdup_printf(
      _("no mail server found for %s within %d seconds (DNS SRV and MX records, then "
        "autodiscovery over HTTPS)"),
      domain.c_str(), options.timeoutSeconds);
  std::fprintf(stderr, "wendrel-desktop: %s\n", reason);
  return 3;
}

}  // namespace wd
