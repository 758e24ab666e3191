// `wendrel-desktop --discover` as users and support staff run it: the real executable as a
// child process inside the network sandbox (it inherits the namespaces, resolver files and CA).
#include <gio/gio.h>

#include <vector>

#include "CliFixture.h"
#include "support/Loop.h"

namespace wd {
namespace {

// The real executable, as users and support staff run it.
class DiscoverExecutable : public DiscoverCli {
 protected:
  CliResult run(const std::vector<std::string>& args, const std::string& input) {
    std::vector<const char*> argv{WD_DESKTOP_EXECUTABLE};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
        G_SUBPROCESS_FLAGS_STDERR_PIPE));
    // In sanitizer builds the child needs the same runtime default as this binary
    // (SanitizerOptions.cpp); the executable itself sets none.
    std::string asan = g_getenv("ASAN_OPTIONS") ? g_getenv("ASAN_OPTIONS") : "";
    asan += std::string(asan.empty() ? "" : ":") + "intercept_tls_get_addr=0";
    g_subprocess_launcher_setenv(launcher, "ASAN_OPTIONS", asan.c_str(), TRUE);
    GSubprocess* child = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    g_object_unref(launcher);
    CliResult r;
    if (child == nullptr) {
      ADD_FAILURE() << error->message;
      g_clear_error(&error);
      return r;
    }
    // The test's HTTPS servers run on this loop: communicate asynchronously.
    struct Done {
      bool done = false;
      GBytes* out = nullptr;
      GBytes* err = nullptr;
    } done;
    GBytes* stdinBytes = g_bytes_new(input.data(), input.size());
    g_subprocess_communicate_async(
        child, stdinBytes, nullptr,
        [](GObject* o, GAsyncResult* res, gpointer data) {
          auto* d = static_cast<Done*>(data);
          g_subprocess_communicate_finish(G_SUBPROCESS(o), res, &d->out, &d->err, nullptr);
          d->done = true;
        },
        &done);
    g_bytes_unref(stdinBytes);
    EXPECT_TRUE(test::waitFor([&] { return done.done; }, 90));
    if (!done.done) g_subprocess_force_exit(child);
    test::waitFor([&] { return done.done; }, 10);
    if (g_subprocess_get_if_exited(child)) r.status = g_subprocess_get_exit_status(child);
    for (auto [bytes, text] : {std::pair{done.out, &r.out}, std::pair{done.err, &r.err}}) {
      if (!bytes) continue;
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
      text->assign(data, size);
      g_bytes_unref(bytes);
    }
    g_object_unref(child);
    return r;
  }
};

TEST_F(DiscoverExecutable, OutcomesAndExitStatuses) {
  auto ok = run({"--discover", "user@cli.test"}, "pass word\n");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(parseLine(ok.out),
            (Json{{"result", "success"}, {"server", "s.cli.test"}, {"port", "8443"}}));

  auto refused = run({"--discover=user@cli.test", "--timeout", "20"}, "nope\n");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(parseLine(refused.out), (Json{{"result", "invalidCredentials"}}));
  EXPECT_EQ(refused.err, "wendrel-desktop: the mail server refused the user name or password\n");

  auto failed = run({"--discover", "user@none.test", "--timeout=3"}, "");
  EXPECT_EQ(failed.status, 3);
  EXPECT_EQ(parseLine(failed.out), (Json{{"result", "autodiscoverFailed"}}));
  EXPECT_EQ(
      failed.err.rfind("wendrel-desktop: no mail server found for none.test within 3 seconds", 0),
      0u)
      << failed.err;
}

TEST_F(DiscoverExecutable, TrustHostAndUsageErrors) {
  auto trusted =
      run({"--discover", "user@untrusted.test", "--trust-host", "untrusted.test"}, "x\n");
  EXPECT_EQ(trusted.status, 0);
  EXPECT_EQ(parseLine(trusted.out),
            (Json{{"result", "success"}, {"server", "s.untrusted.test"}, {"port", "443"}}));
  // Every usage error in one style: the program's name, the reason, where to look, 64; nothing
  // is started (no window for an unknown option, no search for an address the window refuses).
  const struct {
    std::vector<std::string> args;
    std::string reason;
  } usage[] = {
      {{"--discover", "no-at-sign"}, "--discover 'no-at-sign': This is not valid email address."},
      {{"--discover", "@example.com"},
       "--discover '@example.com': This is not valid email address."},
      {{"--discover", "Ann@Example"}, "--discover 'Ann@Example': This is not valid email address."},
      {{"--discover"}, "--discover needs an e-mail address"},
      {{"--discover", "a@b.test", "--timeout", "x"},
       "--timeout needs a whole number of seconds between 3 and 86400"},
      {{"--no-such-option=1"}, "unrecognized option '--no-such-option'"},
      {{"-v"}, "invalid option -- 'v'"},
  };
  for (const auto& c : usage) {
    auto r = run(c.args, "");
    EXPECT_EQ(r.status, 64) << c.reason;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wendrel-desktop: " + c.reason +
                         "\nTry 'wendrel-desktop --help' for more information.\n");
  }
}

}  // namespace
}  // namespace wd
