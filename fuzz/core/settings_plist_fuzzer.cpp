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
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();  // a memory file takes the whole input in one write
  if (const auto dictionary = wd::UserDefaults::readDictionaryFile(path)) {
    if (!dictionary->is_object()) std::abort();
    (void)dictionary->dump(-1, ' ', false, wd::Json::error_handler_t::strict);
  }
  return 0;
}
