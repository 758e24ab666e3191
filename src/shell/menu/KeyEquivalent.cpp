#include "shell/menu/KeyEquivalent.h"

#include <gtk/gtk.h>

namespace wd::menukeys {

namespace {

// The last code point of WTF-8 text, with its byte offset; none for empty or broken text.
std::optional<std::pair<char32_t, std::size_t>> lastCodePoint(const std::string& s) {
  if (s.empty()) return std::nullopt;
  std::size_t start = s.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + start;
  const std::size_t len = s.size() - start;
  char32_t cp = 0;
  if (p[0] < 0x80 && len == 1) {
    cp = p[0];
  } else if ((p[0] & 0xE0) == 0xC0 && len == 2) {
    cp = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
  } else if ((p[0] & 0xF0) == 0xE0 && len == 3) {
    cp = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
  } else if ((p[0] & 0xF8) == 0xF0 && len == 4) {
    cp = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
  } else {
    return std::make_pair(char32_t(p[len - 1]), s.size() - 1);  // stray byte: itself
  }
  return std::make_pair(cp, start);
}

std::string encode(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

std::string keyFromString(const std::optional<std::string>& keys) {
  if (!keys) return "";
  auto last = lastCodePoint(*keys);
  if (!last) return "";
  if (last->first >= 0x10000 && last->first <= 0x10FFFF)  // the low surrogate of the pair
    return encode(0xDC00 + ((last->first - 0x10000) & 0x3FF));
  return keys->substr(last->second);
}

std::uint32_t modifiersFromString(const std::optional<std::string>& keys) {
  if (!keys) return 0;
  std::uint32_t mask = 0;
  const struct {
    const char* word;
    Modifier flag;
  } words[] = {{"caps", kCapsLock}, {"shift", kShift}, {"ctrl", kControl},
               {"opt", kOption},    {"alt", kOption},  {"cmd", kCommand}};
  for (const auto& w : words)
    if (keys->find(w.word) != std::string::npos) mask |= w.flag;
  return mask;
}

std::optional<std::string> acceleratorFor(const std::string& key, std::uint32_t modifiers) {
  auto last = lastCodePoint(key);
  if (!last || (last->first >= 0xD800 && last->first <= 0xDFFF)) return std::nullopt;
  char32_t cp = last->first;
  bool shift = modifiers & kShift;
  if (g_unichar_isupper(cp)) {
    shift = true;
    cp = g_unichar_tolower(cp);
  }
  const guint keyval = gdk_unicode_to_keyval(cp);
  const gchar* name = gdk_keyval_name(keyval);
  // Control characters and code points without a key name cannot be bound.
  if (!name || g_unichar_iscntrl(cp) || (keyval & 0x01000000)) return std::nullopt;
  std::string accel;
  if (modifiers & (kControl | kCommand)) accel += "<Primary>";
  if (shift) accel += "<Shift>";
  if (modifiers & kOption) accel += "<Alt>";
  return accel + name;
}

}  // namespace wd::menukeys
