#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "core/NotificationCenter.h"
#include "core/UserDefaults.h"
#include "support/Files.h"

namespace fs = std::filesystem;
using wd::Json;
using wd::UserDefaults;

namespace {

using wd::test::readFile;
using wd::test::testDirectory;
using wd::test::writeFile;

std::vector<fs::path> asideFiles(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".corrupt-") != std::string::npos)
      out.push_back(e.path());
  return out;
}

// A binary property list of one dictionary entry: `key` and `value` are encoded objects.
std::string binaryPlist(const std::string& key, const std::string& value) {
  std::string out = "bplist00";
  const std::string objects[] = {std::string("\xD1\x01\x02", 3), key, value};
  std::string offsets;
  for (const auto& object : objects) {
    offsets.push_back(static_cast<char>(out.size()));
    out += object;
  }
  const std::size_t table = out.size();
  out += offsets;
  std::string trailer(32, '\0');
  trailer[6] = 1;                          // offset size
  trailer[7] = 1;                          // object reference size
  trailer[15] = 3;                         // object count
  trailer[31] = static_cast<char>(table);  // offset table position
  return out + trailer;
}

}  // namespace

TEST(UserDefaultsTest, TypedReadsCoerceLikeThePlatform) {
  UserDefaults d(testDirectory() / "s.plist");
  d.setInteger("int", 12);
  d.setDouble("real", 2.5);
  d.setDouble("whole", 3.0);
  d.setBool("yes", true);
  d.setString("twelve", "12");
  d.setString("abc", "abc");
  d.setString("spaced", "  -42xyz");
  d.setString("fraction", "1.9");
  d.setString("huge", "99999999999999999999999");
  d.setObject("list", Json::array({1, "a"}));
  d.setObject("dict", Json{{"k", "v"}});

  EXPECT_EQ(d.stringForKey("int"), "12");
  EXPECT_EQ(d.stringForKey("real"), "2.5");
  EXPECT_EQ(d.stringForKey("whole"), "3");  // no ".0"
  EXPECT_EQ(d.stringForKey("yes"), "1");    // booleans are numbers on the platform
  EXPECT_EQ(d.stringForKey("list"), std::nullopt);
  EXPECT_EQ(d.stringForKey("missing"), std::nullopt);

  EXPECT_EQ(d.integerForKey("twelve"), 12);
  EXPECT_EQ(d.integerForKey("abc"), 0);
  EXPECT_EQ(d.integerForKey("spaced"), -42);
  EXPECT_EQ(d.integerForKey("fraction"), 1);
  EXPECT_EQ(d.integerForKey("huge"), LLONG_MAX);
  EXPECT_EQ(d.integerForKey("yes"), 1);
  EXPECT_EQ(d.integerForKey("real"), 2);
  EXPECT_EQ(d.integerForKey("dict"), 0);
  EXPECT_EQ(d.integerForKey("missing"), 0);

  EXPECT_DOUBLE_EQ(d.doubleForKey("fraction"), 1.9);
  EXPECT_DOUBLE_EQ(d.doubleForKey("int"), 12.0);
  EXPECT_DOUBLE_EQ(d.doubleForKey("abc"), 0.0);

  EXPECT_TRUE(d.boolForKey("int"));
  EXPECT_FALSE(d.boolForKey("missing"));
  EXPECT_FALSE(d.boolForKey("abc"));
  for (const char* text : {"YES", "yes", "true", "1", " 007", "+3"}) {
    d.setString("b", text);
    EXPECT_TRUE(d.boolForKey("b")) << text;
  }
  for (const char* text : {"NO", "false", "0", "", "  ", "-0", "x1"}) {
    d.setString("b", text);
    EXPECT_FALSE(d.boolForKey("b")) << text;
  }

  EXPECT_EQ(d.arrayForKey("list"), Json::array({1, "a"}));
  EXPECT_EQ(d.arrayForKey("dict"), std::nullopt);
  EXPECT_EQ(d.dictionaryForKey("dict"), (Json{{"k", "v"}}));
  EXPECT_EQ(d.dictionaryForKey("list"), std::nullopt);
}

