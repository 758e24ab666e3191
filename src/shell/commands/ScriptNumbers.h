#pragma once
// The page's number conversions (ECMAScript ToNumber and ToInt32) applied natively to a value
// that crossed the bridge as "any", for members that store what the page gives as a number.
#include <cstdint>
#include <string_view>

#include "bridge/Value.h"

namespace wd::script {

// ToNumber: undefined NaN, null 0, booleans 0 and 1, strings by the page's rules (surrounding
// white space ignored, "" 0, "0x1F", "0o17", "0b101", "Infinity", decimal with exponent, anything
// else NaN), dates their time value, arrays and plain objects through their ToString text;
// native objects and page functions NaN.
double toNumber(const bridge::Value& value);
// The page's StringToNumber.
double stringToNumber(std::string_view text);
// ToInt32: NaN and infinities 0, fractions cut toward zero, the rest wrapped modulo 2^32 into
// the signed 32-bit range.
std::int32_t toInt32(double number);

}  // namespace wd::script
