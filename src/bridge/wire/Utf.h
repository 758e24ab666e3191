#pragma once
// Length-safe conversions between the page's UTF-16 strings and native UTF-8 strings. Lone
// surrogates are kept in their generalised 3-byte form (WTF-8), so every page string survives a
// round trip; NUL characters are ordinary characters.
#include <string>
#include <string_view>

namespace wd::bridge::wire {

std::string utf16ToUtf8(const char16_t* data, std::size_t length);
// Invalid byte sequences become U+FFFD; encoded surrogates (from utf16ToUtf8) are restored.
std::u16string utf8ToUtf16(std::string_view text);

// Makes `text` valid UTF-8 in place: each lone surrogate (the WTF-8 form above) and each
// invalid byte sequence becomes U+FFFD; NUL characters stay. Native code gets page strings in
// this form, so GLib, GTK and D-Bus never see text they refuse.
void repairUtf8(std::string& text);

// The longest prefix of the valid UTF-8 `text` that has at most `maxBytes` bytes and ends on
// a character boundary.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

// Window titles and menu labels from the page are cut to this many bytes before they reach
// the toolkit: X refuses a request past its length limit (a 16 MiB title ends the connection),
// and no window manager or menu shows more.
inline constexpr std::size_t kMaxTitleBytes = 4096;
inline std::string boundedTitle(std::string_view text) {
  return std::string(utf8Prefix(text, kMaxTitleBytes));
}

}  // namespace wd::bridge::wire