TEST(UserDefaultsTest, ValuesSurviveReopeningTheStore) {
  const fs::path file = testDirectory() / "s.plist";
  const std::string awkward = "a<b>&\"c' ]]> \t\r\n\x01 é \xF0\x9F\x98\x80";
  {
    UserDefaults d(file);
    d.setString("MacGap_server", "mail.example.com");
    d.setInteger("MacGap_port", -443);
    d.setInteger("big", LLONG_MAX);
    d.setDouble("real", 0.1);
    d.setBool("flag", false);
    d.setString(awkward, awkward);
    d.setObject("nested", Json{{"list", {1, 2.5, true, "x"}}, {"empty", Json::object()}});
    d.setString("gone", "soon");
    d.removeObjectForKey("gone");
  }
  UserDefaults again(file);
  EXPECT_EQ(again.stringForKey("MacGap_server"), "mail.example.com");
  EXPECT_EQ(again.integerForKey("MacGap_port"), -443);
  EXPECT_EQ(again.integerForKey("big"), LLONG_MAX);
  EXPECT_DOUBLE_EQ(again.doubleForKey("real"), 0.1);
  EXPECT_EQ(again.objectForKey("flag"), Json(false));
  EXPECT_EQ(again.stringForKey(awkward), awkward);
  EXPECT_EQ(again.objectForKey("nested"),
            (Json{{"list", {1, 2.5, true, "x"}}, {"empty", Json::object()}}));
  EXPECT_EQ(again.objectForKey("gone"), std::nullopt);
  EXPECT_TRUE(asideFiles(file.parent_path()).empty());
  // Nothing but the settings file is left in the directory.
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

// Values the store cannot hold, or that have no JSON form (the page reads settings that way), are
// refused and the old value stays: null inside containers, NUL or bytes that are not UTF-8 in
// text or keys, non-finite numbers. A batch with one bad value writes nothing.
TEST(UserDefaultsTest, ValuesThatCannotBeStoredAreRefused) {
  const fs::path file = testDirectory() / "s.plist";
  UserDefaults d(file);
  d.setString("keep", "old");
  d.setObject("keep", Json::array({1, nullptr}));
  d.setObject("keep", Json{{"a", nullptr}});
  d.setString("keep", std::string("nul\0inside", 10));
  d.setString("keep", "bad \xFF\xFE bytes");
  d.setDouble("keep", std::numeric_limits<double>::quiet_NaN());
  d.setDouble("keep", std::numeric_limits<double>::infinity());
  d.setObject("keep", Json{{"nested", Json::array({"\xC3"})}});
  d.setObject("keep", Json{{"key \xE2\x82", 1}});
  EXPECT_EQ(d.stringForKey("keep"), "old");
  EXPECT_NO_THROW((void)d.dictionaryRepresentation().dump());
  EXPECT_FALSE(d.setValuesForKeys(Json{{"keep", "new"}, {"bad", Json::array({nullptr})}}));
  EXPECT_EQ(d.stringForKey("keep"), "old");
  EXPECT_TRUE(d.setValuesForKeys(Json{{"keep", nullptr}, {"other", 5}}));
  EXPECT_EQ(UserDefaults(file).dictionaryRepresentation(), (Json{{"other", 5}}));
}

// Bad bytes in a file written by another program are repaired on read instead of failing later;
// UTF-16 text of a binary file is read.
TEST(UserDefaultsTest, ForeignFilesAreReadWithTheirTextRepaired) {
  const fs::path file = testDirectory() / "s.plist";
  writeFile(file,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>ok</key><string>fine</string>"
            "<key>k\xFF</key><string>a\xC3(b</string>"
            "</dict></plist>");
  UserDefaults d(file);
  EXPECT_TRUE(asideFiles(file.parent_path()).empty()) << "one bad string keeps the file";
  EXPECT_EQ(d.stringForKey("ok"), "fine");
  EXPECT_EQ(d.stringForKey("k\uFFFD"), "a\uFFFD(b");
  EXPECT_NO_THROW((void)d.dictionaryRepresentation().dump());
  // "k\u00E9" -> "x\u20AC" (key and value both UTF-16).
  writeFile(file,
            binaryPlist(std::string("\x62\x00k\x00\xE9", 5), std::string("\x62\x00x\x20\xAC", 5)));
  EXPECT_EQ(UserDefaults(file).dictionaryRepresentation(), (Json{{"k\u00E9", "x\u20AC"}}));
  EXPECT_TRUE(asideFiles(file.parent_path()).empty());
}

TEST(UserDefaultsTest, EveryWriteAndRemovalPostsTheKey) {
  UserDefaults d(testDirectory() / "s.plist");
  std::vector<Json> keys;
  auto token = wd::NotificationCenter::defaultCenter().addObserver(
      UserDefaults::kDidChangeNotification, [&](const wd::Notification& n) {
        keys.push_back(n.object);
        // Observers see the new value already.
        if (n.object == "a") {
          EXPECT_EQ(d.integerForKey("a"), 1);
        }
      });
  d.setInteger("a", 1);
  d.setString("b", "x");
  d.removeObjectForKey("b");
  d.setValuesForKeys(Json{{"c", true}, {"d", nullptr}});
  EXPECT_EQ(keys, (std::vector<Json>{"a", "b", "b", "c", "d"}));
}

TEST(UserDefaultsTest, RegisteredValuesAnswerOnlyForKeysWithoutStoredValues) {
  const fs::path file = testDirectory() / "s.plist";
  UserDefaults d(file);
  d.setInteger("MacGap_port", 8443);
  d.registerDefaults(Json{{"MacGap_port", 443}, {"MacGap_updateChannel", "beta"}});
  EXPECT_EQ(d.integerForKey("MacGap_port"), 8443);
  EXPECT_EQ(d.stringForKey("MacGap_updateChannel"), "beta");
  EXPECT_EQ(d.dictionaryRepresentation(),
            (Json{{"MacGap_port", 8443}, {"MacGap_updateChannel", "beta"}}));
  d.removeObjectForKey("MacGap_port");
  EXPECT_EQ(d.integerForKey("MacGap_port"), 443);
  // Registered values are not persisted.
  EXPECT_EQ(UserDefaults(file).objectForKey("MacGap_updateChannel"), std::nullopt);
}

TEST(UserDefaultsTest, ReloadPicksUpOtherWritersAndAnnouncesChangedKeys) {
  const fs::path file = testDirectory() / "s.plist";
  UserDefaults mine(file), theirs(file);
  mine.setString("same", "1");
  mine.setString("dropped", "x");
  theirs.reload();
  theirs.setString("added", "y");
  theirs.removeObjectForKey("dropped");
  std::vector<Json> keys;
  auto token = wd::NotificationCenter::defaultCenter().addObserver(
      UserDefaults::kDidChangeNotification,
      [&](const wd::Notification& n) { keys.push_back(n.object); });
  mine.reload();
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<Json>{"added", "dropped"}));
  EXPECT_EQ(mine.dictionaryRepresentation(), (Json{{"same", "1"}, {"added", "y"}}));
}

