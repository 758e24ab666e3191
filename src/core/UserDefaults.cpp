// The user-defaults store: the stored and registered values in memory, the platform's read
// coercions, and the settings file's life cycle (read, set aside when damaged, saved whole on
// every write). The file format is PropertyList's, the saving AtomicFile's.
#include "core/UserDefaults.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "core/PropertyList.h"
#include "core/SafeFileReader.h"

namespace wd {
namespace fs = std::filesystem;

namespace {

// A settings file larger than this is not a settings file.
constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;
// Settings hold server and user names: the file is private to its user.
constexpr mode_t kFileMode = 0600;

enum class Load { Missing, Loaded, Damaged };

// Reads the settings file into `out` (an object). `why` tells what was wrong with it.
Load loadFile(const fs::path& file, Json& out, std::string& why) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) return Load::Missing;
  auto contents = readRegularFile(file, kMaxFileBytes);
  if (!contents.data) {
    why = "cannot be read (" + contents.error + ")";
    return Load::Damaged;
  }
  auto decoded = plist::decode(*contents.data);
  if (!decoded.value) {
    why = std::move(decoded.error);
    return Load::Damaged;
  }
  if (!decoded.value->is_object()) {
    why = "does not hold a dictionary";
    return Load::Damaged;
  }
  out = std::move(*decoded.value);
  return Load::Loaded;
}

std::string timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

// Leading integer of a text the way the platform reads one: spaces, a sign, digits; anything
// after is ignored; no digits gives 0; overflow saturates.
long long integerFromText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned long long magnitude = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (static_cast<unsigned long long>(LLONG_MAX) + 1 - digit) / 10) overflow = true;
    if (!overflow) magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX)) return LLONG_MIN;
    return -static_cast<long long>(magnitude);
  }
  if (overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX)) return LLONG_MAX;
  return static_cast<long long>(magnitude);
}

double doubleFromText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double v = 0;
  const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v);
  (void)ptr;
  return ec == std::errc() ? v : 0.0;
}

// The platform's boolean reading of text: "Y", "y", "T", "t" at the start (after spaces) or a
// non-zero digit after an optional sign and leading zeros.
bool boolFromText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i >= text.size()) return false;
  const char c = text[i];
  if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
  if (c == '+' || c == '-') ++i;
  while (i < text.size() && text[i] == '0') ++i;
  return i < text.size() && text[i] >= '1' && text[i] <= '9';
}

long long integerFromDouble(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2233720368547758e18) return LLONG_MAX;
  if (v <= -9.2233720368547758e18) return LLONG_MIN;
  return static_cast<long long>(v);
}

std::string textFromDouble(double v) {
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15)
    return std::to_string(static_cast<long long>(v));
  return fmt::format("{}", v);
}

}  // namespace

struct UserDefaults::Impl {
  Json stored = Json::object();
  Json registered = Json::object();
  // Set when a damaged file could not be moved aside: saving would destroy it.
  bool keepOffDisk = false;

  std::optional<Json> visible(const std::string& key) const {
    if (auto it = stored.find(key); it != stored.end()) return *it;
    if (auto it = registered.find(key); it != registered.end()) return *it;
    return std::nullopt;
  }
};

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults(paths::settingsFile());
  return defaults;
}

UserDefaults::~UserDefaults() = default;

namespace {

// The file a settings path stands for: a link's target (a damaged target is set aside, the link
// stays), else the path itself.
fs::path followLinks(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(file, ec))) return file;
  fs::path target = fs::canonical(file, ec);
  return ec ? file : target;
}

