// `wendrel-desktop --discover` as users and support staff run it: the real executable as a
// child process inside the network sandbox (it inherits the namespaces, resolver files and CA),
// against the HTTPS servers: outcomes, exit statuses, the password on standard input,
// --trust-host and usage errors.
#include <gio/gio.h>

#include <string>
#include <utility>
#include <vector>

#include "HttpsServersFixture.h"
#include "core/Json.h"
#include "support/Loop.h"

namespace wd {
namespace {

using test::autodiscoverDocument;
using test::Behaviour;

class DiscoverExecutable : public test::HttpsServersTest {
 protected:
  void SetUp() override {
    HttpsServersTest::SetUp();
    if (!serversReady()) return;
    server->route("h.cli.test", 8443,
                  Behaviour::challenge("user@cli.test", "pass word",
                                       autodiscoverDocument("s.cli.test:8443")));
    untrusted->route("untrusted.test", 9443,
                     Behaviour::document(autodiscoverDocument("s.untrusted.test")));
  }

  struct Result {
    int status = -1;
    std::string out;
    std::string err;
  };
  Result run(const std::vector<std::string>& args, const std::string& input) {
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
    Result r;
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
      if (bytes == nullptr) continue;
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
      text->assign(data, size);
      g_bytes_unref(bytes);
    }
    g_object_unref(child);
    return r;
  }
};

TEST_F(DiscoverExecutable, OutcomesExitStatusesAndUsageErrors) {
  const Json found = {{"result", "success"}, {"server", "s.cli.test"}, {"port", "8443"}};
  const Json untrustedFound = {
      {"result", "success"}, {"server", "s.untrusted.test"}, {"port", "443"}};
  const Json failed = {{"result", "autodiscoverFailed"}};
  const struct {
    std::vector<std::string> args;
    const char* input;
    int status;
    Json line;        // null: nothing printed
    std::string err;  // the start of standard error
  } cases[] = {
      // The password is the first line only (spaces kept, CR LF line end dropped).
      {{"--discover", "user@cli.test"}, "pass word\r\nsecond line\n", 0, found},
      {{"--discover=user@cli.test", "--timeout", "20"},
       "nope\n",
       2,
       {{"result", "invalidCredentials"}},
       "wendrel-desktop: the mail server refused the user name or password\n"},
      {{"--discover", "user@none.test", "--timeout=3"},
       "",
       3,
       failed,
       "wendrel-desktop: no mail server found for none.test within 3 seconds"},
      {{"--discover", "user@untrusted.test", "--timeout=3"}, "x\n", 3, failed},
      {{"--discover", "user@untrusted.test", "--trust-host", "untrusted.test"},
       "x\n",
       0,
       untrustedFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Json(c.args).dump());
    const Result r = run(c.args, c.input);
    EXPECT_EQ(r.status, c.status);
    if (c.line.is_null()) {
      EXPECT_EQ(r.out, "");
      continue;
    }
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
    EXPECT_EQ(Json::parse(r.out, nullptr, false), c.line);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
  }
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
      {{"--discover", "user@"}, "--discover 'user@': This is not valid email address."},
      {{"--discover"}, "--discover needs an e-mail address"},
      {{"--discover", "a@b.test", "--timeout", "x"},
       "--timeout needs a whole number of seconds between 3 and 86400"},
      {{"--no-such-option=1"}, "unrecognized option '--no-such-option'"},
      {{"-v"}, "invalid option -- 'v'"},
  };
  for (const auto& c : usage) {
    const Result r = run(c.args, "");
    EXPECT_EQ(r.status, 64) << c.reason;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wendrel-desktop: " + c.reason +
                         "\nTry 'wendrel-desktop --help' for more information.\n");
  }
}

}  // namespace
}  // namespace wd
