// The page's media objects from real JavaScript in the headless page:
// - MacGap.Clipboard over the real GTK clipboard of the test session's display: the page's own
//   text, text another owner puts there, an image-only clipboard, and copy without text;
// - MacGap.Fonts against the DejaVu fonts installed on the machine: the lists, the members of a
//   family, line heights, and the weight scale;
// - MacGap.Sound playing real files through GStreamer into a fake audio sink: the end callback
//   and its name, two plays of one name, system sounds of the freedesktop theme, and sounds that
//   are missing or cannot be played.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "PageObjectTest.h"
#include "core/Bundle.h"
#include "shell/commands/Clipboard.h"
#include "shell/commands/Fonts.h"
#include "shell/commands/Sound.h"
#include "shell/media/FontCatalog.h"
#include "shell/media/GtkTextClipboard.h"
#include "shell/media/SystemSounds.h"
#include "support/Loop.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

class ClipboardObject : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    clipboard = std::make_unique<GtkTextClipboard>();
    install("Clipboard", std::make_shared<Clipboard>(window, *clipboard));
    settle();
  }
  // Lets the clipboard's notices and text requests run to the end.
  void settle() {
    drainLoop(50);
    EXPECT_TRUE(waitFor([&] { return !clipboard->updating(); }));
  }
  // Another owner takes the clipboard (as another program would) with this content; the page
  // then pastes `text`.
  void takeOver(const std::function<void(GtkClipboard*)>& set, const std::string& text) {
    set(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    EXPECT_TRUE(waitFor([&] { return js("MacGap.Clipboard.paste()") == Json(text); })) << text;
  }

  std::unique_ptr<GtkTextClipboard> clipboard;
};

TEST_F(ClipboardObject, TextRoundTripsThroughTheDesktopClipboard) {
  for (const char* text : {"abc", "h\u00e9llo \u2713 \U0001F600", "line\nnext", ""}) {
    const std::string quoted = Json(text).dump();
    // Right away from the page's own copy, and still after the clipboard's notice came back.
    EXPECT_EQ(js("MacGap.Clipboard.copy(" + quoted + "); MacGap.Clipboard.paste()"), Json(text));
    settle();
    EXPECT_EQ(js("MacGap.Clipboard.paste()"), Json(text));
    g_autofree gchar* onDisplay =
        gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    EXPECT_STREQ(onDisplay ? onDisplay : "", text);
  }
  // A lone surrogate cannot go on the clipboard as it is.
  EXPECT_EQ(js("MacGap.Clipboard.copy('a\\uD800b'); MacGap.Clipboard.paste()"), Json("a\uFFFDb"));
  js("MacGap.Clipboard.copy('x'); MacGap.Clipboard.copy()");
  EXPECT_EQ(js("MacGap.Clipboard.paste()"), Json(""));
}

TEST_F(ClipboardObject, FollowsWhatOtherOwnersPutThere) {
  js("MacGap.Clipboard.copy('mine')");
  takeOver([](GtkClipboard* c) { gtk_clipboard_set_text(c, "theirs", -1); }, "theirs");
  // An image only: no text.
  takeOver(
      [](GtkClipboard* c) {
        g_autoptr(GdkPixbuf) image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
        gdk_pixbuf_fill(image, 0xff0000ff);
        gtk_clipboard_set_image(c, image);
      },
      "");
  // Text again, then an owner that gives up the clipboard: nothing to paste.
  takeOver([](GtkClipboard* c) { gtk_clipboard_set_text(c, "again", -1); }, "again");
  takeOver([](GtkClipboard* c) { gtk_clipboard_clear(c); }, "");
}

class FontsObject : public PageObjectTest {
 protected:
  void SetUp() override {
    install("Fonts", std::make_shared<Fonts>(window));
    js("window.F = MacGap.Fonts");
  }
};

