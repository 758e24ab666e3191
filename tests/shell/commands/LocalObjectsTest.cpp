// MacGap.File and MacGap.Task on real files and running real programs, MacGap.Clipboard over the
// test display's real clipboard, MacGap.Fonts over the installed DejaVu fonts and MacGap.Sound
// through GStreamer into a fake sink, in the headless page.
#include <fontconfig/fontconfig.h>
#include <signal.h>
#include <sys/stat.h>

#include "PageObjectTest.h"
#include "core/Bundle.h"
#include "shell/commands/Clipboard.h"
#include "shell/commands/File.h"
#include "shell/commands/Fonts.h"
#include "shell/commands/Sound.h"
#include "shell/commands/Task.h"
#include "shell/media/FontCatalog.h"
#include "shell/media/GtkTextClipboard.h"
#include "shell/media/SystemSounds.h"

namespace wd::test {

// The page's D is the test's folder, F the File object and T the Task object, whose callback
// `done` collects the results; C: the display's clipboard; S: sounds into a fake sink, the
// test's own in the bundle's resources, `one` and `two` noting the ends they are called for.
class LocalObjects : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    // 50 ms of silence: 8 kHz, 16-bit mono.
    std::string wav(
        "RIFF\x44\x03\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0"
        "\x80\x3e\0\0\x02\0\x10\0data\x20\x03\0\0",
        44);
    wav.resize(44 + 800);
    const fs::path resources = fs::path(getenv("HOME")) / "resources";
    for (const char* name : {"ding.wav", "dong.wav"}) writeFile(resources / "sounds" / name, wav);
    writeFile(resources / "broken" / "ding.wav", "this is not a sound at all");
    Bundle::main().setResourcePath(resources);
    clipboard = std::make_unique<GtkTextClipboard>();
    window->page.install({std::make_shared<DesktopCommand>(window),
                          {{"File", std::make_shared<File>(window)},
                           {"Task", std::make_shared<Task>(window)},
                           {"Clipboard", std::make_shared<Clipboard>(window, *clipboard)},
                           {"Fonts", std::make_shared<Fonts>(window)},
                           {"Sound", sound}}});
    js("var D = " + lit(dir.string()) +
       ", F = MacGap.File, T = MacGap.Task, results = [];"
       "var done = function (r) { results.push(r); }, C = MacGap.Clipboard, S = MacGap.Sound;"
       "var ends = [], one = function (n) { ends.push('one ' + n); },"
       "    two = function (n) { ends.push('two ' + n); };");
    settle();
  }
  // The clipboard is given up while this process still answers for it: another test process
  // asking an owner that is busy ending (or gone) would wait for GTK's 30 s time-out.
  void TearDown() override {
    gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    window.reset();
    drainLoop(100);
  }
  // Lets the clipboard's notices and text requests run to the end.
  void settle() {
    drainLoop(50);
    EXPECT_TRUE(waitFor([&] { return !clipboard->updating(); }));
  }
  // The ends reported once `n` have come and every sound has ended.
  Json ends(std::size_t n) {
    EXPECT_TRUE(waitFor([&] { return js("ends.length") >= Json(n) && sound->playing() == 0; }));
    return js("ends");
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
  std::unique_ptr<GtkTextClipboard> clipboard;
  std::shared_ptr<Sound> sound = std::make_shared<Sound>(window, "fakesink sync=false");
};

