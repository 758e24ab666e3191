// libFuzzer target: the settings file reader on arbitrary file contents (XML and binary property
// lists). Every dictionary it answers must be serialisable as strict JSON (dump throws).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Json.h"
#include "core/UserDefaults.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One in-memory file, rewritten for each input and read back through its /proc path.
  static const int fd = memfd_create("settings-fuzz", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
  for (size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  if (const auto dictionary = wd::UserDefaults::readDictionaryFile(path)) {
    if (!dictionary->is_object()) std::abort();
    (void)dictionary->dump(-1, ' ', false, wd::Json::error_handler_t::strict);
  }
  return 0;
}
