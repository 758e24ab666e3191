// MacGap.Task from real JavaScript in the headless page, running real programs: the exit status
// and the reset after the callback, captured output (one line, several megabytes, bytes that are
// not UTF-8), terminate, waitUntilExit off, programs that cannot start, what the description
// passes to the process, a replaced description, and children ended with their object.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/Task.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

class TaskObject : public ::testing::Test {
 protected:
  void SetUp() override {
    dir =
        fs::path(getenv("HOME")) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
    window = std::make_shared<FakeWindow>();
    task = std::make_shared<Task>(window);
    window->page.install({std::make_shared<DesktopCommand>(window), {{"Task", task}}});
    js("window.results = []; window.done = function (r) { results.push(r); };"
       "window.T = MacGap.Task;");
  }
  void TearDown() override {
    task.reset();
    window.reset();
    // Lets the stopped waits complete, so nothing is left pending.
    for (int i = 0; i < 100 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  // Waits for the n-th callback and gives its data.
  Json result(int n) {
    EXPECT_TRUE(waitFor([&] { return js("results.length") >= Json(n); })) << "callback " << n;
    return js("results[" + std::to_string(n - 1) + "]");
  }
  // Runs `sh -c script` to its end through the object: an ordering marker too.
  Json shell(const std::string& script, bool capture = false) {
    int n = js("results.length").get<int>();
    js("T.create('/bin/sh', done).arguments = ['-c', " + Json(script).dump() + "];" +
       (capture ? "T.pipeOutput = true;" : "") + "T.launch()");
    return result(n + 1);
  }

  fs::path dir;
  std::shared_ptr<FakeWindow> window;
  std::shared_ptr<Task> task;
};

TEST_F(TaskObject, ReportsTheExitStatusOnceThenResetsForTheNextCreate) {
  const std::string marks = (dir / "runs").string();
  EXPECT_EQ(js("T.create('/bin/sh', done) === T"), Json(true));
  js("T.arguments = ['-c', 'echo run >> \"$0\"; exit 3', " + Json(marks).dump() + "]");
  EXPECT_EQ(js("T.arguments"), Json({"-c", "echo run >> \"$0\"; exit 3", marks}));
  js("T.launch(); T.launch()");  // the second launch does nothing
  EXPECT_EQ(js("T.isRunning"), Json(true));
  EXPECT_EQ(result(1), Json::parse(R"({"status": 3, "stdOut": {}, "stdIn": {}, "stdErr": {}})"));
  EXPECT_EQ(js("[T.isRunning, T.callback, T.pipeOutput, T.arguments, T.environment]"),
            Json::parse("[false, null, false, null, null]"));
  js("T.launch()");  // nothing to launch until the next create
  EXPECT_EQ(shell("exit 0")["status"], Json(0));
  EXPECT_EQ(js("results.length"), Json(2));
  std::ifstream in(marks);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(all, "run\n");
}

TEST_F(TaskObject, CapturedOutputArrivesAsText) {
  struct Case {
    const char* name;
    std::string script;
    std::string output;
  };
  std::string big;
  for (int i = 0; i < 600000; ++i) big += "0123456789";  // 6 MB, far beyond a pipe's buffer
  const Case cases[] = {
      {"one line", "echo 'hello, task'", "hello, task\n"},
      {"several megabytes", "yes 0123456789 | tr -d '\\n' | head -c 6000000", big},
      {"not UTF-8", "printf 'a\\377b\\0c'",
       std::string("a\xEF\xBF\xBD"
                   "b") +
           '\0' + "c"},
      {"nothing", "true", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Json r = shell(c.script, true);
    EXPECT_EQ(r["status"], Json(0));
    EXPECT_EQ(r["stdOut"], Json(c.output));
  }
  // pipeOutput without a description changes nothing: the next process's output is not captured.
  js("T.pipeOutput = true");
  EXPECT_EQ(js("T.pipeOutput"), Json(false));
  EXPECT_EQ(shell("true")["stdOut"], Json::object());
}

TEST_F(TaskObject, TerminateEndsTheRunningProcessWaitUntilExitOffDoesNotWait) {
  js("T.create('/bin/sleep', done).arguments = ['60']; T.launch()");
  EXPECT_EQ(js("T.isRunning"), Json(true));
  js("T.terminate()");
  EXPECT_EQ(result(1)["status"], Json(128 + SIGTERM));
  EXPECT_EQ(js("T.isRunning"), Json(false));

  // Without waiting isRunning is over once launched, terminate reaches nothing, and the end is
  // still reported once.
  js("T.waitUntilExit = false;"
     "T.create('/bin/sh', done).arguments = ['-c', 'sleep 0.3; exit 5']; T.launch()");
  EXPECT_EQ(js("[T.isRunning, T.waitUntilExit]"), Json({false, false}));
  js("T.terminate()");
  EXPECT_EQ(result(2)["status"], Json(5));
}

TEST_F(TaskObject, AProgramThatCannotStartReportsNothing) {
  const std::string cases[] = {
      "T.create('/nonexistent/program', done)",
      "T.create((" + Json((dir).string()).dump() + "), done)",  // a directory
      "T.create(null, done)",
      "T.create('/bin/sh', done).currentDirectoryPath = '/nonexistent'",
      "T.create('/bin/s\\u0000h', done)",
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c);
    EXPECT_EQ(js(c + "; T.launch(); T.isRunning"), Json(false));
  }
  EXPECT_EQ(shell("exit 7")["status"], Json(7));
  EXPECT_EQ(js("results.length"), Json(1));  // only the marker was reported
}

TEST_F(TaskObject, TheDescriptionReachesTheProcess) {
  js("T.create('/bin/sh', done);"
     "T.arguments = ['-c', 'printf \"%s|%s|%s|%s\" \"$PWD\" \"$WD_TASK\" \"$1\" \"${HOME:+home}\"',"
     "  'sh', 'first arg'];"
     "T.currentDirectoryPath = " +
     Json(dir.string()).dump() +
     ";"
     "T.environment = {WD_TASK: 'yes', NUMBER: 3, 'A=B': 'x'};"
     "T.arguments = ['not', 1];"  // refused: not all strings
     "T.pipeOutput = true; T.launch()");
  EXPECT_EQ(result(1)["stdOut"], Json(fs::canonical(dir).string() + "|yes|first arg|home"));
  EXPECT_EQ(js("[T.currentDirectoryPath, T.arguments]"), Json::parse("[null, null]"));
  // A callback given to create is kept when a later create gives none.
  js("T.create('/bin/true', function () { results.push('first'); });"
     "T.create('/bin/true'); T.launch()");
  EXPECT_EQ(result(2), Json("first"));
}

TEST_F(TaskObject, ASecondCreateStopsTrackingTheFirstProcessAndChildrenEndWithTheirObject) {
  const std::string pidFile = (dir / "pid").string();
  js("T.create('/bin/sh', function () { results.push('first'); }).arguments ="
     "  ['-c', 'echo $$ > \"$0\"; exec sleep 60', " +
     Json(pidFile).dump() +
     "];"
     "T.launch();");
  EXPECT_TRUE(waitFor([&] {
    std::error_code ec;
    return fs::file_size(pidFile, ec) > 1 && !ec;
  }));
  EXPECT_EQ(shell("exit 4")["status"], Json(4));
  EXPECT_EQ(js("results.length"), Json(1));
  pid_t pid = 0;
  std::ifstream(pidFile) >> pid;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0);  // the first process runs on, untracked
  task.reset();
  window.reset();  // the page lets go of the object: it is destroyed
  EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }));
}

}  // namespace
}  // namespace wd::test
