// `wendrel-desktop --discover`: the real executable as a child inside the network sandbox (it
// inherits the namespaces, resolver files and CA), against the HTTPS servers.
#include "TestHttpsServer.h"
#include "core/Json.h"
#include "support/Process.h"

namespace wd::test {
namespace {

using DiscoverExecutable = HttpsServersTest;

TEST_F(DiscoverExecutable, OutcomesExitStatusesAndUsageErrors) {
  // In sanitizer builds the child needs this binary's runtime default (SanitizerOptions.cpp).
  const char* asan = g_getenv("ASAN_OPTIONS");
  const std::string options = std::string(asan ? asan : "") + (asan ? ":" : "");
  g_setenv("ASAN_OPTIONS", (options + "intercept_tls_get_addr=0").c_str(), TRUE);
  server.route("h.cli.test", 8443,
               {200, autodiscoverDocument("s.cli.test:8443"), "user@cli.test", "pass word"});
  untrusted.route("untrusted.test", 9443, {200, autodiscoverDocument("s.untrusted.test")});
  const char* const failed = R"({"result": "autodiscoverFailed"})";
  const struct {
    const char* args;  // separated by spaces
    const char *input, *line;
    int status;
    std::string err = "";  // the start of standard error
  } cases[] = {
      // The password is the first line only (spaces kept, CR LF line end dropped).
      {"--discover user@cli.test", "pass word\r\nsecond line\n",
       R"({"result": "success", "server": "s.cli.test", "port": "8443"})", 0},
      {"--discover=user@cli.test --timeout 20", "nope\n", R"({"result": "invalidCredentials"})", 2,
       "wendrel-desktop: the mail server refused the user name or password\n"},
      {"--discover user@none.test --timeout=3", "", failed, 3,
       "wendrel-desktop: no mail server found for none.test within 3 seconds"},
      {"--discover user@untrusted.test --trust-host untrusted.test", "x\n",
       R"({"result": "success", "server": "s.untrusted.test", "port": "443"})", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = runProcess(WD_DESKTOP_EXECUTABLE " " + std::string(c.args), c.input, true);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
    EXPECT_EQ(Json::parse(r.out, nullptr, false), Json::parse(c.line));
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
  }
  // Every usage error in one style, status 64; nothing is started (no window, no search).
  const std::pair<const char*, std::string> usage[] = {
      {"--discover no-at-sign", "--discover 'no-at-sign': This is not valid email address."},
      {"--discover", "--discover needs an e-mail address"},
      {"--discover a@b.test --timeout x",
       "--timeout needs a whole number of seconds between 3 and 86400"},
      {"--no-such-option=1", "unrecognized option '--no-such-option'"},
      {"-v", "invalid option -- 'v'"},
  };
  for (const auto& [args, reason] : usage) {
    const auto r = runProcess(WD_DESKTOP_EXECUTABLE " " + std::string(args), "", true);
    EXPECT_EQ(r.status, 64) << reason;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wendrel-desktop: " + reason +
                         "\nTry 'wendrel-desktop --help' for more information.\n");
  }
}

}  // namespace
}  // namespace wd::test
