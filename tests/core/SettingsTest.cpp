#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/Bundle.h"
#include "core/Settings.h"

namespace fs = std::filesystem;
using wd::Json;
using wd::Settings;

namespace {

fs::path freshDir(const std::string& name) {
  fs::path dir = fs::path(std::getenv("HOME")) / "settings" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

}  // namespace

TEST(SettingsTest, RegisterDefaultsReadsTheBundleDefaultsFile) {
  const fs::path dir = freshDir("bundle");
  wd::UserDefaults store(dir / "s.plist");
  wd::UserDefaultsController controller(store);

  // The application's own defaults file.
  wd::Bundle app(fs::path(std::getenv("WD_SOURCE_DIR")) / "resources");
  ASSERT_TRUE(Settings::registerDefaults(controller, app));
  EXPECT_EQ(controller.value(Settings::kPort), Json(443));
  EXPECT_EQ(controller.value(Settings::kUpdateChannel), Json("beta"));
  EXPECT_EQ(controller.value(Settings::kUseCustomConfiguration), Json(false));
  EXPECT_EQ(controller.value(Settings::kServer), Json(""));
  EXPECT_EQ(store.objectForKey(Settings::kPort), std::nullopt);  // the store does not see them

  // No defaults file: no initial values (the earlier ones are dropped).
  wd::Bundle empty(dir);
  EXPECT_FALSE(Settings::registerDefaults(controller, empty));
  EXPECT_EQ(controller.initialValues(), Json::object());

  // A damaged defaults file: no initial values, and the resource is left where it is.
  std::ofstream(dir / "Defaults.plist") << "<plist><dict><key>a</key>";
  EXPECT_FALSE(Settings::registerDefaults(controller, empty));
  EXPECT_EQ(controller.initialValues(), Json::object());
  EXPECT_TRUE(fs::exists(dir / "Defaults.plist"));

  // A property list that is not a dictionary.
  std::ofstream(dir / "Defaults.plist", std::ios::trunc)
      << "<plist version=\"1.0\"><array><integer>1</integer></array></plist>";
  EXPECT_FALSE(Settings::registerDefaults(controller, empty));
  EXPECT_EQ(controller.initialValues(), Json::object());
}

TEST(SettingsTest, LaunchResetMakesRunAnywayFalseOnDisk) {
  const fs::path file = freshDir("launch") / "s.plist";
  for (const Json& before : {Json(true), Json("YES"), Json(1), Json()}) {
    {
      wd::UserDefaults store(file);
      store.setObject(Settings::kRunAnyway, before);
      Settings::initializeUserDefaults(store);
      EXPECT_FALSE(store.boolForKey(Settings::kRunAnyway));
    }
    EXPECT_EQ(wd::UserDefaults(file).objectForKey(Settings::kRunAnyway), Json(false)) << before;
  }
  // Already false on disk: the launch leaves the file alone (a save would replace it by rename).
  struct stat saved {};
  ASSERT_EQ(::stat(file.c_str(), &saved), 0);
  {
    wd::UserDefaults store(file);
    Settings::initializeUserDefaults(store);
    EXPECT_FALSE(store.boolForKey(Settings::kRunAnyway));
  }
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, saved.st_ino);
}

TEST(SettingsTest, SharedControllerWorksOverTheStandardStore) {
  Settings::initializeUserDefaults();
  EXPECT_EQ(wd::UserDefaults::standard().objectForKey(Settings::kRunAnyway), Json(false));
  EXPECT_TRUE(Settings::registerDefaults());  // WENDREL_RESOURCE_DIR points at resources/
  auto& controller = wd::UserDefaultsController::shared();
  EXPECT_EQ(&controller.defaults(), &wd::UserDefaults::standard());
  EXPECT_EQ(controller.valueForKeyPath(Settings::bind(Settings::kPort)), Json(443));
}
