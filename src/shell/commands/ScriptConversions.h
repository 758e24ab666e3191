#pragma once
// The page's own conversions (ECMAScript ToString and ToBoolean) applied natively to a value that
// crossed the bridge as "any", for script members whose options or data the page may give in any
// form (File's "string" data, Dialog's options). Native objects and page functions held by handle
// cannot be read natively: ToString gives none for them, and "[object Object]" for plain objects.
#include <optional>
#include <string>
#include <string_view>

#include "bridge/Value.h"

namespace wd::script {

// ToString: strings as they are, numbers as the page prints them ("1", "0.1", "1e+21", "NaN"),
// "true"/"false", "null", "undefined", arrays joined with "," (null and undefined elements
// empty), "[object Object]" for plain objects; none for native objects and page functions.
std::optional<std::string> toString(const bridge::Value& value);

// ToBoolean: false for undefined, null, false, 0, NaN and ""; true for everything else.
bool toBoolean(const bridge::Value& value);

// The page's text form of a number (Number.prototype.toString with radix 10).
std::string numberToString(double number);

// Whether `bytes` are UTF-8 text the page can take: well-formed, no encoded surrogates, NUL
// characters allowed.
bool isUtf8(std::string_view bytes);
// `bytes` as such text, every byte that starts no well-formed sequence replaced by U+FFFD.
std::string toValidUtf8(std::string_view bytes);

}  // namespace wd::script
