#pragma once
// The property-list codec of the settings store and the defaults file: XML or binary property
// lists (libplist) to Json and back. Damaged input gives a reason, never a crash: text that is
// not UTF-8 is repaired, binary lists the library would abort on are refused, and deep nesting
// is refused both ways.
#include <optional>
#include <string>
#include <string_view>

#include "core/Json.h"

namespace wd::plist {

// Deeper nesting than this is treated as damage on reading and refused on writing.
inline constexpr int kMaxDepth = 128;

struct Decoded {
  std::optional<Json> value;  // the root value, when the data is a readable property list
  std::string error;          // else why not ("is empty", "is not a property list", ...)
};

// Reads an XML or binary ("bplist00") property list of any root kind. Dates become ISO 8601
// text (UTC), data Base64 text, text that is not UTF-8 is repaired (U+FFFD per bad sequence).
Decoded decode(std::string_view data);

// True when `value` can be stored: booleans, finite numbers, UTF-8 strings without NUL
// characters, and arrays and objects of those (no null inside, keys UTF-8 without NUL), at
// most kMaxDepth levels deep.
bool isRepresentable(const Json& value);

// The XML property list of a representable value; none for anything else.
std::optional<std::string> encodeXml(const Json& value);

}  // namespace wd::plist
