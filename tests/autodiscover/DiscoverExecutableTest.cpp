// `wendrel-desktop --discover` as users and support staff run it: the real executable as a
// child process inside the network sandbox (it inherits the namespaces, resolver files and CA),
// against the HTTPS servers: outcomes, exit statuses, the password on standard input,
// --trust-host and usage errors.
#include <gio/gio.h>

#include <string>
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
  };
  Result run(const std::vector<std::string>& args, const std::string& input) {
    std::vector<const char*> argv{WD_DESKTOP_EXECUTABLE};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE));
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
    } done;
    GBytes* stdinBytes = g_bytes_new(input.data(), input.size());
    g_subprocess_communicate_async(
        child, stdinBytes, nullptr,
        [](GObject* o, GAsyncResult* res, gpointer data) {
          auto* d = static_cast<Done*>(data);
          g_subprocess_communicate_finish(G_SUBPROCESS(o), res, &d->out, nullptr, nullptr);
          d->done = true;
        },
        &done);
    g_bytes_unref(stdinBytes);
    EXPECT_TRUE(test::waitFor([&] { return done.done; }, 90));
    if (!done.done) g_subprocess_force_exit(child);
    test::waitFor([&] { return done.done; }, 10);
    if (g_subprocess_get_if_exited(child)) r.status = g_subprocess_get_exit_status(child);
    if (done.out) {
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(done.out, &size));
      r.out.assign(data, size);
      g_bytes_unref(done.out);
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
    Json line;  // null: nothing printed
  } cases[] = {
      // The password is the first line only (spaces kept, CR LF line end dropped).
      {{"--discover", "user@cli.test"}, "pass word\r\nsecond line\n", 0, found},
      {{"--discover=user@cli.test", "--timeout", "20"},
       "nope\n",
       2,
       {{"result", "invalidCredentials"}}},
      {{"--discover", "user@none.test", "--timeout=3"}, "", 3, failed},
      {{"--discover", "user@untrusted.test", "--timeout=3"}, "x\n", 3, failed},
      {{"--discover", "user@untrusted.test", "--trust-host", "untrusted.test"},
       "x\n",
       0,
       untrustedFound},
      {{"--discover", "no-at-sign"}, "", 64, nullptr},
      {{"--discover"}, "", 64, nullptr},
      {{"--discover", "a@b.test", "--timeout", "x"}, "", 64, nullptr},
      {{"--discover", "user@"}, "", 64, nullptr},
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
  }
}

}  // namespace
}  // namespace wd
