#pragma once
// The languages the page's editable fields are spell-checked in: the setting
// MacGap_spellCheckingLanguages when it names any ("en_US, de_DE" as text, or a list of
// texts), else the user's locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG, in GLib's order). Names
// are Enchant dictionary tags ("en_US", "de", "pt_BR"); languages without an installed
// dictionary are passed over by the engine.
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"

namespace wd {
class UserDefaults;

namespace spelling {

inline constexpr const char* kLanguagesKey = "MacGap_spellCheckingLanguages";

// The tags from the setting's value (none when it names no valid tag) or, failing that, from
// the locale names (GLib's g_get_language_names: "de_DE.UTF-8", "de_DE", "de", "C"): encodings
// and modifiers dropped, "C" and "POSIX" left out, each tag once, in order.
std::vector<std::string> languages(const std::optional<Json>& setting,
                                   const std::vector<std::string>& localeNames);
// The same for the running application: its settings and the process locale.
std::vector<std::string> languages(const UserDefaults& defaults);

}  // namespace spelling
}  // namespace wd
