#include "core/UserDefaults.h"

#include <fcntl.h>
#include <glib.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"

namespace wd {
namespace fs = std::filesystem;

namespace {

// A settings file larger than this is not a settings file.
constexpr std::uintmax_t kMaxFileBytes = 64u * 1024u * 1024u;
// Deeper nesting than this is treated as a damaged file (and refused on write).
constexpr int kMaxDepth = 128;
// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
constexpr long long kPlistEpoch = 978307200;

struct PlistDeleter {
  void operator()(void* node) const {
    if (node != nullptr) plist_free(node);
  }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Valid UTF-8 text for a string of the file: a file written by another program may hold byte
// sequences that are not UTF-8; they become U+FFFD so that every value read is proper text
// (JSON serialisation of the settings refuses anything else).
std::string validText(const char* text) {
  if (text == nullptr) return {};
  const gssize length = static_cast<gssize>(std::strlen(text));
  if (g_utf8_validate(text, length, nullptr)) return text;
  gchar* repaired = g_utf8_make_valid(text, length);
  std::string out = repaired;
  g_free(repaired);
  return out;
}

std::string takeString(char* text) {
  std::string out = validText(text);
  std::free(text);
  return out;
}

bool isValidText(const std::string& text) {
  return text.find('\0') == std::string::npos &&
         g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

std::string dateString(plist_t node) {
  int32_t sec = 0, usec = 0;
  plist_get_date_val(node, &sec, &usec);
  const std::time_t t = static_cast<std::time_t>(kPlistEpoch + sec);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string dataString(plist_t node) {
  uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node, &length);
  if (bytes == nullptr || length == 0) return {};
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes), length);
  std::string out = encoded;
  g_free(encoded);
  return out;
}

// Property-list node to JSON. Dates become ISO 8601 text and data Base64 text; none for node
// kinds that have no value (or nesting beyond kMaxDepth).
std::optional<Json> fromPlist(plist_t node, int depth) {
  if (node == nullptr || depth > kMaxDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t v = 0;
      plist_get_bool_val(node, &v);
      return Json(v != 0);
    }
    case PLIST_UINT: {
      // The library keeps every integer as 64 bits; negative values come back two's complement.
      uint64_t v = 0;
      plist_get_uint_val(node, &v);
      return Json(static_cast<long long>(v));
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return Json(v);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      char* text = nullptr;
      if (plist_get_node_type(node) == PLIST_STRING)
        plist_get_string_val(node, &text);
      else
        plist_get_key_val(node, &text);
      return Json(takeString(text));
    }
    case PLIST_DATE:
      return Json(dateString(node));
    case PLIST_DATA:
      return Json(dataString(node));
    case PLIST_ARRAY: {
      Json out = Json::array();
      const uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) {
        auto item = fromPlist(plist_array_get_item(node, i), depth + 1);
        if (!item) return std::nullopt;
        out.push_back(std::move(*item));
      }
      return out;
    }
    case PLIST_DICT: {
      Json out = Json::object();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (it == nullptr) return out;
      std::optional<Json> result = out;
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (value == nullptr) {
          std::free(key);
          break;
        }
        std::string name = takeString(key);
        auto item = fromPlist(value, depth + 1);
        if (!item) {
          result.reset();
          break;
        }
        (*result)[name] = std::move(*item);
      }
      std::free(it);
      return result;
    }
    default:
      return std::nullopt;
  }
}

bool representable(const Json& value, int depth) {
  if (depth > kMaxDepth) return false;
  switch (value.type()) {
    case Json::value_t::boolean:
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return true;
    case Json::value_t::number_float:
      // Not-a-number and infinities have no JSON form: the settings could no longer be handed
      // to the page as JSON.
      return std::isfinite(value.get<double>());
    case Json::value_t::string:
      return isValidText(value.get_ref<const std::string&>());
    case Json::value_t::array:
      for (const auto& item : value)
        if (!representable(item, depth + 1)) return false;
      return true;
    case Json::value_t::object:
      for (const auto& [key, item] : value.items())
        if (!isValidText(key) || !representable(item, depth + 1)) return false;
      return true;
    default:
      return false;
  }
}

