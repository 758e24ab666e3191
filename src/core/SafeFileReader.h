#pragma once
// The one way the application reads a whole file (configuration, settings, defaults, layouts,
// window frames): a path that names a device, a FIFO or a huge file gives a reason instead of
// blocking the main loop or filling memory.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace wd {

struct FileContents {
  std::optional<std::string> data;  // the whole file, when it could be read
  std::string
      error;  // else a one-line reason ("not a regular file", "larger than 4 MiB", errno text...)
};

// Reads a regular file (after following symbolic links) of at most `maxBytes`: opened with
// O_NONBLOCK|O_CLOEXEC|O_NOCTTY, checked with fstat on the open descriptor (directories, FIFOs,
// sockets and devices are refused without blocking), read to the end but never past maxBytes.
FileContents readRegularFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace wd
