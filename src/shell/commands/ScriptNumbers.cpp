// ECMAScript ToNumber / StringToNumber / ToInt32 over bridge values, without the C locale's
// influence (std::from_chars reads the decimal form).
#include "shell/commands/ScriptNumbers.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "shell/commands/ScriptConversions.h"

namespace wd::script {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Length of the white space or line terminator the page's trim removes at `s[0]`, or 0.
std::size_t spaceAt(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char c = static_cast<unsigned char>(s[0]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  static constexpr std::string_view kWide[] = {
      "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
      "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87",
      "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9",
      "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80", "\xEF\xBB\xBF"};
  for (auto w : kWide)
    if (s.starts_with(w)) return w.size();
  return 0;
}

std::string_view trim(std::string_view s) {
  for (std::size_t n; (n = spaceAt(s)) != 0;) s.remove_prefix(n);
  while (!s.empty()) {
    std::size_t cut = 0;
    for (std::size_t len = 1; len <= 3 && len <= s.size(); ++len)
      if (spaceAt(s.substr(s.size() - len)) == len) cut = len;
    if (cut == 0) break;
    s.remove_suffix(cut);
  }
  return s;
}

double radixNumber(std::string_view digits, int radix) {
  if (digits.empty()) return kNaN;
  double out = 0;
  for (char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'z')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
      d = c - 'A' + 10;
    if (d < 0 || d >= radix) return kNaN;
    out = out * radix + d;
  }
  return out;
}

// An unsigned decimal literal: digits with an optional fraction and exponent.
bool isDecimalLiteral(std::string_view s) {
  std::size_t i = 0, intDigits = 0, fracDigits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++intDigits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

double stringToNumber(std::string_view text) {
  std::string_view s = trim(text);
  if (s.empty()) return 0;
  if (s.size() > 2 && s[0] == '0') {
    const char p = static_cast<char>(s[1] | 0x20);
    if (p == 'x') return radixNumber(s.substr(2), 16);
    if (p == 'o') return radixNumber(s.substr(2), 8);
    if (p == 'b') return radixNumber(s.substr(2), 2);
  }
  double sign = 1;
  if (s[0] == '+' || s[0] == '-') {
    sign = s[0] == '-' ? -1 : 1;
    s.remove_prefix(1);
  }
  if (s == "Infinity") return sign * std::numeric_limits<double>::infinity();
  if (!isDecimalLiteral(s)) return kNaN;
  // from_chars takes no leading '.', so give it one zero.
  std::string literal(s);
  if (literal[0] == '.') literal.insert(literal.begin(), '0');
  double out = 0;
  auto [end, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), out);
  if (ec == std::errc::result_out_of_range) {
    // Too large gives infinity, too small zero, as the page reads them.
    const auto e = literal.find_first_of("eE");
    const bool tiny = e != std::string::npos && literal.find('-', e) != std::string::npos;
    out = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc() || end != literal.data() + literal.size()) {
    return kNaN;
  }
  return sign * out;
}

double toNumber(const bridge::Value& value) {
  using Kind = bridge::Value::Kind;
  switch (value.kind()) {
    case Kind::Undefined:
      return kNaN;
    case Kind::Null:
      return 0;
    case Kind::Bool:
      return *value.asBool() ? 1 : 0;
    case Kind::Number:
      return *value.asNumber();
    case Kind::String:
      return stringToNumber(*value.asString());
    case Kind::Date:
      return static_cast<double>(
          std::chrono::duration_cast<std::chrono::milliseconds>(value.asDate()->time_since_epoch())
              .count());
    case Kind::Array:
    case Kind::Dictionary: {
      auto text = toString(value);
      return text ? stringToNumber(*text) : kNaN;
    }
    default:
      return kNaN;
  }
}

std::int32_t toInt32(double number) {
  if (!std::isfinite(number)) return 0;
  double t = std::fmod(std::trunc(number), 4294967296.0);
  if (t < 0) t += 4294967296.0;
  if (t >= 2147483648.0) t -= 4294967296.0;
  return static_cast<std::int32_t>(t);
}

}  // namespace wd::script