TEST_F(LocalObjects, ClipboardTextRoundTripsAndASoundsEndCallsItsCallbackWithItsName) {
  for (const char* text : {"h\u00e9llo \u2713\n\U0001F600", ""}) {
    // Right away from the page's own copy, and still after the clipboard's notice came back.
    EXPECT_EQ(js("C.copy(" + lit(text) + "); C.paste()"), Json(text));
    settle();
    EXPECT_EQ(js("C.paste()"), Json(text));
    g_autofree gchar* onDisplay =
        gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    EXPECT_STREQ(onDisplay ? onDisplay : "", text);
  }
  // A lone surrogate cannot go on the clipboard as it is; a copy without text empties it.
  EXPECT_EQ(js("C.copy('a\\uD800b'); C.paste()"), Json("a\uFFFDb"));
  EXPECT_EQ(js("C.copy('x'); C.copy(); C.paste()"), Json(""));
  // Another owner's text, then an owner that gives up the clipboard (as one offering no text).
  js("C.copy('mine')");
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "theirs", -1);
  EXPECT_TRUE(waitFor([&] { return js("C.paste()") == Json("theirs"); }));
  gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  EXPECT_TRUE(waitFor([&] { return js("C.paste()") == Json(""); }));
  // A clipboard gone before its first read (made at start-up, from an idle) leaves it undone.
  std::make_unique<GtkTextClipboard>().reset();
  settle();
  js("S.play('sounds/ding.wav', one); S.playSystem('Glass', two)");
  ends(2);
  EXPECT_EQ(js("ends.sort()"), Json::parse(R"(["one ding.wav", "two Glass"])"));
  EXPECT_EQ(js("S.cb"), Json());  // cleared once the callback is called
  // A value that is not a function is kept and called to no effect.
  js("ends = []; S.play('sounds/ding.wav', 42); S.play('sounds/dong.wav', one)");
  EXPECT_EQ(ends(1), Json::parse(R"(["one dong.wav"])"));
  // Two plays of one name both call the last callback.
  js("ends = []; S.play('sounds/ding.wav', one); S.play('sounds/ding.wav', two)");
  EXPECT_EQ(ends(2), Json::parse(R"(["two ding.wav", "two ding.wav"])"));
  // Not found: nothing plays and nothing is registered, so the sound already playing under
  // that name keeps its callback.
  js("ends = []; S.play('sounds/ding.wav', one);"
     "['sounds/missing/ding.wav', '../sounds/ding.wav', 'sounds', '', null].forEach("
     "  function (f) { S.play(f, two); });"
     "['NoSuchSound', '../../ding', '../stereo/bell', 'bell.oga', '', null].forEach("
     "  function (n) { S.playSystem(n, two); })");
  EXPECT_EQ(ends(1), Json::parse(R"(["one ding.wav"])"));
  // Found but not a sound: it ends without a call, and sounds play on afterwards.
  js("S.play('broken/ding.wav', two)");
  EXPECT_TRUE(waitFor([&] { return sound->playing() == 0; }));
  js("S.play('sounds/dong.wav', one)");
  EXPECT_EQ(ends(2), Json::parse(R"(["one ding.wav", "one dong.wav"])"));
  // Every name a page may give finds its installed theme sound, in any case.
  for (const char* name : {"Basso", "Blow", "Bottle", "Frog", "Funk", "Glass", "Hero", "Morse",
                           "Ping", "Pop", "Purr", "Sosumi", "Submarine", "Tink", "glass", "bell"}) {
    auto file = systemsounds::fileForName(name);
    EXPECT_EQ(file ? fs::path(*file).stem().string() : "", systemsounds::themeName(name)) << name;
  }
}

