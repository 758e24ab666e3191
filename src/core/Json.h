#pragma once
// JSON text conversions used between native code and the page.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace wd {

using Json = nlohmann::json;

// Pretty-printed JSON text of a value (arrays and objects in practice). None when the value
// cannot be represented (for example a string that is not valid UTF-8, or a NaN).
std::optional<std::string> JSONString(const Json& value);

// Parses text whose top level is an array or an object. None for anything else (bare strings,
// numbers, literals, invalid text).
std::optional<Json> JSONObject(const std::string& text);

}  // namespace wd