// JSON to a property-list node; the value must be representable().
plist_t toPlist(const Json& value) {
  switch (value.type()) {
    case Json::value_t::boolean:
      return plist_new_bool(value.get<bool>() ? 1 : 0);
    case Json::value_t::number_integer:
      return plist_new_uint(static_cast<uint64_t>(value.get<long long>()));
    case Json::value_t::number_unsigned: {
      const auto v = value.get<unsigned long long>();
      // Integers are read back as signed 64 bits; larger ones are kept as reals.
      if (v > static_cast<unsigned long long>(LLONG_MAX))
        return plist_new_real(static_cast<double>(v));
      return plist_new_uint(v);
    }
    case Json::value_t::number_float:
      return plist_new_real(value.get<double>());
    case Json::value_t::string:
      return plist_new_string(value.get_ref<const std::string&>().c_str());
    case Json::value_t::array: {
      plist_t out = plist_new_array();
      for (const auto& item : value) plist_array_append_item(out, toPlist(item));
      return out;
    }
    default: {
      plist_t out = plist_new_dict();
      for (const auto& [key, item] : value.items())
        plist_dict_set_item(out, key.c_str(), toPlist(item));
      return out;
    }
  }
}

// True when a binary property list holds a UTF-16 string with a U+0000 code unit. The library
// reads such a string but then aborts the process when its text is asked for (it checks the
// length against the C string length), so such a file must be treated as damaged before it is
// parsed. Only the objects the file's own offset table names are looked at; anything that does
// not fit is left for the parser to refuse.
bool binaryHasNulInUtf16String(std::string_view data) {
  constexpr std::size_t kTrailer = 32;
  if (data.size() < 8 + kTrailer) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  const std::size_t size = data.size();
  auto bigEndian = [&](std::size_t pos, std::size_t width, uint64_t& out) {
    if (width == 0 || width > 8 || pos > size || size - pos < width) return false;
    out = 0;
    for (std::size_t i = 0; i < width; ++i) out = out << 8 | bytes[pos + i];
    return true;
  };
  const std::size_t offsetSize = bytes[size - kTrailer + 6];
  uint64_t count = 0, table = 0;
  if (!bigEndian(size - 24, 8, count) || !bigEndian(size - 8, 8, table)) return false;
  if (offsetSize == 0 || offsetSize > 8 || table > size - kTrailer ||
      count > (size - kTrailer - table) / offsetSize)
    return false;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t at = 0;
    if (!bigEndian(static_cast<std::size_t>(table + i * offsetSize), offsetSize, at) || at >= size)
      continue;
    const unsigned marker = bytes[at];
    if (marker >> 4 != 0x6) continue;  // not a UTF-16 string
    uint64_t units = marker & 0xF;
    std::size_t pos = static_cast<std::size_t>(at) + 1;
    if (units == 0xF) {  // the length follows as an integer object
      if (pos >= size || bytes[pos] >> 4 != 0x1) continue;
      const std::size_t width = std::size_t{1} << (bytes[pos] & 0xF);
      if (width > 8 || !bigEndian(pos + 1, width, units)) continue;
      pos += 1 + width;
    }
    if (pos > size || units > (size - pos) / 2) continue;
    for (std::size_t u = 0; u < units; ++u)
      if (bytes[pos + 2 * u] == 0 && bytes[pos + 2 * u + 1] == 0) return true;
  }
  return false;
}

enum class Load { Missing, Loaded, Damaged };