TEST_F(LocalObjects, ListsMembersLineHeightsAndWeightsOfTheInstalledFonts) {
  js("var F = MacGap.Fonts, has = function (list, names) {"
     "  return names.map(function (n) { return list.indexOf(n) >= 0; }); };");
  // Each list sorted, without doubles. The condensed faces count as narrow members of their
  // family; the light one as light.
  expectAll(
      {{"[F.availableFonts(), F.availableFontFamilies()].every(function (l) {"
        "  return l.length > 0 && l.every(function (n, i) { return i == 0 || l[i - 1] < n; }); })",
        true},
       {"has(F.availableFonts(), ['DejaVuSans', 'DejaVuSans-Bold', 'DejaVuSansMono-Oblique'])",
        {true, true, true}},
       {"has(F.availableFontFamilies(), ['DejaVu Sans', 'DejaVu Sans Mono', 'DejaVu Serif',"
        " 'DejaVu Sans Condensed'])",
        {true, true, true, false}},
       {"F.availableMembersOfFontFamily('DejaVu Sans Mono')",
        Json::parse(R"([["DejaVuSansMono", "Book", 5, 1024],
                  ["DejaVuSansMono-Oblique", "Oblique", 5, 1025],
                  ["DejaVuSansMono-Bold", "Bold", 9, 1026],
                  ["DejaVuSansMono-BoldOblique", "Bold Oblique", 9, 1027]])")},
       {"F.availableMembersOfFontFamily('DejaVu Sans').filter(function (m) {"
        "  return m[0] === 'DejaVuSansCondensed-Bold' || m[0] === 'DejaVuSans-ExtraLight'; })",
        Json::parse(R"([["DejaVuSans-ExtraLight", "ExtraLight", 2, 0],
                              ["DejaVuSansCondensed-Bold", "Condensed Bold", 9, 66]])")}});
  const Json h12 = js("F.getLineHeight('DejaVuSans', 12)");
  EXPECT_NEAR(h12.get<double>(), 14, 1);  // ascent 0.93 em + descent 0.24 em
  EXPECT_NEAR(js("F.getLineHeight('DejaVuSans', 48)").get<double>(), 4 * h12.get<double>(), 4);
  // A full or family name finds the font too; a size of 0 or none is the default 12 points.
  for (const char* same : {"'DejaVu Sans', 12", "'DejaVuSans', 0", "'DejaVuSans'"})
    EXPECT_EQ(js("F.getLineHeight(" + std::string(same) + ")"), h12) << same;
  for (const char* none :
       {"F.getLineHeight('NoSuchFont-Bold', 12)", "F.getLineHeight(null, 12)",
        "F.getLineHeight('DejaVuSans', 1e9)", "F.getLineHeight('DejaVuSans', Infinity)",
        "F.availableMembersOfFontFamily('No Such Family')", "F.availableMembersOfFontFamily('')",
        "F.availableMembersOfFontFamily(null)",
        "F.availableMembersOfFontFamily('DejaVu Sans\\u0000Mono')"})
    EXPECT_EQ(js("typeof " + std::string(none)), Json("undefined")) << none;
  // Fontconfig weights on the 0 to 15 scale: anchors, one between two named ones, outside ones.
  const std::pair<int, int> cases[] = {
      {FC_WEIGHT_REGULAR, 5}, {FC_WEIGHT_BOLD, 9}, {90, 5}, {120, 6}, {-5, 1}, {1000, 13}};
  for (const auto& [fc, expected] : cases) EXPECT_EQ(fonts::appKitWeight(fc), expected) << fc;
}

TEST_F(LocalObjects, WritesExactlyTheTextOrJsonOrLeaveTheDiskAsItWasAndReadsOnlyText) {
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
    js(call);  // none throws
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

TEST_F(LocalObjects, TaskReportsItsExitOnceWithItsOutputAndTheDescriptionReachesTheProcess) {
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
  // Captured output arrives as text, also far beyond a pipe's buffer (6 MB).
  EXPECT_EQ(shell("yes 0123456789 | tr -d '\\n' | head -c 6000000", true)["stdOut"],
            js("'0123456789'.repeat(600000)"));
  EXPECT_EQ(shell("printf 'a\\377b\\0c'", true)["stdOut"], Json(std::string("a\uFFFDb\0c", 7)));
  // A process left behind holding the pipe open does not hold up the report.
  const Json left = shell("sleep 60 & echo $!", true);
  ::kill(std::stoi(left["stdOut"].get<std::string>()), SIGTERM);
  EXPECT_EQ(js("T.pipeOutput = true; T.pipeOutput"), Json(false));  // without a description
  EXPECT_EQ(shell("true")["stdOut"], Json::object());
  // The description reaches the process; terminate or the object's end ends it.
  js("results = []; T.create('/bin/sh', done).arguments = ['-c', "
     "  'printf \"%s|%s|%s|%s\" \"$PWD\" \"$WD_TASK\" \"$1\" \"${HOME:+home}\"', 'sh', 'arg 1'];"
     "T.currentDirectoryPath = D; T.environment = {WD_TASK: 'yes', NUMBER: 3, 'A=B': 'x'};"
     "T.arguments = ['not', 1];"  // refused: not all strings
     "T.pipeOutput = true; T.launch()");
  EXPECT_EQ(result(1)["stdOut"], Json(fs::canonical(dir).string() + "|yes|arg 1|home"));
  // A later create without a callback keeps the one given before.
  js("T.create('/bin/true', function () { results.push('kept'); }); T.create('/bin/true');"
     "T.launch()");
  EXPECT_EQ(result(2), Json("kept"));
  EXPECT_EQ(js("T.create('/bin/sleep', done).arguments = ['60']; T.launch(); T.isRunning"), true);
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
