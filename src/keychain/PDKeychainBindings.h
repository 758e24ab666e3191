#pragma once
// The dictionary-like front of the keychain store that the rest of the program uses: every key
// is read and written through the controller's key path "values.KEY", so reads answer the
// buffer (see PDKeychainBindingsController) and writes reach the keyring in the background.
#include <optional>
#include <string>

#include "keychain/PDKeychainBindingsController.h"

namespace wd {

class PDKeychainBindings {
 public:
  explicit PDKeychainBindings(PDKeychainBindingsController& controller) : controller_(controller) {}

  std::optional<std::string> objectForKey(const std::string& key);
  std::optional<std::string> stringForKey(const std::string& key) { return objectForKey(key); }
  // None removes the value.
  void setObject(const std::optional<std::string>& value, const std::string& key,
                 KeychainAccessibility accessibility = KeychainAccessibility::WhenUnlocked);
  void setString(const std::optional<std::string>& value, const std::string& key,
                 KeychainAccessibility accessibility = KeychainAccessibility::WhenUnlocked) {
    setObject(value, key, accessibility);
  }
  void removeObjectForKey(const std::string& key) { setObject(std::nullopt, key); }

  PDKeychainBindingsController& controller() const { return controller_; }

 private:
  PDKeychainBindingsController& controller_;
};

}  // namespace wd
