#include "core/Settings.h"

#include "core/Log.h"
#include "core/PropertyList.h"
#include "core/SafeFileReader.h"

namespace wd {

namespace {

// The defaults file is a few hundred bytes; anything this large is not one.
constexpr std::size_t kMaxDefaultsBytes = 4u * 1024u * 1024u;

struct DefaultsFile {
  std::optional<Json> values;
  std::string error;
};

DefaultsFile readDictionary(const std::string& path) {
  auto contents = readRegularFile(path, kMaxDefaultsBytes);
  if (!contents.data) return {std::nullopt, std::move(contents.error)};
  auto decoded = plist::decode(*contents.data);
  if (!decoded.value) return {std::nullopt, std::move(decoded.error)};
  if (!decoded.value->is_object()) return {std::nullopt, "does not hold a dictionary"};
  return {std::move(decoded.value), {}};
}

}  // namespace

std::optional<Json> Settings::readDefaultsFile(const std::string& path) {
  return readDictionary(path).values;
}

bool Settings::registerDefaults(UserDefaultsController& controller, const Bundle& bundle) {
  const auto path = bundle.pathForResource("Defaults", "plist");
  auto file = path ? readDictionary(*path) : DefaultsFile{std::nullopt, "not found"};
  if (!file.values) {
    WD_LOG_INFO("Defaults file {}: {}; no initial settings",
                path ? *path : (bundle.resourcePath() / "Defaults.plist").string(), file.error);
    controller.setInitialValues(Json::object());
    return false;
  }
  controller.setInitialValues(*file.values);
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