// The stored values of `file`; a damaged file is moved aside ("<file>.corrupt-<time>") and
// gives no values. `keepOffDisk` is set when it could not be moved, so that no save replaces it.
Json readOrSetAside(const fs::path& file, bool& keepOffDisk) {
  Json loaded = Json::object();
  std::string why;
  if (loadFile(file, loaded, why) == Load::Damaged) {
    loaded = Json::object();
    const fs::path damaged = followLinks(file);
    fs::path aside = damaged.string() + ".corrupt-" + timestamp();
    std::error_code ec;
    for (int n = 1; fs::exists(fs::symlink_status(aside, ec)) && n < 1000; ++n)
      aside = damaged.string() + ".corrupt-" + timestamp() + "-" + std::to_string(n);
    if (::rename(damaged.c_str(), aside.c_str()) == 0) {
      keepOffDisk = false;
      WD_LOG_INFO("Settings file {} {}; moved it to {} and started with empty settings",
                  file.string(), why, aside.string());
    } else {
      keepOffDisk = true;
      WD_LOG_INFO(
          "Settings file {} {} and could not be moved aside ({}); settings start empty and will "
          "not be saved over it",
          file.string(), why, std::strerror(errno));
    }
  } else {
    keepOffDisk = false;
  }
  return loaded;
}

}  // namespace

UserDefaults::UserDefaults(fs::path file)
    : file_(std::move(file)), impl_(std::make_unique<Impl>()) {
  // No notifications from here: nothing can observe a store that is still being made.
  impl_->stored = readOrSetAside(file_, impl_->keepOffDisk);
  // Temporary files of saves that were cut short (a crash between creating and renaming one).
  // Only files older than an hour: a younger one may belong to a save still running in another
  // process.
  const fs::path target = followLinks(file_);
  removeLeftoverTemporaries(target.parent_path().empty() ? fs::path(".") : target.parent_path(),
                            3600, target.filename().string());
}

void UserDefaults::reload() {
  const Json before = std::exchange(impl_->stored, readOrSetAside(file_, impl_->keepOffDisk));
  // Announce every key whose stored value changed.
  std::vector<std::string> changed;
  for (const auto& [key, value] : impl_->stored.items())
    if (auto it = before.find(key); it == before.end() || *it != value) changed.push_back(key);
  for (const auto& [key, value] : before.items())
    if (!impl_->stored.contains(key)) changed.push_back(key);
  for (const auto& key : changed)
    NotificationCenter::defaultCenter().post(kDidChangeNotification, key);
}

bool UserDefaults::isPropertyList(const Json& value) {
  return plist::isRepresentable(value);
}

std::optional<Json> UserDefaults::readDictionaryFile(const fs::path& file) {
  Json values;
  std::string why;
  if (loadFile(file, values, why) != Load::Loaded) return std::nullopt;
  return values;
}

std::optional<Json> UserDefaults::objectForKey(const std::string& key) const {
  return impl_->visible(key);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  auto v = impl_->visible(key);
  if (!v) return std::nullopt;
  switch (v->type()) {
    case Json::value_t::string:
      return v->get<std::string>();
    case Json::value_t::boolean:
      // Booleans are numbers on the platform: their text is "1" or "0".
      return std::string(v->get<bool>() ? "1" : "0");
    case Json::value_t::number_integer:
      return std::to_string(v->get<long long>());
    case Json::value_t::number_unsigned:
      return std::to_string(v->get<unsigned long long>());
    case Json::value_t::number_float:
      return textFromDouble(v->get<double>());
    default:
      return std::nullopt;
  }
}

long long UserDefaults::integerForKey(const std::string& key) const {
  auto v = impl_->visible(key);
  if (!v) return 0;
  switch (v->type()) {
    case Json::value_t::string:
      return integerFromText(v->get_ref<const std::string&>());
    case Json::value_t::boolean:
      return v->get<bool>() ? 1 : 0;
    case Json::value_t::number_integer:
      return v->get<long long>();
    case Json::value_t::number_unsigned: {
      const auto u = v->get<unsigned long long>();
      return u > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(u);
    }
    case Json::value_t::number_float:
      return integerFromDouble(v->get<double>());
    default:
      return 0;
  }
}

double UserDefaults::doubleForKey(const std::string& key) const {
  auto v = impl_->visible(key);
  if (!v) return 0;
  switch (v->type()) {
    case Json::value_t::string:
      return doubleFromText(v->get_ref<const std::string&>());
    case Json::value_t::boolean:
      return v->get<bool>() ? 1 : 0;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return v->get<double>();
    default:
      return 0;
  }
}

