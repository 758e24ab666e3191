// Page-to-native synchronous call latency through the real bridge socket between two
// processes: the child is the page side (a standalone JavaScriptCore context with the same
// marshaller as the web process extension), the parent the UI side (HostEndpoint on a GLib main
// loop, as BridgeHost runs it). Printed next to the raw socket round trip of the same run (a
// ping answered by the UI side without any marshalling). The last line is
// "ratio_p50 <p50 of the empty call / p50 of the raw round trip>".
#include <JavaScriptCore/JavaScript.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bridge/Exports.h"
#include "bridge/HostEndpoint.h"
#include "bridge/SocketConnection.h"
#include "webext/PageBridge.h"
#include "webext/PageSocket.h"

namespace {

using namespace wd::bridge;

double nowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

class Bench : public ScriptObject {
 public:
  void empty() {}
  double text(std::string s) { return static_cast<double>(s.size()); }
  void object(std::optional<Dictionary> d) { entries += d ? d->size() : 0; }
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info = ClassBuilder<Bench>("Bench")
                                       .method("empty", &Bench::empty)
                                       .method("text:", &Bench::text)
                                       .method("object:", &Bench::object)
                                       .build();
    return info;
  }
  std::size_t entries = 0;
};

struct Host : HostEndpoint::Delegate {
  std::shared_ptr<ScriptObject> root = std::make_shared<Bench>();
  std::optional<InstallSet> contextCreated(HostEndpoint&, std::uint64_t,
                                           const std::string&) override {
    return InstallSet{root, {{"Bench", root}}};
  }
  std::shared_ptr<ScriptPage> page(std::uint64_t) override { return nullptr; }
};

int runHost(int fd) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  Host host;
  auto conn = std::make_shared<SocketConnection>(fd);
  std::weak_ptr<SocketConnection> weak = conn;
  auto endpoint = std::make_shared<HostEndpoint>(
      [weak](std::string frame) {
        if (auto c = weak.lock()) c->write(std::move(frame));
      },
      &host);
  conn->setEndpoint(endpoint);
  conn->setOnClosed([loop] { g_main_loop_quit(loop); });
  conn->start();
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  return 0;
}

JSValueRef jsNow(JSContextRef ctx, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                 JSValueRef*) {
  return JSValueMakeNumber(ctx, nowNs());
}

struct Stats {
  std::vector<double> samples;  // nanoseconds
  double pct(double p) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return 0;
    const auto i = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1));
    return samples[i];
  }
};

std::vector<double> runJs(JSGlobalContextRef ctx, const std::string& call, int n) {
  const std::string script = "(function () { var out = new Array(" + std::to_string(n) +
                             "); var b = MacGap.Bench;" +
                             "var s = 'hello, bridge'; var o = window.payload;" +
                             "for (var i = 0; i < out.length; i++) { var t = __now(); " + call +
                             "; out[i] = __now() - t; } return out.join(','); })()";
  JSStringRef src = JSStringCreateWithUTF8CString(script.c_str());
  JSValueRef exc = nullptr;
  JSValueRef r = JSEvaluateScript(ctx, src, nullptr, nullptr, 1, &exc);
  JSStringRelease(src);
  std::vector<double> out;
  if (!r || exc) return out;
  JSStringRef s = JSValueToStringCopy(ctx, r, nullptr);
  std::string text(JSStringGetMaximumUTF8CStringSize(s), '\0');
  text.resize(JSStringGetUTF8CString(s, text.data(), text.size()));
  JSStringRelease(s);
  char* p = text.data();
  while (*p) {
    out.push_back(std::strtod(p, &p));
    if (*p == ',')
      ++p;
    else
      break;
  }
  return out;
}

int runPage(int fd, int rounds, int perRound) {
  wd::webext::PageSocket socket(fd);
  wd::webext::PageBridge bridge(socket);
  JSGlobalContextRef ctx = JSGlobalContextCreate(nullptr);
  JSObjectRef global = JSContextGetGlobalObject(ctx);
  JSStringRef nowName = JSStringCreateWithUTF8CString("__now");
  JSObjectSetProperty(ctx, global, nowName, JSObjectMakeFunctionWithCallback(ctx, nowName, jsNow),
                      kJSPropertyAttributeNone, nullptr);
  JSStringRelease(nowName);
  // A 1 KB object (about 1,000 bytes as JSON).
  const std::string payload =
      "var window = this; window.payload = { id: 'message-123456', folder: 'INBOX/Archive', "
      "flags: ['seen', 'flagged', 'answered'], size: 48213, unread: false, "
      "from: { name: 'Ada Lovelace', address: 'ada@example.com' }, "
      "to: [{ name: 'Charles Babbage', address: 'charles@example.com' }, "
      "{ name: 'Mary Somerville', address: 'mary@example.com' }], "
      "subject: 'Notes on the analytical engine and its programs, part two', "
      "preview: '" +
      std::string(520, 'x') + "', date: 1700000000000 };";
  JSStringRef ps = JSStringCreateWithUTF8CString(payload.c_str());
  JSEvaluateScript(ctx, ps, nullptr, nullptr, 1, nullptr);
  JSStringRelease(ps);
  bridge.mainContextCreated(1, ctx, "bench");

  Stats raw, empty, text, object;
  auto add = [](Stats& s, const std::vector<double>& v) {
    s.samples.insert(s.samples.end(), v.begin(), v.end());
  };
  // Warm up both sides.
  for (int i = 0; i < 2000; ++i) bridge.ping();
  runJs(ctx, "b.empty()", 2000);
  runJs(ctx, "b.object(o)", 500);
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < perRound; ++i) {
      const double t = nowNs();
      bridge.ping();
      raw.samples.push_back(nowNs() - t);
    }
    add(empty, runJs(ctx, "b.empty()", perRound));
    add(text, runJs(ctx, "b.text(s)", perRound));
    add(object, runJs(ctx, "b.object(o)", perRound));
  }
  auto row = [](const char* name, Stats& s) {
    std::printf("%-18s n=%-6zu p50 %.4f ms  p99 %.4f ms\n", name, s.samples.size(),
                s.pct(0.5) / 1e6, s.pct(0.99) / 1e6);
  };
  row("raw_roundtrip", raw);
  row("empty_call", empty);
  row("string_call", text);
  row("object_1kb_call", object);
  const double rawP50 = raw.pct(0.5);
  std::printf("ratio_p50 %.3f\n", rawP50 > 0 ? empty.pct(0.5) / rawP50 : 0.0);
  std::fflush(stdout);
  bridge.pageClosed(1);
  JSGlobalContextRelease(ctx);
  return empty.samples.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int perRound = argc > 2 ? std::max(10, std::atoi(argv[2])) : 2000;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 1;
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child == 0) {
    ::close(fds[0]);
    const int rc = runPage(fds[1], rounds, perRound);
    std::_Exit(rc);
  }
  ::close(fds[1]);
  runHost(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
