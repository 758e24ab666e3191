// MacGap.File and MacGap.Task in the headless page, on real files and running real programs.
#include <signal.h>
#include <sys/stat.h>

#include "PageObjectTest.h"
#include "shell/commands/File.h"
#include "shell/commands/Task.h"

namespace wd::test {

// The page's D is the test's folder, F the File object and T the Task object, whose callback
// `done` collects the results.
class FileAndTaskObjects : public PageObjectTest {
 protected:
  void SetUp() override {
    window->page.install(
        {std::make_shared<DesktopCommand>(window),
         {{"File", std::make_shared<File>(window)}, {"Task", std::make_shared<Task>(window)}}});
    js("var D = " + lit(dir.string()) +
       ", F = MacGap.File, T = MacGap.Task, results = [];"
       "var done = function (r) { results.push(r); };");
  }
  void TearDown() override {
    window.reset();
    drainLoop(100);
  }
  // The data of the n-th callback, once it came.
  Json result(int n) {
    EXPECT_TRUE(waitFor([&] { return js("results.length") >= Json(n); })) << n;
    return js("results[" + std::to_string(n - 1) + "]");
  }
  // Runs `sh -c script` to its end (an ordering marker too).
  Json shell(const std::string& script, bool capture = false) {
    const int n = js("results.length").get<int>();
    js("T.create('/bin/sh', done).arguments = ['-c', " + lit(script) + "];" +
       (capture ? "T.pipeOutput = true;" : "") + "T.launch()");
    return result(n + 1);
  }
  const fs::path dir = testDirectory();
};

TEST_F(FileAndTaskObjects, WritesExactlyTheTextOrJsonOrLeaveTheDiskAsItWasAndReadsOnlyText) {
  // A lone surrogate is repaired where it enters.
  const std::pair<const char*, std::string> cases[] = {
      {"'\\u00e9 \\ud83d\\ude00 a\\u0000b'", std::string("\xC3\xA9 \xF0\x9F\x98\x80 a\0b", 11)},
      {"'lone \\udc00'", "lone \xEF\xBF\xBD"},
      {"1e21", "1e+21"},
      {"1.5e-7", "1.5e-7"},
      {"-0", "0"},
      {"null", "null"},
      {"[1, [2, null], 'a', undefined]", "1,2,,a,"},
      {"({a: 1})", "[object Object]"}};
  for (const auto& [data, bytes] : cases) {
    SCOPED_TRACE(data);
    js("F.write(D + '/t', " + std::string(data) + ", 'string')");
    EXPECT_EQ(readFile(dir / "t"), bytes);
    EXPECT_EQ(js("F.read(D + '/t', 'string') === " + lit(bytes)), Json(true));
  }
  // A write puts a new file in place of the old one (the core's atomic writer, whose failures
  // and leftovers its own suite covers): a second link still holding the old one keeps it.
  fs::create_hard_link(dir / "t", dir / "link");
  js("F.write(D + '/t', 'new', 'string')");
  EXPECT_EQ(readFile(dir / "t"), "new");
  EXPECT_EQ(readFile(dir / "link"), "[object Object]");
  writeFile(dir / "list.json", "[1, \"two\"]");
  expectAll({{"var o = {a: 1, b: [true, null, 'x\\u00e9'], c: {d: {}}}; F.write(D + '/o.json', o,"
              " 'json'); JSON.stringify(F.read(D + '/o.json', 'json')) === JSON.stringify(o)",
              true},
             {"F.read(D + '/list.json', 'json')", Json({1, "two"})}});
  EXPECT_NE(readFile(dir / "o.json")->find("\n  \"a\": 1"), std::string::npos);  // pretty-printed
  writeFile(dir / "kept", "old");
  for (const char* call :
       {"F.write(D + '/new', 'x', 'image')", "F.write(D + '/new', 'x')",
        "F.write(D + '/new\\u0000b', 'x', 'string')",  // would name another file
        "F.write(D + '/kept', [1, 2], 'json')", "F.write(D + '/kept', {n: NaN}, 'json')",
        "F.write(D + '/kept', function () {}, 'string')",
        "F.write('relative-name', 'x', 'string')",  // never the working folder
        "F.write({}, 'x', 'string')", "F.write(D, 'x', 'string'); F.write()"})
    expectNoThrow(call);
  EXPECT_EQ(readFile(dir / "kept"), "old");
  EXPECT_FALSE(fs::exists(dir / "new"));
  for (const char* name : {"relative-name", "[object Object]"})
    EXPECT_FALSE(fs::exists(name)) << name;
  EXPECT_TRUE(fs::is_directory(dir));
  // Reads give undefined for what is no text, without blocking.
  const std::pair<const char*, std::string> files[] = {
      {"text", "plain"},
      {"latin1", "caf\xE9"},
      {"notjson", "{\"a\": "},
      {"bare.json", "\"x\""},
      {"deep.json", std::string(200, '[') + std::string(200, ']')}};
  for (const auto& [name, bytes] : files) writeFile(dir / name, bytes);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const char* read :
       {"D + '/missing', 'string'", "D + '/text', 'image'", "D + '/latin1', 'string'",
        "D + '/notjson', 'json'", "D + '/bare.json', 'json'", "D + '/deep.json', 'json'",
        "D + '/fifo', 'string'", "D + '/text\\u0000', 'string'", "'text', 'string'",  // relative
        "{toString: function () { return D + '/text'; }}, 'string'"})
    EXPECT_EQ(js("typeof F.read(" + std::string(read) + ")"), Json("undefined")) << read;
  EXPECT_EQ(js("[D + '/text', D + '/fifo', D, D + '/missing', '', D + '/text\\u0000', '.', '/']"
               ".map(function (p) { return F.exists(p); })"),
            Json({true, true, true, false, false, false, false, true}));
}

