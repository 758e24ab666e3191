// The settings store (UserDefaults), the controller the preference controls bind to, and the
// launch-time settings work (Settings).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <limits>

#include "core/Bundle.h"
#include "core/NotificationCenter.h"
#include "core/Settings.h"
#include "core/UserDefaults.h"
#include "core/UserDefaultsController.h"
#include "support/Files.h"

namespace wd {
namespace {

namespace fs = std::filesystem;
using namespace test;

std::vector<fs::path> asideFiles(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".corrupt-") != std::string::npos)
      out.push_back(e.path());
  return out;
}

// A binary property list of one dictionary entry: `key` and `value` are encoded objects.
std::string binaryPlist(const std::string& key, const std::string& value) {
  std::string out = "bplist00", offsets;
  for (const auto& object : {std::string("\xD1\x01\x02", 3), key, value}) {
    offsets.push_back(static_cast<char>(out.size()));
    out += object;
  }
  std::string trailer(32, '\0');
  trailer[6] = trailer[7] = 1;                  // offset and object reference sizes
  trailer[15] = 3;                              // object count
  trailer[31] = static_cast<char>(out.size());  // offset table position
  return out + offsets + trailer;
}

// Collects the keys UserDefaults announces while it lives.
struct ChangedKeys : std::vector<Json> {
  NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
      UserDefaults::kDidChangeNotification, [this](const Notification& n) { push_back(n.object); });
};

// Numbers print without a needless ".0"; booleans are numbers on the platform.
TEST(UserDefaultsTest, TypedReadsCoerceLikeThePlatform) {
  UserDefaults d(testDirectory() / "s.plist");
  d.setValuesForKeys(Json::parse(R"({"int": 12, "real": 2.5, "whole": 3.0, "yes": true,
      "twelve": "12", "abc": "abc", "spaced": "  -42xyz", "fraction": "1.9",
      "huge": "99999999999999999999999", "list": [1, "a"], "dict": {"k": "v"}, "YES": "YES",
      "true": "true", "007": " 007", "+3": "+3", "NO": "NO", "-0": "-0", "blank": "  "})"));
  const std::pair<const char*, std::optional<std::string>> strings[] = {
      {"int", "12"}, {"real", "2.5"},        {"whole", "3"},
      {"yes", "1"},  {"list", std::nullopt}, {"missing", std::nullopt}};
  for (const auto& [key, text] : strings) EXPECT_EQ(d.stringForKey(key), text) << key;
  const std::pair<const char*, long long> integers[] = {
      {"twelve", 12}, {"abc", 0},  {"spaced", -42}, {"huge", LLONG_MAX},
      {"yes", 1},     {"real", 2}, {"dict", 0},     {"missing", 0}};
  for (const auto& [key, n] : integers) EXPECT_EQ(d.integerForKey(key), n) << key;
  EXPECT_DOUBLE_EQ(d.doubleForKey("fraction"), 1.9);
  EXPECT_DOUBLE_EQ(d.doubleForKey("int"), 12.0);
  const std::pair<const char*, bool> bools[] = {
      {"YES", true}, {"true", true}, {"007", true},    {"+3", true},      {"int", true},
      {"NO", false}, {"-0", false},  {"blank", false}, {"missing", false}};
  for (const auto& [key, value] : bools) EXPECT_EQ(d.boolForKey(key), value) << key;
  EXPECT_EQ(d.arrayForKey("list"), Json::array({1, "a"}));
  EXPECT_EQ(d.arrayForKey("dict"), std::nullopt);
  EXPECT_EQ(d.dictionaryForKey("dict"), (Json{{"k", "v"}}));
  EXPECT_EQ(d.dictionaryForKey("list"), std::nullopt);
}

