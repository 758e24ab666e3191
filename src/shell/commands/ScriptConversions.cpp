#include "shell/commands/ScriptConversions.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace wd::script {

namespace {

// Arrays nest at most as deep as the bridge lets values nest; the guard keeps a hand-made value
// from recursing without end.
constexpr int kMaxDepth = 128;

std::optional<std::string> toStringAt(const bridge::Value& value, int depth) {
  using Kind = bridge::Value::Kind;
  switch (value.kind()) {
    case Kind::Undefined:
      return "undefined";
    case Kind::Null:
      return "null";
    case Kind::Bool:
      return *value.asBool() ? "true" : "false";
    case Kind::Number:
      return numberToString(*value.asNumber());
    case Kind::String:
      return *value.asString();
    case Kind::Array: {
      if (depth > kMaxDepth) return std::nullopt;
      std::string out;
      bool first = true;
      for (const auto& element : *value.asArray()) {
        if (!first) out += ',';
        first = false;
        if (element.isNone()) continue;
        auto text = toStringAt(element, depth + 1);
        if (!text) return std::nullopt;
        out += *text;
      }
      return out;
    }
    case Kind::Dictionary:
      return "[object Object]";
    case Kind::Date: {
      // The date's ISO 8601 text (what its toJSON gives).
      auto json = value.toJson();
      return json && json->is_string() ? json->get<std::string>() : std::string("Invalid Date");
    }
    case Kind::Object:
    case Kind::Script:
      return std::nullopt;
  }
  return std::nullopt;
}

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when there is none.
std::size_t sequenceLength(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(0);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

}  // namespace

bool isUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t n = sequenceLength(bytes);
    if (n == 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

std::string toValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t n = sequenceLength(bytes);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      bytes.remove_prefix(1);
    } else {
      out.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
    }
  }
  return out;
}

std::string numberToString(double number) {
  if (std::isnan(number)) return "NaN";
  if (number == 0) return "0";  // +0 and -0
  if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
  std::string sign = number < 0 ? "-" : "";
  // Shortest digits that read back as the same number: "d.ddde+XX".
  char buf[64];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, std::fabs(number), std::chars_format::scientific);
  if (ec != std::errc()) return "NaN";
  std::string text(buf, end);
  const auto e = text.find('e');
  std::string digits;
  for (std::size_t i = 0; i < e; ++i)
    if (text[i] != '.') digits += text[i];
  const int k = static_cast<int>(digits.size());
  const int n = std::atoi(text.c_str() + e + 1) + 1;  // number = 0.digits * 10^n
  if (k <= n && n <= 21) return sign + digits + std::string(static_cast<std::size_t>(n - k), '0');
  if (0 < n && n <= 21) return sign + digits.substr(0, n) + "." + digits.substr(n);
  if (-6 < n && n <= 0)
    return sign + "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
  const int exponent = n - 1;
  std::string mantissa = k == 1 ? digits : digits.substr(0, 1) + "." + digits.substr(1);
  return sign + mantissa + "e" + (exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent));
}

std::optional<std::string> toString(const bridge::Value& value) {
  return toStringAt(value, 0);
}

bool toBoolean(const bridge::Value& value) {
  using Kind = bridge::Value::Kind;
  switch (value.kind()) {
    case Kind::Undefined:
    case Kind::Null:
      return false;
    case Kind::Bool:
      return *value.asBool();
    case Kind::Number: {
      const double d = *value.asNumber();
      return d != 0 && !std::isnan(d);
    }
    case Kind::String:
      return !value.asString()->empty();
    default:
      return true;
  }
}

}  // namespace wd::script
