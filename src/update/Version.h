#pragma once
// Release versions as the update service and the bundle write them: one to four dot-separated
// decimal numbers ("1", "0.2", "1.10.3"). Compared number by number, missing numbers count as 0,
// so "1.2" and "1.2.0" are the same version.
#include <optional>
#include <string_view>
#include <vector>

namespace wd::update {

using Version = std::vector<unsigned long>;

// None for anything else: empty parts, signs, letters, spaces, more than four parts, a part
// longer than nine digits.
std::optional<Version> parseVersion(std::string_view text);

// Negative, zero or positive as `a` is older than, the same as or newer than `b`.
int compareVersions(const Version& a, const Version& b);

// True when `candidate` is a valid version strictly newer than the valid version `running`.
bool isNewerVersion(std::string_view candidate, std::string_view running);

}  // namespace wd::update