// Every change is announced (with the new value in place); registered values are not persisted.
TEST(UserDefaultsTest, ValuesSurviveReopeningEveryChangeIsAnnouncedAndReloadsTakeInOthers) {
  const fs::path file = testDirectory() / "s.plist";
  const std::string awkward = "a<b>&\"c' ]]> \t\r\n\x01 é \xF0\x9F\x98\x80";
  {
    UserDefaults d(file);
    ChangedKeys keys;
    auto check = NotificationCenter::defaultCenter().addObserver(
        UserDefaults::kDidChangeNotification, [&](const Notification& n) {
          EXPECT_TRUE(n.object != "MacGap_port" || d.integerForKey("MacGap_port") == -443);
        });
    d.setString("MacGap_server", "mail.example.com");
    d.setInteger("MacGap_port", -443);
    d.setInteger("big", LLONG_MAX);
    d.setDouble("real", 0.1);
    d.setBool("flag", false);
    d.setString(awkward, awkward);
    d.setObject("nested", Json{{"list", {1, 2.5, true, "x"}}, {"empty", Json::object()}});
    d.setString("gone", "soon");
    d.removeObjectForKey("gone");
    d.setValuesForKeys(Json{{"c", true}, {"d", nullptr}});
    EXPECT_EQ(keys, (std::vector<Json>{"MacGap_server", "MacGap_port", "big", "real", "flag",
                                       awkward, "nested", "gone", "gone", "c", "d"}));
  }
  UserDefaults again(file);
  Json expected = Json::parse(R"({"MacGap_server": "mail.example.com", "MacGap_port": -443,
      "big": 9223372036854775807, "real": 0.1, "flag": false, "c": true,
      "nested": {"list": [1, 2.5, true, "x"], "empty": {}}})");
  expected[awkward] = awkward;
  EXPECT_EQ(again.dictionaryRepresentation(), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
  again.registerDefaults(Json{{"MacGap_port", 443}, {"MacGap_updateChannel", "beta"}});
  expected["MacGap_updateChannel"] = "beta";  // stored values win
  EXPECT_EQ(again.dictionaryRepresentation(), expected);
  again.removeObjectForKey("MacGap_port");
  EXPECT_EQ(again.integerForKey("MacGap_port"), 443);
  EXPECT_EQ(UserDefaults(file).objectForKey("MacGap_updateChannel"), std::nullopt);
  // A reload takes in another writer's changes and announces the keys whose values changed.
  UserDefaults theirs(file);
  theirs.setString("added", "y");
  theirs.removeObjectForKey("c");
  ChangedKeys changed;
  again.reload();
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed, (std::vector<Json>{"added", "c"}));
  EXPECT_EQ(again.objectForKey("added"), Json("y"));
  EXPECT_EQ(again.objectForKey("c"), std::nullopt);
}

// Values without a property-list or JSON form are refused; a batch with one writes nothing.
TEST(UserDefaultsTest, ValuesThatCannotBeStoredAreRefused) {
  const fs::path file = testDirectory() / "s.plist";
  UserDefaults d(file);
  d.setString("keep", "old");
  for (const Json& bad :
       {Json::array({1, nullptr}), Json{{"a", nullptr}}, Json(std::string("nul\0inside", 10)),
        Json("bad \xFF\xFE bytes"), Json(std::numeric_limits<double>::quiet_NaN()),
        Json{{"key \xE2\x82", 1}}})
    d.setObject("keep", bad);
  EXPECT_EQ(d.stringForKey("keep"), "old");
  EXPECT_FALSE(d.setValuesForKeys(Json{{"keep", "new"}, {"bad", Json::array({nullptr})}}));
  EXPECT_EQ(d.stringForKey("keep"), "old");
  EXPECT_TRUE(d.setValuesForKeys(Json{{"keep", nullptr}, {"other", 5}}));
  EXPECT_EQ(UserDefaults(file).dictionaryRepresentation(), (Json{{"other", 5}}));
}

