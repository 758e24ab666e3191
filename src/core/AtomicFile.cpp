// Crash-safe whole-file replacement: the new contents go to a temporary file next to the file
// they replace, are made durable, and are renamed over it in one step; the folder is synced so
// that the rename itself survives a power cut. A symbolic link is resolved first so that its
// target, not the link, is replaced (managed dotfiles keep working).
#include "core/AtomicFile.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "core/UniqueFd.h"

namespace wd {
namespace fs = std::filesystem;

namespace {

// Links followed before giving up, as the kernel does.
constexpr int kMaxLinks = 40;

std::string errnoText(int err) {
  return g_strerror(err);
}

std::string quoted(const fs::path& path) {
  std::string out = path.string();
  out.insert(out.begin(), '"');
  out.push_back('"');
  return out;
}

struct Target {
  fs::path path;
  std::optional<struct stat> existing;  // none when the file is to be created
};

// The file that `path` stands for: the end of its chain of symbolic links (which need not
// exist yet), with its status when it does. Only regular files are replaced.
std::optional<Target> resolveTarget(const fs::path& path, std::string& why) {
  fs::path current = path;
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno == ENOENT) return Target{current, std::nullopt};
      why = "cannot look at " + quoted(current) + ": " + errnoText(errno);
      return std::nullopt;
    }
    if (S_ISREG(st.st_mode)) return Target{current, st};
    if (!S_ISLNK(st.st_mode)) {
      why = quoted(current) + " is not a regular file";
      return std::nullopt;
    }
    std::error_code ec;
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) {
      why = "cannot read the link " + quoted(current) + ": " + ec.message();
      return std::nullopt;
    }
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  why = quoted(path) + ": " + errnoText(ELOOP);
  return std::nullopt;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Makes a rename in `dir` durable. Best effort: the new contents are in place either way.
void syncDirectory(const fs::path& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

std::optional<std::string> writeFileAtomically(const fs::path& path, std::string_view data,
                                               mode_t mode) {
  if (path.empty()) return std::string("empty path");
  std::string why;
  const auto target = resolveTarget(path, why);
  if (!target) return why;
  const fs::path dir =
      target->path.parent_path().empty() ? fs::path(".") : target->path.parent_path();

  std::string temp = target->path.string() + ".tmp-XXXXXX";
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) return "cannot create a temporary file in " + quoted(dir) + ": " + errnoText(errno);

  const char* failed = nullptr;
  int err = 0;
  auto step = [&](const char* name, bool ok) {
    if (failed == nullptr && !ok) {
      failed = name;
      err = errno;
    }
  };
  if (target->existing) {
    // Keep the replaced file's permission bits, and its owner where allowed (root editing a
    // user's file); a failed chown leaves the writer as owner, which is not an error.
    step("chmod", ::fchmod(fd.get(), target->existing->st_mode & 07777) == 0);
    if (target->existing->st_uid != ::geteuid() || target->existing->st_gid != ::getegid()) {
      [[maybe_unused]] const int ignored =
          ::fchown(fd.get(), target->existing->st_uid, target->existing->st_gid);
    }
  } else {
    step("chmod", ::fchmod(fd.get(), mode & 07777) == 0);
  }
  step("write", writeAll(fd.get(), data));
  step("fsync", ::fsync(fd.get()) == 0);
  step("close", fd.close() == 0);
  step("rename", failed != nullptr || ::rename(temp.c_str(), target->path.c_str()) == 0);
  if (failed != nullptr) {
    ::unlink(temp.c_str());
    return std::string(failed) + " of " + quoted(target->path) + " failed: " + errnoText(err);
  }
  syncDirectory(dir);
  return std::nullopt;
}

std::size_t removeLeftoverTemporaries(const fs::path& folder, long minimumAgeSeconds,
                                      std::string_view ofName) {
  static constexpr std::string_view kMark = ".tmp-";
  static constexpr std::size_t kRandom = 6;  // the XXXXXX of mkostemp
  std::error_code ec;
  std::size_t removed = 0;
  const time_t now = ::time(nullptr);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= kMark.size() + kRandom ||
        name.compare(name.size() - kRandom - kMark.size(), kMark.size(), kMark) != 0)
      continue;
    if (!ofName.empty() && (name.size() != ofName.size() + kMark.size() + kRandom ||
                            name.compare(0, ofName.size(), ofName) != 0))
      continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (now - st.st_mtime < minimumAgeSeconds) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace wd
