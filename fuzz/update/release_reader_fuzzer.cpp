// libFuzzer target: the update service's release description on arbitrary bytes. An accepted
// release holds what the updater relies on; every refusal has a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "update/Release.h"
#include "update/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wd::update;
  const auto read = readRelease(std::string_view(reinterpret_cast<const char*>(data), size));
  if (const auto* release = std::get_if<Release>(&read)) {
    if (!parseVersion(release->version) || !isWebURL(release->url) || release->size == 0 ||
        release->size > kMaxDownloadBytes || release->releaseName.empty() ||
        (release->releaseNotes && !isWebURL(*release->releaseNotes)))
      std::abort();
  } else if (std::get<std::string>(read).empty()) {
    std::abort();
  }
  return 0;
}
