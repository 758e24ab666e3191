// The keychain store's front: keys turned into the controller's key paths.
#include "keychain/PDKeychainBindings.h"

namespace wd {

namespace {
std::string keyPathOf(const std::string& key) {
  return "values." + key;
}
}  // namespace

std::optional<std::string> PDKeychainBindings::objectForKey(const std::string& key) {
  return controller_.valueForKeyPath(keyPathOf(key));
}

void PDKeychainBindings::setObject(const std::optional<std::string>& value, const std::string& key,
                                   KeychainAccessibility accessibility) {
  controller_.setValueForKeyPath(value, keyPathOf(key), accessibility);
}

}  // namespace wd
