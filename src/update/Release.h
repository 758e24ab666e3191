#pragma once
// The update service's description of a release (the body of a 200 answer), as JSON:
//
//   {"name": "Wendrel Desktop 0.2.0",         display name (required, 1-200 characters)
//    "version": "0.2.0",                      see Version.h (required)
//    "url": "https://…/wendrel-desktop.tar.gz",  the download, absolute http(s) (required)
//    "size": 12345678,                        bytes of the download, 1 B to 2 GiB (required)
//    "signature": "<base64>",                 Ed25519, see Signature.h (required)
//    "notes": "https://…/release-notes",      release notes, absolute http(s) (optional)
//    "pub_date": "2026-12-01T10:00:00Z"}      publication date, ISO 8601 (optional)
//
// Unknown members are ignored. A body that is not such an object is refused with a reason.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "update/Signature.h"

namespace wd::update {

inline constexpr std::size_t kMaxReleaseBodyBytes = 64 * 1024;
inline constexpr std::uint64_t kMaxDownloadBytes = 2ull * 1024 * 1024 * 1024;

struct Release {
  std::string releaseName;
  std::string version;
  std::string url;
  std::uint64_t size = 0;
  Signature signature{};
  std::optional<std::string> releaseNotes;  // an absolute http(s) URL when present
  std::optional<std::string> publicationDate;
};

// The release, or the reason the body is refused (one line of text).
std::variant<Release, std::string> readRelease(std::string_view body);

// True for an absolute http or https URL with a host.
bool isWebURL(std::string_view text);

}  // namespace wd::update