// Reads the settings file into `out` (an object). `why` tells what was wrong with it.
Load loadFile(const fs::path& file, Json& out, std::string& why) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return Load::Missing;
    why = std::string("cannot be read: ") + std::strerror(errno);
    return Load::Damaged;
  }
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    why = std::string("cannot be read: ") + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "is not a regular file";
    ok = false;
  } else if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) {
    why = "is too large";
    ok = false;
  } else {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    // Read until end of file (the size may change under us; never past the buffer).
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        why = std::string("cannot be read: ") + std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  if (!ok) return Load::Damaged;

  plist_t root = nullptr;
  if (text.size() >= 8 && text.compare(0, 8, "bplist00") == 0) {
    if (binaryHasNulInUtf16String(text)) {
      why = "holds text with a NUL character";
      return Load::Damaged;
    }
    plist_from_bin(text.data(), static_cast<uint32_t>(text.size()), &root);
  } else if (!text.empty())
    plist_from_xml(text.data(), static_cast<uint32_t>(text.size()), &root);
  PlistPtr holder(root);
  if (root == nullptr) {
    why = text.empty() ? "is empty" : "is not a property list";
    return Load::Damaged;
  }
  if (plist_get_node_type(root) != PLIST_DICT) {
    why = "does not hold a dictionary";
    return Load::Damaged;
  }
  auto value = fromPlist(root, 0);
  if (!value) {
    why = "holds values that cannot be read";
    return Load::Damaged;
  }
  out = std::move(*value);
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

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Makes the rename of a file in `dir` durable.
void syncDirectory(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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

UserDefaults::~UserDefaults() {
  delete impl_;
}

namespace {

// The stored values of `file`; a damaged file is moved aside ("<file>.corrupt-<time>") and
// gives no values. `keepOffDisk` is set when it could not be moved, so that no save replaces it.
Json readOrSetAside(const fs::path& file, bool& keepOffDisk) {
  Json loaded = Json::object();
  std::string why;
  if (loadFile(file, loaded, why) == Load::Damaged) {
    loaded = Json::object();
    fs::path aside = file.string() + ".corrupt-" + timestamp();
    std::error_code ec;
    for (int n = 1; fs::exists(fs::symlink_status(aside, ec)) && n < 1000; ++n)
      aside = file.string() + ".corrupt-" + timestamp() + "-" + std::to_string(n);
    if (::rename(file.c_str(), aside.c_str()) == 0) {
      keepOffDisk = false;
      WD_LOG_WARN("Settings file {} {}; moved it to {} and started with empty settings",
                  file.string(), why, aside.string());
    } else {
      keepOffDisk = true;
      WD_LOG_WARN(
          "Settings file {} {} and could not be moved aside ({}); settings start empty and will "
          "not be saved over it",
          file.string(), why, std::strerror(errno));
    }
  } else {
    keepOffDisk = false;
  }
  return loaded;
}

// Removes temporary files of saves that were cut short (a crash between creating and renaming
// one). Only files older than an hour: a younger one may belong to a save still running in
// another process.
void removeStaleTemporaries(const fs::path& file) {
  std::error_code ec;
  const std::string prefix = file.filename().string() + ".tmp-";
  const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::directory_iterator it(file.parent_path().empty() ? fs::path(".") : file.parent_path(), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::error_code statError;
    if (!it->is_regular_file(statError) || it->last_write_time(statError) > limit || statError)
      continue;
    fs::remove(it->path(), statError);
  }
}

}  // namespace

UserDefaults::UserDefaults(fs::path file) : file_(std::move(file)), impl_(new Impl) {
  // No notifications from here: nothing can observe a store that is still being made.
  impl_->stored = readOrSetAside(file_, impl_->keepOffDisk);
  removeStaleTemporaries(file_);
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
  return representable(value, 0);
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
    WD_LOG_WARN("Settings write refused: not a dictionary of values");
    return false;
  }
  for (const auto& [key, value] : dictionary.items()) {
    if (!value.is_null() && !isPropertyList(value)) {
      WD_LOG_WARN("Settings write refused: the value for {} cannot be stored", key);
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
    WD_LOG_WARN("Registered settings ignored: not a dictionary");
    return;
  }
  std::vector<std::string> changed;
  for (const auto& [key, value] : dictionary.items()) {
    if (!isPropertyList(value)) {
      WD_LOG_WARN("Registered setting {} ignored: its value cannot be stored", key);
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
    WD_LOG_WARN("Settings not saved: {} could not be moved aside and is kept as it is",
                file_.string());
    return false;
  }
  PlistPtr root(toPlist(impl_->stored));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  if (xml == nullptr) {
    WD_LOG_WARN("Settings not saved: they could not be converted to a property list");
    return false;
  }
  std::unique_ptr<char, void (*)(char*)> text(xml, plist_to_xml_free);

  // Write a temporary file next to the settings file, make it durable, then rename it over the
  // old one: a crash at any point leaves either the old or the new file, never a torn one.
  // A settings file that is a symbolic link (managed dotfiles) keeps being one: write its target.
  std::error_code ec;
  fs::path target = file_;
  if (fs::is_symlink(fs::symlink_status(file_, ec))) {
    if (auto resolved = fs::weakly_canonical(file_, ec); !ec) target = resolved;
  }
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  fs::create_directories(dir, ec);
  std::string temp = target.string() + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    WD_LOG_WARN("Settings not saved: cannot create a file in {}: {}", dir.string(),
                std::strerror(errno));
    return false;
  }
  const char* failed = nullptr;
  int err = 0;
  if (!writeAll(fd, xml, length)) {
    failed = "write";
    err = errno;
  } else if (::fsync(fd) != 0) {
    failed = "fsync";
    err = errno;
  }
  if (::close(fd) != 0 && failed == nullptr) {
    failed = "close";
    err = errno;
  }
  if (failed == nullptr && ::rename(temp.c_str(), target.c_str()) != 0) {
    failed = "rename";
    err = errno;
  }
  if (failed != nullptr) {
    WD_LOG_WARN("Settings not saved to {}: {} failed: {}", target.string(), failed,
                std::strerror(err));
    ::unlink(temp.c_str());
    return false;
  }
  syncDirectory(dir);
  return true;
}

}  // namespace wd