TEST_F(FontsObject, ListsInstalledFontsAndFamiliesSortedOnce) {
  for (const char* list : {"F.availableFonts()", "F.availableFontFamilies()"}) {
    SCOPED_TRACE(list);
    const Json names = js(list);
    ASSERT_TRUE(names.is_array());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  }
  EXPECT_EQ(js("['DejaVuSans', 'DejaVuSans-Bold', 'DejaVuSansMono-Oblique'].map("
               "  function (n) { return F.availableFonts().indexOf(n) >= 0; })"),
            Json::parse("[true, true, true]"));
  EXPECT_EQ(js("['DejaVu Sans', 'DejaVu Sans Mono', 'DejaVu Serif', 'DejaVu Sans Condensed'].map("
               "  function (n) { return F.availableFontFamilies().indexOf(n) >= 0; })"),
            Json::parse("[true, true, true, false]"));
}

TEST_F(FontsObject, MembersOfAFamilyGiveNameFaceWeightAndTraits) {
  EXPECT_EQ(js("F.availableMembersOfFontFamily('DejaVu Sans Mono')"), Json::parse(R"([
      ["DejaVuSansMono", "Book", 5, 1024],
      ["DejaVuSansMono-Oblique", "Oblique", 5, 1025],
      ["DejaVuSansMono-Bold", "Bold", 9, 1026],
      ["DejaVuSansMono-BoldOblique", "Bold Oblique", 9, 1027]])"));
  // The condensed faces count as narrow members of their family; the light one as light.
  EXPECT_EQ(js("F.availableMembersOfFontFamily('DejaVu Sans').filter(function (m) {"
               "  return m[0] === 'DejaVuSansCondensed-Bold' || m[0] === 'DejaVuSans-ExtraLight';"
               "})"),
            Json::parse(R"([["DejaVuSans-ExtraLight", "ExtraLight", 2, 0],
                            ["DejaVuSansCondensed-Bold", "Condensed Bold", 9, 66]])"));
  for (const char* family : {"'No Such Family'", "''", "null", "'DejaVu Sans\\u0000Mono'"})
    EXPECT_EQ(js("typeof F.availableMembersOfFontFamily(" + std::string(family) + ")"),
              Json("undefined"))
        << family;
}

TEST_F(FontsObject, LineHeightFollowsTheFontsMetrics) {
  const Json h12 = js("F.getLineHeight('DejaVuSans', 12)");
  ASSERT_TRUE(h12.is_number());
  EXPECT_GE(h12.get<double>(), 13);  // ascent 0.93 em + descent 0.24 em
  EXPECT_LE(h12.get<double>(), 15);
  const double h48 = js("F.getLineHeight('DejaVuSans', 48)").get<double>();
  EXPECT_NEAR(h48, 4 * h12.get<double>(), 4);
  // A full or family name finds the font too; a size of 0 or none is the default 12 points.
  for (const char* same : {"F.getLineHeight('DejaVu Sans', 12)", "F.getLineHeight('DejaVuSans', 0)",
                           "F.getLineHeight('DejaVuSans')"})
    EXPECT_EQ(js(same), h12) << same;
  for (const char* none :
       {"F.getLineHeight('NoSuchFont-Bold', 12)", "F.getLineHeight(null, 12)",
        "F.getLineHeight('DejaVuSans', 1e9)", "F.getLineHeight('DejaVuSans', Infinity)"})
    EXPECT_EQ(js("typeof " + std::string(none)), Json("undefined")) << none;
}

TEST(FontWeights, FontconfigWeightsMapOntoTheZeroToFifteenScale) {
  const std::pair<int, int> cases[] = {
      // Anchors, a weight between two named ones, and weights outside the range.
      {FC_WEIGHT_REGULAR, 5}, {FC_WEIGHT_BOLD, 9}, {90, 5}, {120, 6}, {-5, 1}, {1000, 13},
  };
  for (const auto& [fc, expected] : cases) EXPECT_EQ(fonts::appKitWeight(fc), expected) << fc;
}

