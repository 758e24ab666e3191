// Reads whole regular files without ever blocking on a special file or reading without bound.
// The path is looked at with stat() first so that a device is not even opened (opening some
// devices has effects), then opened non-blocking and checked again on the descriptor, which is
// what is actually read (the path may have been swapped in between).
#include "core/SafeFileReader.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/UniqueFd.h"

namespace wd {

namespace {

std::string errnoText(int err) {
  return g_strerror(err);
}

// "not a regular file" with what the file is, for the log line.
std::string notRegular(mode_t mode) {
  const char* kind = S_ISDIR(mode)    ? "a directory"
                     : S_ISFIFO(mode) ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                                      : "of an unknown kind";
  return std::string("not a regular file (") + kind + ")";
}

std::string sizeText(std::size_t bytes) {
  constexpr std::size_t kKiB = 1024, kMiB = kKiB * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

FileContents failure(std::string why) {
  return FileContents{std::nullopt, std::move(why)};
}

}  // namespace

FileContents readRegularFile(const std::filesystem::path& path, std::size_t maxBytes) {
  if (path.empty()) return failure("empty path");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return failure(errnoText(errno));
  if (!S_ISREG(st.st_mode)) return failure(notRegular(st.st_mode));

  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return failure(errnoText(errno));
  if (::fstat(fd.get(), &st) != 0) return failure(errnoText(errno));
  if (!S_ISREG(st.st_mode)) return failure(notRegular(st.st_mode));
  const std::string tooLarge = "larger than " + sizeText(maxBytes);
  if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > maxBytes)
    return failure(tooLarge);

  // The size is a hint: the file may grow or shrink while it is read, and some files (in /proc)
  // report 0. Read until end of file, one byte beyond the cap at most to tell "exactly the cap"
  // from "larger".
  const std::size_t limit = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
  std::string data;
  data.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(st.st_size) + 1));
  std::size_t got = 0;
  for (;;) {
    if (got == data.size()) {
      if (data.size() >= limit) break;
      data.resize(std::min(limit, std::max<std::size_t>(data.size() * 2, 4096)));
    }
    const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure(errnoText(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > maxBytes) return failure(tooLarge);
  data.resize(got);
  return FileContents{std::move(data), {}};
}

}  // namespace wd
