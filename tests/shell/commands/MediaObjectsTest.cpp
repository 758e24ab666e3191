// MacGap.Clipboard over the test display's real clipboard, MacGap.Fonts over the installed DejaVu
// fonts and MacGap.Sound through GStreamer into a fake sink, in the headless page.
#include <fontconfig/fontconfig.h>

#include "PageObjectTest.h"
#include "core/Bundle.h"
#include "shell/commands/Clipboard.h"
#include "shell/commands/Fonts.h"
#include "shell/commands/Sound.h"
#include "shell/media/FontCatalog.h"
#include "shell/media/GtkTextClipboard.h"
#include "shell/media/SystemSounds.h"

namespace wd::test {

// The page's C: the display's clipboard; F: the installed fonts; S: sounds into a fake sink,
// the test's own in the bundle's resources, `one` and `two` noting the ends they are called for.
class MediaObjects : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    // 50 ms of silence: 8 kHz, 16-bit mono.
    const std::string wav = std::string(
                                "RIFF\x44\x03\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0"
                                "\x80\x3e\0\0\x02\0\x10\0data\x20\x03\0\0",
                                44) +
                            std::string(800, '\0');
    const fs::path resources = fs::path(getenv("HOME")) / "resources";
    writeFile(resources / "sounds" / "ding.wav", wav);
    writeFile(resources / "sounds" / "dong.wav", wav);
    writeFile(resources / "broken" / "ding.wav", "this is not a sound at all");
    Bundle::main().setResourcePath(resources);
    clipboard = std::make_unique<GtkTextClipboard>();
    window->page.install({std::make_shared<DesktopCommand>(window),
                          {{"Clipboard", std::make_shared<Clipboard>(window, *clipboard)},
                           {"Fonts", std::make_shared<Fonts>(window)},
                           {"Sound", sound}}});
    js("var C = MacGap.Clipboard, F = MacGap.Fonts, S = MacGap.Sound, ends = [];"
       "var one = function (n) { ends.push('one ' + n); };"
       "var two = function (n) { ends.push('two ' + n); };");
    settle();
  }
  // The clipboard is given up while this process still answers for it: another test process
  // asking an owner that is busy ending (or gone) would wait for GTK's 30 s time-out.
  void TearDown() override {
    gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    drainLoop(50);
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
  std::unique_ptr<GtkTextClipboard> clipboard;
  std::shared_ptr<Sound> sound = std::make_shared<Sound>(window, "fakesink sync=false");
};

TEST_F(MediaObjects, ClipboardTextRoundTripsAndASoundsEndCallsItsCallbackWithItsName) {
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
}

TEST_F(MediaObjects, ListsMembersLineHeightsAndWeightsOfTheInstalledFonts) {
  js("var has = function (list, names) {"
     "  return names.map(function (n) { return list.indexOf(n) >= 0; }); };");
  // Each list sorted, without doubles.
  for (const char* list : {"F.availableFonts()", "F.availableFontFamilies()"})
    EXPECT_EQ(js("var l = " + std::string(list) +
                 "; l.length > 0 && l.every(function (n, i) {"
                 "  return i == 0 || l[i - 1] < n; })"),
              true)
        << list;
  // The condensed faces count as narrow members of their family; the light one as light.
  expectAll(
      {{"has(F.availableFonts(), ['DejaVuSans', 'DejaVuSans-Bold', 'DejaVuSansMono-Oblique'])",
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
  ASSERT_TRUE(h12.is_number());
  EXPECT_GE(h12.get<double>(), 13);  // ascent 0.93 em + descent 0.24 em
  EXPECT_LE(h12.get<double>(), 15);
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
  js("S.play('sounds/ding.wav', one); S.playSystem('Glass', two)");
  Json got = ends(2);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, Json::parse(R"(["one ding.wav", "two Glass"])"));
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

}  // namespace wd::test
