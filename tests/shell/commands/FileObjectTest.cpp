// MacGap.File in the headless page, on real files: the exact bytes written and read back, what
// is refused without touching the disk, what reads as undefined without blocking (missing, not
// UTF-8, not JSON, too deep, directories, FIFOs, devices), and a writer killed mid-way leaving
// the old file or the new one.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PageObjectTest.h"
#include "shell/commands/File.h"

namespace wd::test {

class FileObject : public PageObjectTest {
 protected:
  // The page's D is the test's folder, F the File object.
  void SetUp() override {
    install("File", file);
    js("var D = " + lit(dir.string()) + ", F = MacGap.File;");
  }

  const fs::path dir = testDirectory();
  std::shared_ptr<File> file = std::make_shared<File>(window);
};

TEST_F(FileObject, WritesExactlyTheTextOrJsonAndReadsItBack) {
  // A lone surrogate is repaired where it enters.
  const std::pair<const char*, std::string> cases[] = {
      {"'x'", "x"},
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
  writeFile(dir / "list.json", "[1, \"two\"]");
  expectAll({{"var o = {a: 1, b: [true, null, 'x\\u00e9'], c: {d: {}}}; F.write(D + '/o.json', o,"
              " 'json'); JSON.stringify(F.read(D + '/o.json', 'json')) === JSON.stringify(o)",
              true},
             {"F.read(D + '/list.json', 'json')", Json({1, "two"})}});
  EXPECT_NE(readFile(dir / "o.json")->find("\n  \"a\": 1"), std::string::npos);  // pretty-printed
}

TEST_F(FileObject, RefusedWritesLeaveTheDiskAsItWas) {
  writeFile(dir / "kept", "old");
  for (const char* call :
       {"F.write(D + '/new', 'x', 'image')", "F.write(D + '/new', 'x', 'text')",
        "F.write(D + '/new', 'x')",
        "F.write(D + '/new\\u0000b', 'x', 'string')",  // would name another file
        "F.write(D + '/kept', [1, 2], 'json')", "F.write(D + '/kept', {n: NaN}, 'json')",
        "F.write(D + '/kept', function () {}, 'string')",
        "F.write('relative-name', 'x', 'string')",  // never the working folder
        "F.write(NaN, 'x', 'string')", "F.write({}, 'x', 'string')", "F.write(D, 'x', 'string')",
        "F.write(null, 'x', 'string'); F.write()"})
    expectNoThrow(call);
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
  for (const auto& [name, bytes] : files) writeFile(dir / name, bytes);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const char* read :
       {"D + '/missing', 'string'", "D + '/text', 'image'", "D + '/text', 'binary'",
        "D + '/latin1', 'string'", "D + '/surrogate', 'string'", "D + '/latin1', 'json'",
        "D + '/notjson', 'json'", "D + '/bare.json', 'json'", "D + '/deep.json', 'json'",
        "D + '/fifo', 'string'", "D, 'string'", "'/dev/zero', 'string'",
        "D + '/text\\u0000', 'string'", "'text', 'string'",  // relative
        "{toString: function () { return D + '/text'; }}, 'string'"})
    EXPECT_EQ(js("typeof F.read(" + std::string(read) + ")"), Json("undefined")) << read;
  EXPECT_EQ(js("[D + '/text', D + '/fifo', D, D + '/missing', '', D + '/text\\u0000', '.', '/']"
               ".map(function (p) { return F.exists(p); })"),
            Json({true, true, true, false, false, false, false, true}));
}

// A generation's content takes many write calls and names its generation: a torn file shows.
static std::string generation(int g) {
  return std::string(256 * 1024, static_cast<char>('a' + g % 26)) + "#" + std::to_string(g);
}
static int generationOf(const std::optional<std::string>& bytes) {
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
    EXPECT_EQ(js("F.read(" + lit(path) + ", 'string') === " + lit(generation(last))), Json(true));
  }
}

}  // namespace wd::test
