#pragma once
// Key strings as the page writes them ('cmd+shift+n'): the key (the string's last UTF-16 code
// unit), the modifier mask (each modifier word found anywhere in the string, case-sensitively)
// and the GTK accelerator the pair stands for on this platform ("cmd" is the primary modifier,
// Control).
#include <cstdint>
#include <optional>
#include <string>

namespace wd::menukeys {

// Modifier flags, with the values the page's key strings have always meant.
enum Modifier : std::uint32_t {
  kCapsLock = 1u << 16,
  kShift = 1u << 17,
  kControl = 1u << 18,
  kOption = 1u << 19,
  kCommand = 1u << 20,
};

// The key of a key string: its last UTF-16 code unit as UTF-8 (a lone surrogate as WTF-8 when
// the string ends in a character outside the BMP); "" for none or the empty string.
std::string keyFromString(const std::optional<std::string>& keys);
// The modifier mask of a key string: "caps", "shift", "ctrl", "opt"/"alt", "cmd" found anywhere.
std::uint32_t modifiersFromString(const std::optional<std::string>& keys);
// The GTK accelerator ("<Primary><Shift>n") for a key and mask; none when the key is empty or
// names no key GTK can bind. Caps Lock has no accelerator modifier and is left out; an upper-case
// letter stands for Shift and its lower-case key.
std::optional<std::string> acceleratorFor(const std::string& key, std::uint32_t modifiers);

}  // namespace wd::menukeys