// A WAV file of 50 ms of silence (8 kHz, 16-bit mono).
void writeWav(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  auto le = [&out](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  const std::uint32_t samples = 400, data = samples * 2;
  out << "RIFF";
  le(36 + data, 4);
  out << "WAVEfmt ";
  le(16, 4), le(1, 2), le(1, 2), le(8000, 4), le(16000, 4), le(2, 2), le(16, 2);
  out << "data";
  le(data, 4);
  for (std::uint32_t i = 0; i < data; ++i) out.put('\0');
}

class SoundObject : public PageObjectTest {
 protected:
  void SetUp() override {
    resources = fs::path(getenv("HOME")) / "resources";
    writeWav(resources / "sounds" / "ding.wav");
    writeWav(resources / "sounds" / "dong.wav");
    fs::create_directories(resources / "broken");
    std::ofstream(resources / "broken" / "ding.wav") << "this is not a sound at all";
    Bundle::main().setResourcePath(resources);
    sound = std::make_shared<Sound>(window, "fakesink sync=false");
    install("Sound", sound);
    js("window.ends = []; window.S = MacGap.Sound;"
       "window.one = function (n) { ends.push('one ' + n); };"
       "window.two = function (n) { ends.push('two ' + n); };");
  }
  // The ends reported once `n` have come and every sound has ended.
  Json ends(std::size_t n) {
    EXPECT_TRUE(waitFor([&] { return js("ends.length") >= Json(n) && sound->playing() == 0; }));
    return js("ends");
  }

  fs::path resources;
  std::shared_ptr<Sound> sound;
};

TEST_F(SoundObject, TheEndCallsTheCallbackWithTheSoundsName) {
  js("S.play('sounds/ding.wav', one); S.playSystem('Glass', two)");
  Json got = ends(2);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, Json::parse(R"(["one ding.wav", "two Glass"])"));
  EXPECT_EQ(js("S.cb"), Json());  // cleared once the callback is called
  // A value that is not a function is kept and called to no effect.
  js("S.play('sounds/ding.wav', 42); S.play('sounds/dong.wav', one)");
  EXPECT_EQ(ends(3), Json::parse(R"(["one ding.wav", "two Glass", "one dong.wav"])"));
  // Two plays of one name both call the last callback.
  js("ends = []; S.play('sounds/ding.wav', one); S.play('sounds/ding.wav', two)");
  EXPECT_EQ(ends(2), Json::parse(R"(["two ding.wav", "two ding.wav"])"));
}

TEST_F(SoundObject, MissingOrUnplayableSoundsCallNothing) {
  // Not found: nothing plays and nothing is registered, so the sound already playing under
  // that name keeps its callback.
  js("S.play('sounds/ding.wav', one);"
     "['sounds/missing/ding.wav', '../sounds/ding.wav', 'sounds', '', null].forEach("
     "  function (f) { S.play(f, two); });"
     "['NoSuchSound', '../../ding', '', null].forEach(function (n) { S.playSystem(n, two); })");
  EXPECT_EQ(ends(1), Json::parse(R"(["one ding.wav"])"));
  // Found but not a sound: it ends without a call, and sounds play on afterwards.
  js("S.play('broken/ding.wav', two)");
  EXPECT_TRUE(waitFor([&] { return sound->playing() == 0; }));
  js("S.play('sounds/dong.wav', one)");
  EXPECT_EQ(ends(2), Json::parse(R"(["one ding.wav", "one dong.wav"])"));
}

TEST(SystemSounds, EveryPageNameFindsAnInstalledThemeSound) {
  for (const char* name : {"Basso", "Blow", "Bottle", "Frog", "Funk", "Glass", "Hero", "Morse",
                           "Ping", "Pop", "Purr", "Sosumi", "Submarine", "Tink", "glass", "bell"}) {
    auto file = systemsounds::fileForName(name);
    ASSERT_TRUE(file) << name;
    EXPECT_EQ(fs::path(*file).stem(), systemsounds::themeName(name)) << name;
  }
  EXPECT_EQ(systemsounds::themeName("glass"), systemsounds::themeName("Glass"));
  for (const char* bad : {"", "..", "../stereo/bell", "bell.oga", "no-such-sound"})
    EXPECT_FALSE(systemsounds::fileForName(bad)) << bad;
}

}  // namespace
}  // namespace wd::test
