#include "bridge/wire/Utf.h"

namespace wd::bridge::wire {

std::string utf16ToUtf8(const char16_t* data, std::size_t length) {
  std::string out;
  out.reserve(length + length / 2);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t c = data[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && data[i + 1] >= 0xDC00 &&
        data[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(data[i + 1]) - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {  // includes lone surrogates (WTF-8)
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto cont = [&](std::size_t k) { return k < n && (s[k] & 0xC0) == 0x80; };
  while (i < n) {
    const unsigned char b = s[i];
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      c = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      c = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
      if (c < 0x800) c = 0xFFFD;  // overlong
      len = 3;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      c = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
          (s[i + 3] & 0x3Fu);
      if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
      len = 4;
    }
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

namespace {
// The length of the valid UTF-8 sequence at `i` (no surrogates, no overlong forms, at most
// U+10FFFF), or 0 when there is none.
std::size_t validSequence(const unsigned char* s, std::size_t n, std::size_t i) {
  const unsigned char b = s[i];
  auto cont = [&](std::size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return k < n && s[k] >= lo && s[k] <= hi;
  };
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return cont(i + 1) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
    return cont(i + 1, lo, hi) && cont(i + 2) ? 3 : 0;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    const unsigned char lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
    return cont(i + 1, lo, hi) && cont(i + 2) && cont(i + 3) ? 4 : 0;
  }
  return 0;
}
}  // namespace

void repairUtf8(std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  // Most strings are valid: nothing is copied until the first bad sequence.
  while (i < n) {
    const std::size_t len = validSequence(s, n, i);
    if (len == 0) break;
    i += len;
  }
  if (i == n) return;
  std::string out(text, 0, i);
  out.reserve(n + 16);
  while (i < n) {
    const std::size_t len = validSequence(s, n, i);
    if (len) {
      out.append(text, i, len);
      i += len;
      continue;
    }
    out += "\xEF\xBF\xBD";
    // A lone surrogate (or any other broken sequence) is one replacement, with its
    // continuation bytes.
    ++i;
    while (i < n && (s[i] & 0xC0) == 0x80 && validSequence(s, n, i) == 0) ++i;
  }
  text = std::move(out);
}

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace wd::bridge::wire
