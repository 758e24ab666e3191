// Start-up and memory benchmark: the application against a bare WebKitGTK window.
//
// Start-up: both programs load the same small page, whose first script after load ends them
// (the application through MacGap.terminate(), the bare window when it sees the title the script
// sets); the time is from just before the process starts until it has ended. The two are run
// alternately (ABBA order, after one untimed warm-up each), every run with fresh HOME and XDG
// folders except the application's state folder, which its runs share as a returning user's
// starts do (it remembers whether the web sandbox can start), and the next run starts only when
// every process of the previous one is gone. Where the engine's sandbox can start here, the bare
// window runs with it on too (it starts no check of its own: "bare_sandbox" says which).
// Memory: both load a page that stays; after a settling time the proportional set sizes of the
// whole process tree (UI, web and network processes) are summed, then the tree is ended.
// Prints the medians and the lines "ratio_startup" and "ratio_memory" (application / bare).
// Needs a display and a session bus: ./scripts/bench startup runs it inside scripts/test-session.
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessTree.h"
#include "shell/window/SandboxProbe.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace wd::bench {
namespace {

constexpr const char* kUsage =
    "usage: bench_startup [--runs N] [--memory-runs N] [--settle SECONDS] [--no-startup]\n"
    "                     [--no-memory] [--app PATH] [--bare PATH]\n";

struct Options {
  int runs = 10;
  int memoryRuns = 5;
  int settleSeconds = 6;
  bool startup = true;
  bool memory = true;
  std::string app = WD_BENCH_APP;
  std::string bare = WD_BENCH_BARE;
};

std::optional<Options> parseOptions(int argc, char** argv) {
  Options o;
  auto number = [&](int& i, int& out) {
    if (i + 1 >= argc) return false;
    out = std::atoi(argv[++i]);
    return out > 0;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    bool ok = true;
    if (a == "--runs")
      ok = number(i, o.runs);
    else if (a == "--memory-runs")
      ok = number(i, o.memoryRuns);
    else if (a == "--settle")
      ok = number(i, o.settleSeconds);
    else if (a == "--no-startup")
      o.startup = false;
    else if (a == "--no-memory")
      o.memory = false;
    else if (a == "--app" && i + 1 < argc)
      o.app = argv[++i];
    else if (a == "--bare" && i + 1 < argc)
      o.bare = argv[++i];
    else
      ok = false;
    if (!ok) return std::nullopt;
  }
  return o;
}

// The page both programs load. `quit`: its first script after load ends the program.
std::string pageText(bool quit) {
  std::string script = quit ? "document.title = 'wd-bench-loaded';\n"
                              "    if (window.MacGap) MacGap.terminate();\n"
                            : "document.title = 'wd-bench-staying';\n";
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Benchmark</title></head>\n"
         "<body><h1>Start-up benchmark</h1><p>A page that loads nothing else.</p>\n"
         "<script>\n  addEventListener('load', () => {\n    " +
         script + "  });\n</script></body></html>\n";
}

// A web client folder as the application takes it with --web-client: public/index.html and
// public/config.json (the bundled page's plug-ins and window settings).
fs::path makeWebClient(const fs::path& dir, bool quit) {
  fs::create_directories(dir / "public");
  std::ofstream(dir / "public" / "index.html") << pageText(quit);
  std::ofstream(dir / "public" / "config.json")
      << R"({"plugins": ["DesktopCommand", "AccountCommand", "Defaults", "Notify", "Dock", )"
         R"("File", "Dialog", "Task", "StatusItem", "Sound", "Clipboard", "Fonts"], )"
         R"("window": {"title": "Wendrel Desktop", "min_width": 800, "min_height": 560}})"
      << '\n';
  return dir;
}

std::string fileURI(const fs::path& path) {
  g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  return uri ? uri : "";
}

// This process's environment with HOME and the XDG base folders moved into `home`.
std::vector<std::string> environmentWithHome(const fs::path& home, const fs::path& state = {}) {
  static const char* const kReplaced[] = {"HOME=",           "XDG_CONFIG_HOME=", "XDG_DATA_HOME=",
                                          "XDG_CACHE_HOME=", "XDG_STATE_HOME=",  "WD_TEST_HOOKS="};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (std::none_of(std::begin(kReplaced), std::end(kReplaced),
                     [&](const char* p) { return entry.rfind(p, 0) == 0; }))
      env.push_back(entry);
  }
  const std::pair<const char*, fs::path> folders[] = {
      {"HOME", home},
      {"XDG_CONFIG_HOME", home / ".config"},
      {"XDG_DATA_HOME", home / ".local/share"},
      {"XDG_CACHE_HOME", home / ".cache"},
      {"XDG_STATE_HOME", state.empty() ? home / ".local/state" : state}};
  for (const auto& [name, dir] : folders) {
    fs::create_directories(dir);
    env.push_back(std::string(name) + "=" + dir.string());
  }
  return env;
}

