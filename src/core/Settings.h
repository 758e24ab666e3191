#pragma once
// Settings keys, the registration of their initial values from the bundle's defaults file, the
// binding key paths of preference controls, and the reset done at every launch.
#include <optional>
#include <string>

#include "core/Bundle.h"
#include "core/Json.h"
#include "core/UserDefaults.h"
#include "core/UserDefaultsController.h"

namespace wd {

class Settings {
 public:
  // Settings keys.
  static constexpr const char* kServer = "MacGap_server";
  static constexpr const char* kPort = "MacGap_port";
  static constexpr const char* kUsername = "MacGap_username";
  static constexpr const char* kUseCustomConfiguration = "MacGap_useCustomConfiguration";
  static constexpr const char* kAllowUntrustedCertificates = "MacGap_allowUntrustedCertificates";
  static constexpr const char* kDestinationDownload = "MacGap_destinationDownload";
  static constexpr const char* kUpdateServiceURL = "MacGap_updateServiceURL";
  static constexpr const char* kUpdatePeriod = "MacGap_updatePeriod";
  static constexpr const char* kUpdateChannel = "MacGap_updateChannel";
  static constexpr const char* kRunAnyway = "MacGap_run_anyway";
  static constexpr const char* kEnableDeveloperMode = "MacGap_enableDeveloperMode";
  static constexpr const char* kDeveloper = "developer";
  // The prefix of the keys the page may read and write.
  static constexpr const char* kKeyPrefix = "MacGap_";

  // Makes the dictionary of the bundle resource "Defaults" of type "plist" the initial values
  // of the shared user-defaults controller. A missing or unreadable file gives no initial
  // values (logged). Returns whether the file was read.
  static bool registerDefaults();
  static bool registerDefaults(UserDefaultsController& controller, const Bundle& bundle);

  // The dictionary of a defaults file, none when it is missing or not a dictionary plist.
  static std::optional<Json> readDefaultsFile(const std::string& path);

  // The binding key path of a settings key: "values." + key.
  static std::string bind(const std::string& key);

  // The launch reset: MacGap_run_anyway := false, written to disk at once when it changes.
  static void initializeUserDefaults();
  static void initializeUserDefaults(UserDefaults& defaults);
};

}  // namespace wd
