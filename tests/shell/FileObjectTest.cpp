// MacGap.File from real JavaScript in the headless page, on real files: text and JSON round
// trips with the exact bytes written, what is refused (types, data, paths) without touching the
// disk, what reads as undefined (missing, non-UTF-8, non-JSON, too deep, directories, FIFOs,
// devices) without blocking, and a writer killed mid-way leaving the old file or the new one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/File.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A JavaScript string literal for a path.
std::string lit(const fs::path& path) {
  return Json(path.string()).dump();
}

class FileObject : public ::testing::Test {
 protected:
  void SetUp() override {
    dir =
        fs::path(getenv("HOME")) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
    window = std::make_shared<FakeWindow>();
    file = std::make_shared<File>(window);
    window->page.install({std::make_shared<DesktopCommand>(window), {{"File", file}}});
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }

  fs::path dir;
  std::shared_ptr<FakeWindow> window;
  std::shared_ptr<File> file;
};

TEST_F(FileObject, WritesExactlyTheTextOrJsonAndReadsItBack) {
  struct Case {
    const char* data;  // script expression
    const char* type;
    std::string bytes;  // the file afterwards
  };
  const Case cases[] = {
      {"'x'", "string", "x"},
      {"'h\\u00e9llo \\u2713 \\ud83d\\ude00 a\\u0000b'", "string",
       std::string("h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80 a") + '\0' + "b"},
      {"''", "string", ""},
      {"1e21", "string", "1e+21"},
      {"0.1", "string", "0.1"},
      {"-0", "string", "0"},
      {"123456789012", "string", "123456789012"},
      {"1.5e-7", "string", "1.5e-7"},
      {"true", "string", "true"},
      {"null", "string", "null"},
      {"undefined", "string", "undefined"},
      {"[1, [2, null], 'a', undefined]", "string", "1,2,,a,"},
      {"({a: 1})", "string", "[object Object]"},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    const fs::path path = dir / ("case" + std::to_string(i++));
    js("MacGap.File.write(" + lit(path) + ", " + c.data + ", '" + c.type + "')");
    EXPECT_EQ(bytesOf(path), c.bytes);
    EXPECT_EQ(js("MacGap.File.read(" + lit(path) + ", 'string') === " + Json(c.bytes).dump()),
              Json(true));
  }

  // JSON: an equal object comes back; the file holds pretty-printed JSON text.
  const fs::path json = dir / "data.json";
  js("window.o = {a: 1, b: [true, null, 'x\\u00e9'], c: {d: {}}, e: -2.5};"
     "MacGap.File.write(" +
     lit(json) + ", o, 'json')");
  EXPECT_EQ(js("MacGap.File.read(" + lit(json) + ", 'json')"),
            Json::parse(R"({"a": 1, "b": [true, null, "xé"], "c": {"d": {}}, "e": -2.5})"));
  EXPECT_EQ(Json::parse(*bytesOf(json)), js("o"));
  EXPECT_NE(bytesOf(json)->find("\n  \"a\": 1"), std::string::npos);
  // A top-level array in a file reads as an array.
  writeBytes(dir / "list.json", "[1, \"two\"]");
  EXPECT_EQ(js("MacGap.File.read(" + lit(dir / "list.json") + ", 'json')"), Json({1, "two"}));
  // Replacing keeps the file's permissions.
  ::chmod(json.c_str(), 0600);
  js("MacGap.File.write(" + lit(json) + ", 'y', 'string')");
  struct stat st {};
  ASSERT_EQ(::stat(json.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(bytesOf(json), "y");
}

TEST_F(FileObject, WritesNothingForRefusedTypesDataAndPaths) {
  const fs::path kept = dir / "kept";
  writeBytes(kept, "old");
  struct Case {
    std::string call;
    fs::path untouched;
  };
  const std::string k = lit(kept);
  const Case cases[] = {
      {"MacGap.File.write(" + lit(dir / "i") + ", 'x', 'image')", dir / "i"},
      {"MacGap.File.write(" + lit(dir / "u") + ", 'x', 'text')", dir / "u"},
      {"MacGap.File.write(" + lit(dir / "n") + ", 'x')", dir / "n"},
      {"MacGap.File.write(" + k + ", [1, 2], 'json')", kept},
      {"MacGap.File.write(" + k + ", 'text', 'json')", kept},
      {"MacGap.File.write(" + k + ", {n: NaN}, 'json')", kept},
      {"MacGap.File.write(" + k + ", {s: '\\ud800'}, 'json')", kept},
      {"MacGap.File.write(" + k + ", function () {}, 'string')", kept},
      {"MacGap.File.write(" + k + ", 'lone \\udc00', 'string')", kept},
      {"MacGap.File.write(" + lit(dir / "a") + " + '\\u0000b', 'x', 'string')", dir / "a"},
      {"MacGap.File.write(" + lit(dir) + ", 'x', 'string')", dir / "nothing"},
      {"MacGap.File.write(null, 'x', 'string'); MacGap.File.write(); 'done'", dir / "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(window->page.evaluate("try { " + c.call + "; 'ok' } catch (e) { String(e) }"),
              Json("ok"));
    if (c.untouched == kept)
      EXPECT_EQ(bytesOf(kept), "old");
    else
      EXPECT_FALSE(fs::exists(c.untouched));
  }
  EXPECT_TRUE(fs::is_directory(dir));
}

TEST_F(FileObject, ReadsUndefinedForWhatIsNoTextAndNeverBlocks) {
  writeBytes(dir / "text", "plain text");
  writeBytes(dir / "latin1", "caf\xE9");
  writeBytes(dir / "surrogate", "\xED\xA0\x80");
  writeBytes(dir / "notjson", "{\"a\": ");
  writeBytes(dir / "bare.json", "\"just a string\"");
  writeBytes(dir / "deep.json", std::string(200, '[') + std::string(200, ']'));
  writeBytes(dir / "ok-deep.json", std::string(30, '[') + std::string(30, ']'));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {(dir / "missing").string(), "string"},
      {(dir / "text").string(), "image"},
      {(dir / "text").string(), "binary"},
      {(dir / "latin1").string(), "string"},
      {(dir / "surrogate").string(), "string"},
      {(dir / "latin1").string(), "json"},
      {(dir / "notjson").string(), "json"},
      {(dir / "bare.json").string(), "json"},
      {(dir / "deep.json").string(), "json"},
      {(dir / "text").string(), "json"},
      {dir.string(), "string"},
      {(dir / "fifo").string(), "string"},
      {"/dev/null", "string"},
      {"/dev/zero", "string"},
  };
  for (const auto& [path, type] : cases) {
    SCOPED_TRACE(path + " as " + type);
    EXPECT_EQ(js("typeof MacGap.File.read(" + lit(path) + ", '" + type + "')"), Json("undefined"));
  }
  EXPECT_EQ(js("typeof MacGap.File.read(" + lit(dir / "text") + " + '\\u0000')"),
            Json("undefined"));
  EXPECT_EQ(js("MacGap.File.read(" + lit(dir / "text") + ", 'string')"), Json("plain text"));
  EXPECT_EQ(js("JSON.stringify(MacGap.File.read(" + lit(dir / "ok-deep.json") + ", 'json'))"),
            Json(std::string(30, '[') + std::string(30, ']')));

  const std::pair<std::string, bool> exists[] = {
      {(dir / "text").string(), true},     {dir.string(), true}, {(dir / "fifo").string(), true},
      {(dir / "missing").string(), false}, {"", false},
  };
  for (const auto& [path, expected] : exists)
    EXPECT_EQ(js("MacGap.File.exists(" + lit(path) + ")"), Json(expected)) << path;
  EXPECT_EQ(js("MacGap.File.exists(" + lit(dir / "text") + " + '\\u0000x')"), Json(false));
  EXPECT_EQ(js("MacGap.File.exists()"), Json(false));
}

// Each generation's content is large enough that a write takes many system calls, and names
// its generation, so a torn file is recognised.
std::string generation(int g) {
  return std::string(256 * 1024, static_cast<char>('a' + g % 26)) + "#" + std::to_string(g);
}

// The generation a file holds, or -1 when it is not exactly one generation's content.
int generationOf(const std::optional<std::string>& bytes) {
  if (!bytes) return -1;
  const auto hash = bytes->rfind('#');
  if (hash == std::string::npos) return -1;
  const int g = std::atoi(bytes->c_str() + hash + 1);
  return *bytes == generation(g) ? g : -1;
}

TEST_F(FileObject, AWriterKilledMidWayLeavesTheOldFileOrTheNew) {
  const fs::path path = dir / "draft.txt";
  file->writeFile(path.string(), bridge::Value(generation(0)), std::string("string"));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const int start = generationOf(bytesOf(path));
    ASSERT_GE(start, 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int g = start + 1;; ++g)
        file->writeFile(path.string(), bridge::Value(generation(g)), std::string("string"));
    }
    // Kill it while it is busy writing: once a few of its files have landed.
    int seen = start;
    EXPECT_TRUE(waitFor([&] {
      const int g = generationOf(bytesOf(path));
      EXPECT_GE(g, 0);
      seen = std::max(seen, g);
      return seen >= start + 3 + round;
    }));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    const int last = generationOf(bytesOf(path));
    EXPECT_GE(last, seen);
    EXPECT_EQ(
        js("MacGap.File.read(" + lit(path) + ", 'string') === " + Json(generation(last)).dump()),
        Json(true));
  }
}

}  // namespace
}  // namespace wd::test
