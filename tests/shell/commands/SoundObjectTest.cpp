// MacGap.Sound from real JavaScript in the headless page, playing real files through GStreamer
// into a fake audio sink: the end callback and its name, two plays of one name, system sounds of
// the freedesktop theme, and sounds that are missing or cannot be played.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "core/Bundle.h"
#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/Sound.h"
#include "shell/media/SystemSounds.h"
#include "support/Loop.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

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

class SoundObject : public ::testing::Test {
 protected:
  void SetUp() override {
    resources = fs::path(getenv("HOME")) / "resources";
    writeWav(resources / "sounds" / "ding.wav");
    writeWav(resources / "sounds" / "dong.wav");
    fs::create_directories(resources / "broken");
    std::ofstream(resources / "broken" / "ding.wav") << "this is not a sound at all";
    Bundle::main().setResourcePath(resources);
    window = std::make_shared<FakeWindow>();
    sound = std::make_shared<Sound>(window, "fakesink sync=false");
    window->page.install({std::make_shared<DesktopCommand>(window), {{"Sound", sound}}});
    js("window.ends = []; window.S = MacGap.Sound;"
       "window.one = function (n) { ends.push('one ' + n); };"
       "window.two = function (n) { ends.push('two ' + n); };");
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  // The ends reported once `n` have come and every sound has ended.
  Json ends(std::size_t n) {
    EXPECT_TRUE(waitFor([&] { return js("ends.length") >= Json(n) && sound->playing() == 0; }));
    return js("ends");
  }

  fs::path resources;
  std::shared_ptr<FakeWindow> window;
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
