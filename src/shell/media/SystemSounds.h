#pragma once
// The named system sounds the page asks for, found in the freedesktop sound theme. The page uses
// the other platform's names (Glass, Ping, Basso, ...); each maps to a sound of the theme
// (docs/architecture.md has the table). Any other name is taken as a theme sound name itself
// ("bell", "complete"). The theme's files are looked up in sounds/freedesktop/stereo/ under the
// XDG data directories.
#include <optional>
#include <string>
#include <string_view>

namespace wd::systemsounds {

// The freedesktop theme name for a page name, matched without regard to case; the name itself
// when it is not one of the mapped names.
std::string themeName(std::string_view name);

// The file that plays the system sound `name`, or none when the theme has no such sound (or the
// name could reach outside the theme folder).
std::optional<std::string> fileForName(std::string_view name);

}  // namespace wd::systemsounds
