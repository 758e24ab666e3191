#pragma once
// The user-defaults store: typed settings persisted as an XML property list, with a volatile
// registration domain and a change notification after every write or removal.
//
// Reads coerce the way the platform's defaults do: a number read as a string gives its string
// form, "12" read as an integer gives 12, a missing key gives the type's empty answer.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/Json.h"

namespace wd {

class UserDefaults {
 public:
  // Posted on NotificationCenter::defaultCenter() after any write or removal; the object is the
  // changed key (a string).
  static constexpr const char* kDidChangeNotification = "NSUserDefaultsDidChangeNotification";

  // The process-wide store at paths::settingsFile().
  static UserDefaults& standard();

  // Opens (or starts) the store kept in `file`. A corrupt or unreadable file is moved aside to
  // "<file>.corrupt-<timestamp>", a warning is logged and the store starts empty.
  explicit UserDefaults(std::filesystem::path file);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  const std::filesystem::path& file() const { return file_; }

  // The stored value, or the registered one, or none.
  std::optional<Json> objectForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  long long integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  std::optional<Json> arrayForKey(const std::string& key) const;
  std::optional<Json> dictionaryForKey(const std::string& key) const;

  // Writes persist at once (atomic save) and post kDidChangeNotification. A null value removes.
  void setObject(const std::string& key, const Json& value);
  void setString(const std::string& key, const std::string& value);
  void setInteger(const std::string& key, long long value);
  void setDouble(const std::string& key, double value);
  void setBool(const std::string& key, bool value);
  void removeObjectForKey(const std::string& key);
  // Several writes and removals (null values) in one save; one notification per key. Nothing
  // is written and false is returned when any value cannot be stored.
  bool setValuesForKeys(const Json& dictionary);

  // True when `value` can be stored: booleans, finite numbers, UTF-8 strings without NUL
  // characters, and arrays and objects of those (no null inside, keys UTF-8 without NUL).
  // Writes of anything else are refused (logged). Strings read from a file that are not UTF-8
  // are repaired (U+FFFD for each bad sequence).
  static bool isPropertyList(const Json& value);
  // The dictionary held by an XML (or binary) property-list file, none when the file is
  // missing, unreadable or holds anything else. Reads only; never moves the file.
  static std::optional<Json> readDictionaryFile(const std::filesystem::path& file);

  // Registered values (not persisted) answer reads of keys that have no stored value.
  void registerDefaults(const Json& dictionary);
  // Every visible setting: registered values overlaid with stored ones.
  Json dictionaryRepresentation() const;

  // Writes the stored values to the file now; false when the write failed (logged).
  bool synchronize();
  // Re-reads the file (other processes, tests).
  void reload();

 private:
  struct Impl;
  std::filesystem::path file_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wd
