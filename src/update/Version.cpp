#include "update/Version.h"

#include <algorithm>

namespace wd::update {

std::optional<Version> parseVersion(std::string_view text) {
  constexpr std::size_t kMaxParts = 4, kMaxDigits = 9;
  Version parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = std::min(text.find('.', start), text.size());
    const std::string_view part = text.substr(start, dot - start);
    if (part.empty() || part.size() > kMaxDigits || parts.size() == kMaxParts) return std::nullopt;
    unsigned long value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    parts.push_back(value);
    if (dot == text.size()) return parts;
    start = dot + 1;
  }
}

int compareVersions(const Version& a, const Version& b) {
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned long x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool isNewerVersion(std::string_view candidate, std::string_view running) {
  const auto c = parseVersion(candidate), r = parseVersion(running);
  return c && r && compareVersions(*c, *r) > 0;
}

}  // namespace wd::update