// Bad bytes in a file of another program are repaired on read; UTF-16 text of a binary file is
// read. A damaged file (or a directory in its place) is moved aside as it was; the store works on.
TEST(UserDefaultsTest, ForeignFilesAreRepairedAndDamagedOnesMovedAside) {
  using std::string;
  const string plist = "<plist version=\"1.0\">";
  // Contents, and what is read from them (none: damaged). Text holding U+0000 (binary UTF-16 or
  // ASCII, XML raw or referenced) aborts the plist library.
  const std::pair<string, std::optional<Json>> files[] = {
      {plist + "<dict><key>ok</key><string>fine</string><key>k\xFF</key><string>a\xC3(b</string>"
               "</dict></plist>",
       Json{{"ok", "fine"}, {"k\uFFFD", "a\uFFFD(b"}}},
      // "k\u00E9" -> "x\u20AC" (key and value both UTF-16).
      {binaryPlist(string("\x62\x00k\x00\xE9", 5), string("\x62\x00x\x20\xAC", 5)),
       Json{{"k\u00E9", "x\u20AC"}}},
      {"", std::nullopt},
      {"not a property list", std::nullopt},
      {plist + "<array><integer>1</integer></array></plist>", std::nullopt},
      {binaryPlist(string("\x51", 1) + "a", string("\x62\x00x\x00\x00", 5)), std::nullopt},
      {binaryPlist(string("\x51k", 2), string("\x53x\x00y", 4)), std::nullopt},
      {plist + string("<dict><key>a</key><string>x\0y</string></dict></plist>", 53), std::nullopt},
      {plist + "<dict><key>a&#0;</key><string>x</string></dict></plist>", std::nullopt},
      {plist + "<dict><key>a</key><string>&#x000;</string></dict></plist>", std::nullopt},
      {"directory", std::nullopt}};
  for (const auto& [text, read] : files) {
    SCOPED_TRACE(text);
    const fs::path file = testDirectory() / "s.plist";
    text == "directory" ? fs::create_directories(file / "inside") : writeFile(file, text);
    UserDefaults d(file);
    EXPECT_EQ(d.dictionaryRepresentation(), read.value_or(Json::object()));
    auto aside = asideFiles(file.parent_path());
    ASSERT_EQ(aside.size(), read ? 0u : 1u);
    if (read) continue;
    EXPECT_TRUE(text == "directory" ? fs::exists(aside[0] / "inside") : readFile(aside[0]) == text);
    EXPECT_FALSE(fs::exists(file));
    d.setString("a", "b");
    EXPECT_EQ(UserDefaults(file).stringForKey("a"), "b");
    EXPECT_EQ(asideFiles(file.parent_path()).size(), 1u);
  }
}

// A failed save keeps the value in memory and reports it. A link (a dotfile) stays a link and its
// target (a damaged one set aside) is written; a missing target folder is not made.
TEST(UserDefaultsTest, SavesFollowLinksAndFailuresKeepTheValue) {
  const fs::path dir = testDirectory(), dotfiles = dir / "dotfiles";
  writeFile(dir / "blocker", "a file, so no directory can be made below it");
  writeFile(dotfiles / "real.plist",
            "<plist version=\"1.0\"><dict><key>k</key><integer>1</integer></dict></plist>");
  writeFile(dotfiles / "damaged.plist", "garbage");
  fs::create_symlink(dotfiles / "real.plist", dir / "real.plist");
  fs::create_symlink(dir / "missing" / "new.plist", dir / "nowhere.plist");
  fs::create_symlink("dotfiles/damaged.plist", dir / "damaged.plist");
  EXPECT_EQ(UserDefaults(dir / "real.plist").integerForKey("k"), 1);
  const std::pair<const char*, bool> cases[] = {{"real.plist", true},
                                                {"nowhere.plist", false},
                                                {"damaged.plist", true},
                                                {"blocker/s.plist", false}};
  for (const auto& [name, saved] : cases) {
    SCOPED_TRACE(name);
    UserDefaults d(dir / name);
    d.setInteger("k", 7);
    EXPECT_EQ(d.synchronize(), saved);
    EXPECT_EQ(d.integerForKey("k"), 7);
    EXPECT_TRUE(!saved || UserDefaults(fs::canonical(dir / name)).integerForKey("k") == 7);
    EXPECT_EQ(fs::is_symlink(dir / name), fs::path(name).parent_path().empty());
  }
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_TRUE(asideFiles(dir).empty());
  EXPECT_EQ(asideFiles(dotfiles).size(), 1u);  // the damaged target's contents
}

