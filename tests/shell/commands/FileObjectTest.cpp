// MacGap.File from real JavaScript in the headless page, on real files: the exact bytes written
// and read back, what is refused without touching the disk, what reads as undefined without
// blocking (missing, not UTF-8, not JSON, too deep, directories, FIFOs, devices), and a writer
// killed mid-way leaving the old file or the new one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/File.h"
#include "support/Files.h"
#include "support/Loop.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

// A script string literal.
std::string lit(const std::string& text) {
  return Json(text).dump();
}

class FileObject : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<FakeWindow>();
    file = std::make_shared<File>(window);
    window->page.install({std::make_shared<DesktopCommand>(window), {{"File", file}}});
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  std::string at(const char* name) { return lit((dir / name).string()); }

  const fs::path dir = testDirectory();
  std::shared_ptr<FakeWindow> window;
  std::shared_ptr<File> file;
};

TEST_F(FileObject, WritesExactlyTheTextOrJsonAndReadsItBack) {
  const std::pair<const char*, std::string> cases[] = {
      {"'x'", "x"},
      {"'\\u00e9 \\ud83d\\ude00 a\\u0000b'",
       std::string("\xC3\xA9 \xF0\x9F\x98\x80 a") + '\0' + "b"},
      {"'lone \\udc00'", "lone \xEF\xBF\xBD"},  // repaired where it enters
      {"1e21", "1e+21"},
      {"1.5e-7", "1.5e-7"},
      {"-0", "0"},
      {"[1, [2, null], 'a', undefined]", "1,2,,a,"},
      {"({a: 1})", "[object Object]"},
      {"null", "null"},
  };
  for (const auto& [data, bytes] : cases) {
    SCOPED_TRACE(data);
    js("MacGap.File.write(" + at("t") + ", " + data + ", 'string')");
    EXPECT_EQ(readFile(dir / "t"), bytes);
    EXPECT_EQ(js("MacGap.File.read(" + at("t") + ", 'string') === " + lit(bytes)), Json(true));
  }
  js("window.o = {a: 1, b: [true, null, 'x\\u00e9'], c: {d: {}}};"
     "MacGap.File.write(" +
     at("o.json") + ", o, 'json')");
  EXPECT_EQ(js("MacGap.File.read(" + at("o.json") + ", 'json')"), js("o"));
  EXPECT_NE(readFile(dir / "o.json")->find("\n  \"a\": 1"), std::string::npos);  // pretty-printed
  std::ofstream(dir / "list.json") << "[1, \"two\"]";
  EXPECT_EQ(js("MacGap.File.read(" + at("list.json") + ", 'json')"), Json({1, "two"}));
}

TEST_F(FileObject, RefusedWritesLeaveTheDiskAsItWas) {
  std::ofstream(dir / "kept") << "old";
  const std::string calls[] = {
      "write(" + at("new") + ", 'x', 'image')",
      "write(" + at("new") + ", 'x', 'text')",
      "write(" + at("new") + ", 'x')",
      "write(" + at("new") + " + '\\u0000b', 'x', 'string')",  // would name another file
      "write(" + at("kept") + ", [1, 2], 'json')",
      "write(" + at("kept") + ", {n: NaN}, 'json')",
      "write(" + at("kept") + ", function () {}, 'string')",
      "write('relative-name', 'x', 'string')",  // never the working folder
      "write(NaN, 'x', 'string')",
      "write({}, 'x', 'string')",
      "write(" + lit(dir.string()) + ", 'x', 'string')",
      "write(null, 'x', 'string'); MacGap.File.write()",
  };
  for (const auto& call : calls) {
    SCOPED_TRACE(call);
    EXPECT_EQ(js("try { MacGap.File." + call + "; 'ok' } catch (e) { String(e) }"), Json("ok"));
  }
  EXPECT_EQ(readFile(dir / "kept"), "old");
  EXPECT_FALSE(fs::exists(dir / "new"));
  for (const char* name : {"relative-name", "NaN", "[object Object]"})
    EXPECT_FALSE(fs::exists(name)) << name;
  EXPECT_TRUE(fs::is_directory(dir));
}

TEST_F(FileObject, ReadsUndefinedForWhatIsNoTextWithoutBlocking) {
  const std::pair<const char*, std::string> files[] = {
      {"text", "plain"},
      {"latin1", "caf\xE9"},
      {"surrogate", "\xED\xA0\x80"},
      {"notjson", "{\"a\": "},
      {"bare.json", "\"x\""},
      {"deep.json", std::string(200, '[') + std::string(200, ']')}};
  for (const auto& [name, bytes] : files) std::ofstream(dir / name, std::ios::binary) << bytes;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<std::string, const char*> reads[] = {
      {at("missing"), "string"},
      {at("text"), "image"},
      {at("text"), "binary"},
      {at("latin1"), "string"},
      {at("surrogate"), "string"},
      {at("latin1"), "json"},
      {at("notjson"), "json"},
      {at("bare.json"), "json"},
      {at("deep.json"), "json"},
      {at("fifo"), "string"},
      {lit(dir.string()), "string"},
      {"'/dev/zero'", "string"},
      {at("text") + " + '\\u0000'", "string"},
      {"'text'", "string"},  // relative
      {"{toString: function () { return " + at("text") + "; }}", "string"},
  };
  for (const auto& [path, type] : reads) {
    SCOPED_TRACE(path + " " + type);
    EXPECT_EQ(js("typeof MacGap.File.read(" + path + ", '" + type + "')"), Json("undefined"));
  }
  EXPECT_EQ(js("[" + at("text") + ", " + at("fifo") + ", " + lit(dir.string()) + ", " +
               at("missing") + ", '', " + at("text") +
               " + '\\u0000', '.', '/'].map(function (p) { return MacGap.File.exists(p); })"),
            Json({true, true, true, false, false, false, false, true}));
}

// A generation's content takes many write calls and names its generation: a torn file shows.
std::string generation(int g) {
  return std::string(256 * 1024, static_cast<char>('a' + g % 26)) + "#" + std::to_string(g);
}
int generationOf(const std::optional<std::string>& bytes) {
  const auto hash = bytes ? bytes->rfind('#') : std::string::npos;
  if (hash == std::string::npos) return -1;
  const int g = std::atoi(bytes->c_str() + hash + 1);
  return *bytes == generation(g) ? g : -1;
}

TEST_F(FileObject, AWriterKilledMidWayLeavesTheOldFileOrTheNew) {
  const std::string path = (dir / "draft").string();
  file->writeFile(path, bridge::Value(generation(0)), std::string("string"));
  for (int round = 0; round < 3; ++round) {
    const int start = generationOf(readFile(path));
    ASSERT_GE(start, 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
      for (int g = start + 1;; ++g)
        file->writeFile(path, bridge::Value(generation(g)), std::string("string"));
    int seen = start;  // killed while busy: once a few of its files have landed
    EXPECT_TRUE(waitFor([&] {
      const int g = generationOf(readFile(path));
      EXPECT_GE(g, 0);
      seen = std::max(seen, g);
      return seen >= start + 3 + round;
    }));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const int last = generationOf(readFile(path));
    EXPECT_GE(last, seen);
    EXPECT_EQ(js("MacGap.File.read(" + lit(path) + ", 'string') === " + lit(generation(last))),
              Json(true));
  }
}

}  // namespace
}  // namespace wd::test