TEST(UserDefaultsTest, DamagedFileIsMovedAsideAndStoreStartsEmpty) {
  const std::vector<std::string> damaged = {
      "",
      "not a property list",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><string>x</string>",
      "<plist version=\"1.0\"><array><integer>1</integer></array></plist>",
      "<plist version=\"1.0\"><string>just text</string></plist>",
      // UTF-16 text holding U+0000, as a value and as a key: the property-list library would
      // abort the process when asked for such text.
      binaryPlist(std::string("\x51"
                              "a",
                              2),
                  std::string("\x62\x00x\x00\x00", 5)),
      binaryPlist(std::string("\x62\x00\x00\x00k", 5), std::string("\x51x", 2)),
      // ASCII text holding NUL (binary), and XML holding it raw or as a character reference.
      binaryPlist(std::string("\x51k", 2), std::string("\x53x\x00y", 4)),
      binaryPlist(std::string("\x52\x00k", 3), std::string("\x51x", 2)),
      std::string("<plist version=\"1.0\"><dict><key>a</key><string>x\0y</string></dict></plist>",
                  74),
      "<plist version=\"1.0\"><dict><key>a&#0;</key><string>x</string></dict></plist>",
      "<plist version=\"1.0\"><dict><key>a</key><string>&#x000;</string></dict></plist>",
  };
  for (const auto& text : damaged) {
    const fs::path file = testDirectory() / "s.plist";
    writeFile(file, text);
    UserDefaults d(file);
    EXPECT_EQ(d.dictionaryRepresentation(), Json::object()) << text;
    auto aside = asideFiles(file.parent_path());
    ASSERT_EQ(aside.size(), 1u) << text;
    EXPECT_EQ(readFile(aside[0]), text);  // kept as it was
    EXPECT_FALSE(fs::exists(file));
    // The store works on: the next write makes a good file.
    d.setString("a", "b");
    EXPECT_EQ(UserDefaults(file).stringForKey("a"), "b");
    EXPECT_EQ(asideFiles(file.parent_path()).size(), 1u);
  }
}

TEST(UserDefaultsTest, UnreadableSettingsPathIsMovedAside) {
  const fs::path dir = testDirectory();
  fs::create_directories(dir / "s.plist" / "inside");  // a directory where the file should be
  UserDefaults d(dir / "s.plist");
  EXPECT_EQ(d.dictionaryRepresentation(), Json::object());
  ASSERT_EQ(asideFiles(dir).size(), 1u);
  EXPECT_TRUE(fs::exists(asideFiles(dir)[0] / "inside"));
  d.setBool("x", true);
  EXPECT_TRUE(UserDefaults(dir / "s.plist").boolForKey("x"));
}