// A save killed at any moment (SIGKILL after delays stepping through 30 ms) leaves either the old
// or the new file.
TEST(UserDefaultsCrashTest, SaveKilledAtAnyMomentLeavesOldOrNewFile) {
  const fs::path file = testDirectory() / "s.plist";
  const std::string a(300000, 'a'), b(300000, 'b');
  UserDefaults(file).setString("payload", a);
  for (int round = 0; round < 40; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      UserDefaults d(file);
      for (unsigned n = 0;; ++n) d.setString("payload", n % 2 ? a : b);
    }
    ::usleep(static_cast<useconds_t>(round * 750));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const auto values = UserDefaults::readDictionaryFile(file);
    ASSERT_TRUE((values == Json{{"payload", a}} || values == Json{{"payload", b}})) << round;
  }
  EXPECT_TRUE(asideFiles(file.parent_path()).empty());
}

class UserDefaultsControllerTest : public ::testing::Test {
 protected:
  UserDefaultsControllerTest() {
    controller_.setInitialValues(Json{{"MacGap_port", 443}, {"MacGap_server", ""}});
  }
  Json disk() { return UserDefaults(file_).dictionaryRepresentation(); }
  Json visible() {
    Json out = Json::object();
    for (const char* key : {"MacGap_port", "MacGap_server", "MacGap_username"})
      if (auto v = controller_.valueForKeyPath(std::string("values.") + key)) out[key] = *v;
    return out;
  }
  fs::path file_ = testDirectory() / "s.plist";
  UserDefaults store_{file_};
  UserDefaultsController controller_{store_};
};

TEST_F(UserDefaultsControllerTest, KeyPathsVisibleValuesAndImmediateChanges) {
  EXPECT_EQ(UserDefaultsController::keyOfKeyPath("values.MacGap_port"), "MacGap_port");
  for (const char* bad : {"values.", "MacGap_port", "value.MacGap_port"})
    EXPECT_EQ(UserDefaultsController::keyOfKeyPath(bad), std::nullopt) << bad;
  EXPECT_EQ(controller_.valueForKeyPath("values.unknown"), std::nullopt);
  EXPECT_EQ(controller_.valueForKeyPath("MacGap_port"), std::nullopt);
  // Changes apply at once by default; null removes; initial values stay out of the store.
  EXPECT_TRUE(controller_.appliesImmediately());
  controller_.setValueForKeyPath("values.MacGap_server", "mail.example.com");
  EXPECT_EQ(disk(), Json::parse(R"({"MacGap_server": "mail.example.com"})"));
  controller_.setValueForKeyPath("values.MacGap_server", nullptr);
  EXPECT_EQ(disk(), Json::object());
  EXPECT_EQ(visible(), Json::parse(R"({"MacGap_port": 443, "MacGap_server": ""})"));
  // Resetting to the initial values drops the store's values of those keys only.
  store_.setValuesForKeys(Json{{"MacGap_server", "m.test"}, {"MacGap_port", 8443}, {"o", "kept"}});
  controller_.revertToInitialValues();
  EXPECT_EQ(visible(), Json::parse(R"({"MacGap_port": 443, "MacGap_server": ""})"));
  EXPECT_EQ(disk(), Json::parse(R"({"o": "kept"})"));
  // Initial value, then registered value, then stored value win in turn.
  store_.registerDefaults(Json{{"MacGap_port", 993}});
  EXPECT_EQ(visible()["MacGap_port"], 993);
  store_.setInteger("MacGap_port", 8443);
  EXPECT_EQ(visible()["MacGap_port"], 8443);
  // Bad paths and bad values change nothing.
  controller_.setValueForKeyPath("MacGap_port", 1);
  controller_.setValueForKeyPath("values.MacGap_port", Json::array({nullptr}));
  EXPECT_EQ(store_.integerForKey("MacGap_port"), 8443);
}

