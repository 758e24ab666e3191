// Property-list codec (libplist) for the settings store and the defaults file. libplist keeps
// every integer as 64 bits, reads text without checking it, and aborts on some binary input;
// this file shields the rest of the program from all three.
#include "core/PropertyList.h"

#include <glib.h>
#include <plist/plist.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace wd::plist {

namespace {

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
  g_autofree gchar* repaired = g_utf8_make_valid(text, length);
  return repaired;
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
  g_autofree gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes), length);
  return encoded;
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
    case PLIST_STRING: {
      // Read through the pointer and length: text with a NUL inside is damage (the library
      // aborts the process when such text is copied out).
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (text == nullptr) return Json(std::string());
      if (std::memchr(text, 0, static_cast<std::size_t>(length)) != nullptr) return std::nullopt;
      return Json(validText(std::string(text, static_cast<std::size_t>(length)).c_str()));
    }
    case PLIST_KEY: {
      char* text = nullptr;
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

// True when a binary property list holds an ASCII or UTF-16 string (text or dictionary key)
// with a NUL (U+0000) code unit. The library
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
    const unsigned kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) continue;  // not an ASCII or UTF-16 string
    const std::size_t unitSize = kind == 0x6 ? 2 : 1;
    uint64_t units = marker & 0xF;
    std::size_t pos = static_cast<std::size_t>(at) + 1;
    if (units == 0xF) {  // the length follows as an integer object
      if (pos >= size || bytes[pos] >> 4 != 0x1) continue;
      const std::size_t width = std::size_t{1} << (bytes[pos] & 0xF);
      if (width > 8 || !bigEndian(pos + 1, width, units)) continue;
      pos += 1 + width;
    }
    if (pos > size || units > (size - pos) / unitSize) continue;
    for (std::size_t u = 0; u < units; ++u)
      if (bytes[pos + unitSize * u] == 0 && bytes[pos + unitSize * u + unitSize - 1] == 0)
        return true;
  }
  return false;
}
// True when XML text holds a NUL byte or a character reference to U+0000 ("&#0;", "&#x00;").
bool xmlHoldsNul(std::string_view data) {
  if (data.find('\0') != std::string_view::npos) return true;
  for (std::size_t at = data.find("&#"); at != std::string_view::npos;
       at = data.find("&#", at + 2)) {
    std::size_t i = at + 2;
    if (i < data.size() && (data[i] == 'x' || data[i] == 'X')) ++i;
    const std::size_t digits = i;
    while (i < data.size() && data[i] == '0') ++i;
    if (i > digits && i < data.size() && data[i] == ';') return true;
  }
  return false;
}
}  // namespace

Decoded decode(std::string_view data) {
  auto fail = [](const char* why) { return Decoded{std::nullopt, why}; };
  if (data.empty()) return fail("is empty");
  if (data.size() > UINT32_MAX) return fail("is too large");
  plist_t root = nullptr;
  if (data.size() >= 8 && data.substr(0, 8) == "bplist00") {
    if (binaryHasNulInUtf16String(data)) return fail("holds text with a NUL character");
    plist_from_bin(data.data(), static_cast<uint32_t>(data.size()), &root);
  } else {
    // XML cannot hold U+0000, raw or as a character reference; the library would keep it in
    // keys and text and then abort the process when the text is copied out.
    if (xmlHoldsNul(data)) return fail("holds text with a NUL character");
    plist_from_xml(data.data(), static_cast<uint32_t>(data.size()), &root);
  }
  PlistPtr holder(root);
  if (root == nullptr) return fail("is not a property list");
  auto value = fromPlist(root, 0);
  if (!value) return fail("holds values that cannot be read");
  return Decoded{std::move(value), {}};
}

bool isRepresentable(const Json& value) {
  return representable(value, 0);
}

std::optional<std::string> encodeXml(const Json& value) {
  if (!isRepresentable(value)) return std::nullopt;
  PlistPtr root(toPlist(value));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  if (xml == nullptr) return std::nullopt;
  std::unique_ptr<char, void (*)(char*)> text(xml, plist_to_xml_free);
  return std::string(xml, length);
}

}  // namespace wd::plist
