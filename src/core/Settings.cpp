#include "core/Settings.h"

#include "core/Log.h"

namespace wd {

std::optional<Json> Settings::readDefaultsFile(const std::string& path) {
  return UserDefaults::readDictionaryFile(path);
}

bool Settings::registerDefaults(UserDefaultsController& controller, const Bundle& bundle) {
  auto path = bundle.pathForResource("Defaults", "plist");
  std::optional<Json> values;
  if (path) values = readDefaultsFile(*path);
  if (!values) {
    WD_LOG_WARN("Defaults file {} is missing or unreadable; no initial settings",
                path ? *path : (bundle.resourcePath() / "Defaults.plist").string());
    controller.setInitialValues(Json::object());
    return false;
  }
  controller.setInitialValues(*values);
  return true;
}

bool Settings::registerDefaults() {
  return registerDefaults(UserDefaultsController::shared(), Bundle::main());
}

std::string Settings::bind(const std::string& key) {
  return "values." + key;
}

void Settings::initializeUserDefaults(UserDefaults& defaults) {
  // Setting a value saves the store when the value changes; a store that already holds false
  // (every launch after the first) is left as it is on disk, with no write and fsync at start-up.
  defaults.setBool(kRunAnyway, false);
}

void Settings::initializeUserDefaults() {
  initializeUserDefaults(UserDefaults::standard());
}

}  // namespace wd