TEST_F(UserDefaultsControllerTest, ObserversFireOnEveryChangeOfTheVisibleValue) {
  std::vector<std::optional<Json>> seen;
  auto token = controller_.addObserver(
      "values.MacGap_port", [&](const std::string& keyPath, const std::optional<Json>& value) {
        EXPECT_EQ(keyPath, "values.MacGap_port");
        seen.push_back(value);
      });
  controller_.setValueForKeyPath("values.MacGap_port", 993);  // through the controller
  controller_.setValueForKeyPath("values.MacGap_port", 993);  // same value: quiet
  store_.setInteger("MacGap_port", 995);                      // directly to the store
  store_.setInteger("unrelated", 1);                          // another key: quiet
  controller_.setAppliesImmediately(false);
  controller_.setValueForKeyPath("values.MacGap_port", 1);  // pending
  controller_.revert();                                     // back to 995
  controller_.revertToInitialValues();                      // pending 443
  EXPECT_EQ(store_.integerForKey("MacGap_port"), 995);      // the store waits for the save
  controller_.save();                                       // still 443: quiet
  EXPECT_EQ(store_.objectForKey("MacGap_port"), std::nullopt);
  controller_.setInitialValues(Json{{"MacGap_port", 4443}});  // initial value changes
  controller_.setInitialValues(Json());                       // and goes away
  token.reset();
  store_.setInteger("MacGap_port", 7);
  EXPECT_EQ(seen, (std::vector<std::optional<Json>>{Json(993), Json(995), Json(1), Json(995),
                                                    Json(443), Json(4443), std::nullopt}));
  // Observers may change settings and drop other observations while called.
  UserDefaultsController::Token first, second;
  int secondCalls = 0;
  std::optional<Json> b;
  first = controller_.addObserver("values.a", [&](auto&, auto&) {
    second.reset();
    controller_.setValue("b", "from observer");
  });
  second = controller_.addObserver("values.a", [&](auto&, auto&) { ++secondCalls; });
  auto third = controller_.addObserver("values.b", [&](auto&, auto& value) { b = value; });
  auto ignored = controller_.addObserver("not-a-key-path", [&](auto&, auto&) {
    ADD_FAILURE() << "paths other than values.KEY never fire";
  });
  controller_.setValue("a", 1);
  EXPECT_EQ(secondCalls, 0);
  EXPECT_EQ(b, Json("from observer"));
}

// No, a damaged or a non-dictionary defaults file: the earlier initial values are dropped.
TEST(SettingsTest, UnreadableDefaultsDropInitialValuesAndTheLaunchMakesRunAnywayFalseOnDisk) {
  const fs::path dir = testDirectory();
  UserDefaults store(dir / "s.plist");
  UserDefaultsController controller(store);
  for (const char* text : {"", "<plist><dict><key>a</key>",
                           "<plist version=\"1.0\"><array><integer>1</integer></array></plist>"}) {
    controller.setInitialValues(Json{{Settings::kPort, 443}});
    if (*text) writeFile(dir / "Defaults.plist", text);
    EXPECT_FALSE(Settings::registerDefaults(controller, Bundle(dir))) << text;
    EXPECT_EQ(controller.initialValues(), Json::object());
    EXPECT_EQ(fs::exists(dir / "Defaults.plist"), *text != '\0');
  }
  // The launch makes "run anyway" false on disk; when it already is, the file is not rewritten.
  // The application's defaults file gives the controller its initial values, not the store.
  const fs::path file = dir / "launch.plist";
  UserDefaults(file).setObject(Settings::kRunAnyway, "YES");
  ino_t inodes[2] = {};
  for (ino_t& inode : inodes) {
    UserDefaults launched(file);
    Settings::initializeUserDefaults(launched);
    EXPECT_EQ(UserDefaults(file).objectForKey(Settings::kRunAnyway), Json(false));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    inode = st.st_ino;
  }
  EXPECT_EQ(inodes[1], inodes[0]);
  Settings::initializeUserDefaults();
  EXPECT_EQ(UserDefaults::standard().objectForKey(Settings::kRunAnyway), Json(false));
  EXPECT_TRUE(Settings::registerDefaults());  // WENDREL_RESOURCE_DIR points at resources/
  auto& shared = UserDefaultsController::shared();
  EXPECT_EQ(&shared.defaults(), &UserDefaults::standard());
  EXPECT_EQ(shared.valueForKeyPath(Settings::bind(Settings::kPort)), Json(443));
  EXPECT_EQ(UserDefaults::standard().objectForKey(Settings::kPort), std::nullopt);
}

}  // namespace
}  // namespace wd
