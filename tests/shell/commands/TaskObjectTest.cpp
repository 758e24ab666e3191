// MacGap.Task in the headless page, running real programs: the exit status and the reset for the
// next create, captured output, terminate, waitUntilExit off, programs that cannot start, what
// the description passes to the process, and a replaced or dropped description's process.
#include <signal.h>

#include "PageObjectTest.h"
#include "shell/commands/Task.h"

namespace wd::test {

class TaskObject : public PageObjectTest {
 protected:
  void SetUp() override {
    install("Task", std::make_shared<Task>(window));
    js("window.results = []; window.done = function (r) { results.push(r); };"
       "window.T = MacGap.Task; window.D = " +
       lit(dir.string()));
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

TEST_F(TaskObject, ReportsTheExitStatusOnceThenResetsForTheNextCreate) {
  EXPECT_EQ(js("T.create('/bin/sh', done) === T"), Json(true));
  // The second launch does nothing.
  js("T.arguments = ['-c', 'echo run >> \"$0\"; exit 3', D + '/runs']; T.launch(); T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(true));
  EXPECT_EQ(result(1), Json::parse(R"({"status": 3, "stdOut": {}, "stdIn": {}, "stdErr": {}})"));
  EXPECT_EQ(js("[T.isRunning, T.callback, T.pipeOutput, T.arguments, T.environment]"),
            Json::parse("[false, null, false, null, null]"));
  js("T.launch()");  // nothing to launch until the next create
  EXPECT_EQ(shell("exit 0")["status"], Json(0));
  EXPECT_EQ(js("results.length"), Json(2));
  EXPECT_EQ(readFile(dir / "runs"), "run\n");
}

TEST_F(TaskObject, CapturedOutputArrivesAsText) {
  std::string big;
  for (int i = 0; i < 600000; ++i) big += "0123456789";  // 6 MB, far beyond a pipe's buffer
  const std::pair<std::string, std::string> cases[] = {
      {"echo 'hello, task'", "hello, task\n"},
      {"yes 0123456789 | tr -d '\\n' | head -c 6000000", big},
      {"printf 'a\\377b\\0c'", std::string("a\uFFFDb\0c", 7)}};
  for (const auto& [script, output] : cases) {
    SCOPED_TRACE(script);
    EXPECT_EQ(shell(script, true)["stdOut"], Json(output));
  }
  // A process left behind holding the pipe open does not hold up the report.
  const Json left = shell("sleep 60 & echo $!", true);
  ASSERT_TRUE(left["stdOut"].is_string());
  ::kill(std::stoi(left["stdOut"].get<std::string>()), SIGTERM);
  js("T.pipeOutput = true");  // without a description: no effect
  EXPECT_EQ(js("T.pipeOutput"), Json(false));
  EXPECT_EQ(shell("true")["stdOut"], Json::object());
}

TEST_F(TaskObject, TerminateEndsTheProcessWhileItIsWaitedFor) {
  js("T.create('/bin/sleep', done).arguments = ['60']; T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(true));
  js("T.terminate()");
  EXPECT_EQ(result(1)["status"], Json(128 + SIGTERM));
  // Not waited for: isRunning is over once launched, terminate reaches nothing, the end is still
  // reported.
  js("T.waitUntilExit = false;"
     "T.create('/bin/sh', done).arguments = ['-c', 'sleep 0.3; exit 5']; T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(false));
  js("T.terminate()");
  EXPECT_EQ(result(2)["status"], Json(5));
}

TEST_F(TaskObject, AProgramThatCannotStartReportsNothing) {
  for (const std::string program : {"'/nonexistent/program'", "null", "'/bin/s\\u0000h'", "D"})
    EXPECT_EQ(js("T.create(" + program + ", done); T.launch(); T.isRunning"), Json(false))
        << program;
  js("T.create('/bin/true', done).currentDirectoryPath = '/nonexistent'; T.launch()");
  EXPECT_EQ(shell("exit 7")["status"], Json(7));
  EXPECT_EQ(js("results.length"), Json(1));  // only the marker
}

TEST_F(TaskObject, TheDescriptionReachesTheProcess) {
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
}

TEST_F(TaskObject, AReplacedProcessRunsOnUnreportedUntilItsObjectGoes) {
  const fs::path pidFile = dir / "pid";
  js("T.create('/bin/sh', done).arguments = ['-c', 'echo $$ > \"$0\"; exec sleep 60', D + '/pid'];"
     "T.launch();");
  pid_t pid = 0;
  EXPECT_TRUE(waitFor([&] { return (std::ifstream(pidFile) >> pid) && pid > 0; }));
  EXPECT_EQ(shell("exit 4")["status"], Json(4));
  EXPECT_EQ(js("results.length"), Json(1));
  EXPECT_EQ(::kill(pid, 0), 0);
  window.reset();  // the page and its objects go: the child is asked to end
  EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }));
}

}  // namespace wd::test
