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

}  // namespace wd::bridge::wire
