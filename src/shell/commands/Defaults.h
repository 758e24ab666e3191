#pragma once
// MacGap.Defaults: the page's access to the application's settings and secure values. Every key
// the page names is brought under the prefix "MacGap_" (a key that already starts with it, in
// that letter case, is used as it is), so the page shares one key space with the native
// settings. Plain values go to the settings store, typed by the caller ("string", "int",
// "bool", "float", "url"; "object" reads only); secure values go to the keychain store under
// the same prefixed keys. Every change of the settings, whoever made it and whichever key it
// touched, is raised in this object's page as "userDefaultsChanged" with all "MacGap_" settings
// as its data.
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"
#include "core/Json.h"
#include "core/NotificationCenter.h"

namespace wd {

class ShellContext;

class Defaults : public bridge::Command {
 public:
  static constexpr const char* kPrefix = "MacGap_";

  Defaults(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context);
  ~Defaults() override;
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // Script members. An absent type means "string"; an absent key does nothing (reads give
  // undefined); an unknown type reads undefined and stores nothing.
  bridge::Value get(std::optional<std::string> key, std::optional<std::string> type);
  void setKey(std::optional<std::string> key, bridge::Value value, std::optional<std::string> type);
  // The type is accepted and has no effect: secure values are text.
  bridge::Value getSecure(std::optional<std::string> key, std::optional<std::string> type);
  // An absent value removes the secure value.
  void setSecureKey(std::optional<std::string> key, std::optional<std::string> value);
  // Removes the setting and saves the store at once.
  void remove(std::optional<std::string> key);
  bridge::Value defaults() const;

  // The key rule.
  static std::string addPrefix(const std::string& key);
  // Every visible setting (registered values included) whose key starts with "MacGap_".
  Json defaultsDictionary() const;
  // The "url" type: the text stored for a URL the page gives (none: not an absolute URL), and
  // the absolute URL a stored text reads as (a stored path reads as its file URL).
  static std::optional<std::string> urlTextToStore(const std::string& text);
  static std::optional<std::string> urlFromStored(const std::string& stored);

 private:
  void defaultsChanged(const Notification& notification);

  ShellContext& context_;
  NotificationCenter::Token observation_;
};

}  // namespace wd