TEST_F(FileAndTaskObjects, ReportsTheExitStatusOnceWithTheCapturedOutputAsText) {
  EXPECT_EQ(js("T.create('/bin/sh', done) === T"), Json(true));
  // The second launch does nothing.
  js("T.arguments = ['-c', 'echo run >> \"$0\"; exit 3', D + '/runs']; T.launch(); T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(true));
  EXPECT_EQ(result(1), Json::parse(R"({"status": 3, "stdOut": {}, "stdIn": {}, "stdErr": {}})"));
  EXPECT_EQ(js("[T.isRunning, T.callback, T.pipeOutput, T.arguments, T.environment]"),
            Json::parse("[false, null, false, null, null]"));
  js("T.launch()");  // nothing to launch until the next create
  // Programs that cannot start report nothing.
  for (const std::string program : {"'/nonexistent/program'", "null", "'/bin/s\\u0000h'"})
    EXPECT_EQ(js("T.create(" + program + ", done); T.launch(); T.isRunning"), Json(false))
        << program;
  js("T.create('/bin/true', done).currentDirectoryPath = '/nonexistent'; T.launch()");
  EXPECT_EQ(shell("exit 0")["status"], Json(0));
  EXPECT_EQ(js("results.length"), Json(2));
  EXPECT_EQ(readFile(dir / "runs"), "run\n");
  // Captured output arrives as text.
  std::string big;
  for (int i = 0; i < 600000; ++i) big += "0123456789";  // 6 MB, far beyond a pipe's buffer
  const std::pair<std::string, std::string> cases[] = {
      {"yes 0123456789 | tr -d '\\n' | head -c 6000000", big},
      {"printf 'a\\377b\\0c'", std::string("a\uFFFDb\0c", 7)}};
  for (const auto& [script, output] : cases) {
    SCOPED_TRACE(script);
    EXPECT_EQ(shell(script, true)["stdOut"], Json(output));
  }
  // A process left behind holding the pipe open does not hold up the report.
  const Json left = shell("sleep 60 & echo $!", true);
  ::kill(std::stoi(left["stdOut"].get<std::string>()), SIGTERM);
  js("T.pipeOutput = true");  // without a description: no effect
  EXPECT_EQ(js("T.pipeOutput"), Json(false));
  EXPECT_EQ(shell("true")["stdOut"], Json::object());
}

TEST_F(FileAndTaskObjects, TheDescriptionReachesTheProcessAndTerminateOrTheObjectsEndEndsIt) {
  js("T.create('/bin/sh', done).arguments = ['-c', "
     "  'printf \"%s|%s|%s|%s\" \"$PWD\" \"$WD_TASK\" \"$1\" \"${HOME:+home}\"', 'sh', 'arg 1'];"
     "T.currentDirectoryPath = D; T.environment = {WD_TASK: 'yes', NUMBER: 3, 'A=B': 'x'};"
     "T.arguments = ['not', 1];"  // refused: not all strings
     "T.pipeOutput = true; T.launch()");
  EXPECT_EQ(result(1)["stdOut"], Json(fs::canonical(dir).string() + "|yes|arg 1|home"));
  // A later create without a callback keeps the one given before.
  js("T.create('/bin/true', function () { results.push('kept'); }); T.create('/bin/true');"
     "T.launch()");
  EXPECT_EQ(result(2), Json("kept"));
  js("T.create('/bin/sleep', done).arguments = ['60']; T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(true));
  js("T.terminate()");
  EXPECT_EQ(result(3)["status"], Json(128 + SIGTERM));
  // Not waited for: isRunning is over once launched, terminate reaches nothing, the end is still
  // reported.
  js("T.waitUntilExit = false;"
     "T.create('/bin/sh', done).arguments = ['-c', 'sleep 0.3; exit 5']; T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(false));
  js("T.terminate()");
  EXPECT_EQ(result(4)["status"], Json(5));
  // A process replaced by a later launch runs on unreported until its object goes.
  js("T.create('/bin/sh', done).arguments = ['-c', 'echo $$ > \"$0\"; exec sleep 60', D + '/pid'];"
     "T.launch();");
  pid_t pid = 0;
  EXPECT_TRUE(waitFor([&] { return (std::ifstream(dir / "pid") >> pid) && pid > 0; }));
  EXPECT_EQ(shell("exit 4")["status"], Json(4));
  EXPECT_EQ(js("results.length"), Json(5));
  EXPECT_EQ(::kill(pid, 0), 0);
  window.reset();  // the page and its objects go: the child is asked to end
  EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }));
}

}  // namespace wd::test