// Whether the engine's sandbox can start here, checked once before any timed run by the
// application's own probe (the engine's bubblewrap run and its D-Bus proxy).
bool sandboxAvailable() {
  static const bool available = SandboxProbe().answer().available;
  return available;
}

enum class Subject { App, Bare };
const char* label(Subject s) {
  return s == Subject::App ? "app" : "bare";
}

// One run's program, folders and output file.
class Run {
 public:
  Run(const Options& options, const fs::path& scratch, const fs::path& client, Subject subject)
      : home_(scratch / ("home-" + std::to_string(++counter_))), log_(scratch / "last-run.log") {
    fs::remove(log_);
    env_ = environmentWithHome(home_, subject == Subject::App ? scratch / "app-state" : fs::path());
    if (subject == Subject::App)
      argv_ = {options.app, "--web-client", client.string()};
    else if (sandboxAvailable())
      argv_ = {options.bare, "--sandbox", fileURI(client / "public" / "index.html")};
    else
      argv_ = {options.bare, fileURI(client / "public" / "index.html")};
  }
  ~Run() {
    std::error_code ec;
    fs::remove_all(home_, ec);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  std::optional<Process> start() const { return Process::start(argv_, env_, log_.string()); }

  // Ends the benchmark with the program's output when a run went wrong.
  [[noreturn]] void fail(const std::string& what) const {
    std::fprintf(stderr, "bench_startup: %s: %s\n", argv_[0].c_str(), what.c_str());
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    std::fprintf(stderr, "--- its output ---\n%s\n", text.str().c_str());
    reapChildren(5s);
    std::exit(1);
  }

 private:
  static inline int counter_ = 0;
  fs::path home_;
  fs::path log_;
  std::vector<std::string> env_;
  std::vector<std::string> argv_;
};

// One start-up run: wall time and the UI process's own processor time, in ms.
Exit startupOnce(const Options& o, const fs::path& scratch, const fs::path& client, Subject s) {
  Run run(o, scratch, client, s);
  auto process = run.start();
  if (!process) run.fail("cannot be started");
  auto exit = process->wait(60s);
  if (!exit) {
    terminateTree(process->pid());
    run.fail("did not end within 60 s (the page's script did not end it)");
  }
  if (!WIFEXITED(exit->status) || WEXITSTATUS(exit->status) != 0)
    run.fail("ended with status " + std::to_string(exit->status));
  reapChildren(10s);  // the web and network processes, adopted by this process
  return *exit;
}

// PSS in KiB per process name (summed over processes of the same name) and in all.
using MemorySample = std::map<std::string, long long>;
constexpr const char* kTotal = "(total)";

MemorySample memoryOnce(const Options& o, const fs::path& scratch, const fs::path& client,
                        Subject s) {
  Run run(o, scratch, client, s);
  auto process = run.start();
  if (!process) run.fail("cannot be started");
  std::this_thread::sleep_for(std::chrono::seconds(o.settleSeconds));
  MemorySample sample;
  const auto tree = processTree(process->pid());
  if (tree.empty()) run.fail("ended before its memory was measured");
  for (const auto& p : tree) {
    const long long kib = pssKiB(p.pid);
    sample[p.pid == process->pid() ? "UI" : p.name] += kib;
    sample[kTotal] += kib;
  }
  terminateTree(process->pid());
  process->wait(10s);
  reapChildren(10s);
  return sample;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

// ABBA order: alternating which one goes first cancels a slow drift of the machine.
template <typename F>
void interleaved(int rounds, F&& each) {
  for (int i = 0; i < rounds; ++i) {
    const bool appFirst = i % 2 == 0;
    each(appFirst ? Subject::App : Subject::Bare);
    each(appFirst ? Subject::Bare : Subject::App);
  }
}

void benchStartup(const Options& o, const fs::path& scratch) {
  const fs::path client = makeWebClient(scratch / "client-quit", true);
  startupOnce(o, scratch, client, Subject::App);  // warm-up: caches, fontconfig, shaders
  startupOnce(o, scratch, client, Subject::Bare);
  std::map<Subject, std::vector<double>> times, cpu;
  interleaved(o.runs, [&](Subject s) {
    const Exit exit = startupOnce(o, scratch, client, s);
    times[s].push_back(exit.milliseconds);
    cpu[s].push_back(exit.cpuMilliseconds);
  });
  std::printf("start-up to the page's first script after load, then exit (ms, %d runs each)\n",
              o.runs);
  for (Subject s : {Subject::App, Subject::Bare}) {
    const auto& v = times[s];
    std::printf("  %-5s median %8.1f  min %8.1f  max %8.1f  (UI process CPU %.1f)\n", label(s),
                median(v), *std::min_element(v.begin(), v.end()),
                *std::max_element(v.begin(), v.end()), median(cpu[s]));
  }
  std::printf("ratio_startup %.3f\n", median(times[Subject::App]) / median(times[Subject::Bare]));
  std::fflush(stdout);
}

void benchMemory(const Options& o, const fs::path& scratch) {
  const fs::path client = makeWebClient(scratch / "client-stay", false);
  std::map<Subject, std::vector<MemorySample>> samples;
  interleaved(o.memoryRuns,
              [&](Subject s) { samples[s].push_back(memoryOnce(o, scratch, client, s)); });
  std::printf("memory: PSS of the process tree %d s after start (MiB, %d runs each)\n",
              o.settleSeconds, o.memoryRuns);
  std::map<Subject, double> totals;
  for (Subject s : {Subject::App, Subject::Bare}) {
    std::map<std::string, std::vector<double>> byName;
    for (const auto& sample : samples[s])
      for (const auto& [name, kib] : sample) byName[name].push_back(kib / 1024.0);
    totals[s] = median(byName[kTotal]);
    std::printf("  %-5s median %7.1f  (", label(s), totals[s]);
    const char* separator = "";
    for (const auto& [name, values] : byName) {
      if (name == kTotal) continue;
      std::printf("%s%s %.1f", separator, name.c_str(), median(values));
      separator = ", ";
    }
    std::printf(")\n");
  }
  std::printf("ratio_memory %.3f\n", totals[Subject::App] / totals[Subject::Bare]);
  std::fflush(stdout);
}

}  // namespace
}  // namespace wd::bench

int main(int argc, char** argv) {
  using namespace wd::bench;
  auto options = parseOptions(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 64;
  }
  if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY")) {
    std::fputs("bench_startup: no display; run it through ./scripts/bench startup\n", stderr);
    return 1;
  }
  becomeSubreaper();
  g_autofree gchar* scratchDir = g_dir_make_tmp("wd-bench-startup-XXXXXX", nullptr);
  if (!scratchDir) {
    std::fputs("bench_startup: cannot make a scratch folder\n", stderr);
    return 1;
  }
  const fs::path scratch = scratchDir;
  std::printf("load average at start: %s\n", loadAverage().c_str());
  std::printf("bare_sandbox %s\n", sandboxAvailable() ? "on" : "off");
  std::fflush(stdout);
  if (options->startup) benchStartup(*options, scratch);
  if (options->memory) benchMemory(*options, scratch);
  std::printf("load average at end: %s\n", loadAverage().c_str());
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return 0;
}