TEST(UserDefaultsTest, FailedSaveKeepsTheValueInMemoryAndReportsIt) {
  const fs::path dir = testDirectory();
  writeFile(dir / "blocker", "a file, so no directory can be made below it");
  UserDefaults d(dir / "blocker" / "s.plist");
  d.setString("a", "b");
  EXPECT_EQ(d.stringForKey("a"), "b");
  EXPECT_FALSE(d.synchronize());
}

// A settings file that is a link (a dotfile) stays a link: its target is written; a dangling
// link's target is created when the target's folder exists, else the save fails and the link
// stays; a damaged target is set aside and the link keeps pointing where it did.
TEST(UserDefaultsTest, SymlinkedSettingsFileStaysALink) {
  const fs::path dir = testDirectory(), dotfiles = dir / "dotfiles";
  fs::create_directories(dotfiles);
  writeFile(dotfiles / "real.plist",
            "<plist version=\"1.0\"><dict><key>k</key><integer>1</integer></dict></plist>");
  writeFile(dotfiles / "damaged.plist", "garbage");
  fs::create_symlink(dotfiles / "real.plist", dir / "real.plist");
  fs::create_symlink("dotfiles/new.plist", dir / "new.plist");
  fs::create_symlink(dir / "missing" / "new.plist", dir / "nowhere.plist");
  fs::create_symlink("dotfiles/damaged.plist", dir / "damaged.plist");
  EXPECT_EQ(UserDefaults(dir / "real.plist").integerForKey("k"), 1);
  const struct {
    const char* link;
    bool saved;
  } cases[] = {
      {"real.plist", true}, {"new.plist", true}, {"nowhere.plist", false}, {"damaged.plist", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    UserDefaults d(dir / c.link);
    d.setInteger("k", 7);
    EXPECT_EQ(d.synchronize(), c.saved);
    EXPECT_EQ(d.integerForKey("k"), 7);
    EXPECT_TRUE(fs::is_symlink(dir / c.link));
    if (c.saved) {
      EXPECT_EQ(UserDefaults(fs::canonical(dir / c.link)).integerForKey("k"), 7);
    }
  }
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_TRUE(asideFiles(dir).empty());
  EXPECT_EQ(asideFiles(dotfiles).size(), 1u);  // the damaged target's contents
}

TEST(UserDefaultsTest, OpeningRemovesOnlyOldLeftoversOfInterruptedSaves) {
  const fs::path dir = testDirectory();
  for (const char* name : {"s.plist.tmp-AAAAAA", "s.plist.tmp-BBBBBB", "s.plist.tmp-toolong",
                           "other.plist.tmp-CCCCCC"})
    writeFile(dir / name, "partial");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const char* name : {"s.plist.tmp-AAAAAA", "s.plist.tmp-toolong", "other.plist.tmp-CCCCCC"})
    fs::last_write_time(dir / name, old);
  UserDefaults d(dir / "s.plist");
  EXPECT_FALSE(fs::exists(dir / "s.plist.tmp-AAAAAA"));
  EXPECT_TRUE(fs::exists(dir / "s.plist.tmp-BBBBBB"));  // may be another process's save
  EXPECT_TRUE(fs::exists(dir / "s.plist.tmp-toolong"));
  EXPECT_TRUE(fs::exists(dir / "other.plist.tmp-CCCCCC"));
}

// A save killed at any moment leaves a file that parses and holds either the old or the new
// contents. A child process saves two alternating large values in a loop and is killed with
// SIGKILL after a random delay, many times over.
TEST(UserDefaultsCrashTest, SaveKilledAtAnyMomentLeavesOldOrNewFile) {
  const fs::path file = testDirectory() / "s.plist";
  const std::string a(300000, 'a'), b(300000, 'b');
  UserDefaults(file).setString("payload", a);
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int round = 0; round < 40; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      UserDefaults d(file);
      for (unsigned n = 0;; ++n) d.setString("payload", n % 2 ? a : b);
    }
    ::usleep(static_cast<useconds_t>(rng() % 30000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    auto values = UserDefaults::readDictionaryFile(file);
    ASSERT_TRUE(values.has_value()) << "round " << round;
    ASSERT_EQ(values->size(), 1u);
    const auto& payload = (*values)["payload"];
    ASSERT_TRUE(payload == a || payload == b) << "round " << round;
  }
  EXPECT_TRUE(asideFiles(file.parent_path()).empty());
}