bool UserDefaults::boolForKey(const std::string& key) const {
  auto v = impl_->visible(key);
  if (!v) return false;
  switch (v->type()) {
    case Json::value_t::string:
      return boolFromText(v->get_ref<const std::string&>());
    case Json::value_t::boolean:
      return v->get<bool>();
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return v->get<long long>() != 0;
    case Json::value_t::number_float:
      return v->get<double>() != 0;
    default:
      return false;
  }
}

std::optional<Json> UserDefaults::arrayForKey(const std::string& key) const {
  auto v = impl_->visible(key);
  if (v && v->is_array()) return v;
  return std::nullopt;
}

std::optional<Json> UserDefaults::dictionaryForKey(const std::string& key) const {
  auto v = impl_->visible(key);
  if (v && v->is_object()) return v;
  return std::nullopt;
}

bool UserDefaults::setValuesForKeys(const Json& dictionary) {
  if (!dictionary.is_object()) {
    WD_LOG_INFO("Settings write refused: not a dictionary of values");
    return false;
  }
  for (const auto& [key, value] : dictionary.items()) {
    if (!value.is_null() && !isPropertyList(value)) {
      WD_LOG_INFO("Settings write refused: the value for {} cannot be stored", key);
      return false;
    }
  }
  bool modified = false;
  for (const auto& [key, value] : dictionary.items()) {
    auto it = impl_->stored.find(key);
    if (value.is_null()) {
      if (it != impl_->stored.end()) {
        impl_->stored.erase(it);
        modified = true;
      }
    } else if (it == impl_->stored.end() || *it != value || it->type() != value.type()) {
      impl_->stored[key] = value;
      modified = true;
    }
  }
  if (modified) synchronize();
  for (const auto& [key, value] : dictionary.items())
    NotificationCenter::defaultCenter().post(kDidChangeNotification, key);
  return true;
}

void UserDefaults::setObject(const std::string& key, const Json& value) {
  setValuesForKeys(Json::object({{key, value}}));
}

void UserDefaults::setString(const std::string& key, const std::string& value) {
  setObject(key, Json(value));
}

void UserDefaults::setInteger(const std::string& key, long long value) {
  setObject(key, Json(value));
}

void UserDefaults::setDouble(const std::string& key, double value) {
  setObject(key, Json(value));
}

void UserDefaults::setBool(const std::string& key, bool value) {
  setObject(key, Json(value));
}

void UserDefaults::removeObjectForKey(const std::string& key) {
  setObject(key, nullptr);
}

void UserDefaults::registerDefaults(const Json& dictionary) {
  if (!dictionary.is_object()) {
    WD_LOG_INFO("Registered settings ignored: not a dictionary");
    return;
  }
  std::vector<std::string> changed;
  for (const auto& [key, value] : dictionary.items()) {
    if (!isPropertyList(value)) {
      WD_LOG_INFO("Registered setting {} ignored: its value cannot be stored", key);
      continue;
    }
    auto it = impl_->registered.find(key);
    if (it != impl_->registered.end() && *it == value && it->type() == value.type()) continue;
    impl_->registered[key] = value;
    if (!impl_->stored.contains(key)) changed.push_back(key);
  }
  for (const auto& key : changed)
    NotificationCenter::defaultCenter().post(kDidChangeNotification, key);
}

Json UserDefaults::dictionaryRepresentation() const {
  Json out = impl_->registered;
  for (const auto& [key, value] : impl_->stored.items()) out[key] = value;
  return out;
}

bool UserDefaults::synchronize() {
  if (impl_->keepOffDisk) {
    WD_LOG_INFO("Settings not saved: {} could not be moved aside and is kept as it is",
                file_.string());
    return false;
  }
  auto text = plist::encodeXml(impl_->stored);
  if (!text) {
    WD_LOG_INFO("Settings not saved: they could not be converted to a property list");
    return false;
  }
  // The settings folder is made on first save; a link's target folder is not (see AtomicFile:
  // a link into a folder that does not exist stays a link and the save fails).
  std::error_code ec;
  if (!file_.parent_path().empty()) fs::create_directories(file_.parent_path(), ec);
  if (auto why = writeFileAtomically(file_, *text, kFileMode)) {
    WD_LOG_INFO("Settings not saved to {}: {}", file_.string(), *why);
    return false;
  }
  return true;
}

}  // namespace wd
