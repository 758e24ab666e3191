#pragma once
// Whole-file replacement that survives crashes and full disks: the settings store, the page's
// File object and downloads write through it, so a reader never sees half a file.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace wd {

// Replaces the contents of `path` with `data` so that a crash or a full disk leaves either the
// old file or the new one, never a torn one: a temporary file in the same folder, written and
// fsynced, renamed over `path`, then the folder fsynced. A symbolic link at `path` is followed
// (its target is replaced; the link stays). An existing file keeps its permission bits; a new
// one gets `mode`. Returns an empty optional on success, else a one-line reason (nothing was
// changed and no temporary file is left behind).
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               std::string_view data, mode_t mode = 0644);

// Removes from `folder` (not below it) the temporary files that writes killed mid-way left:
// regular files named "<name>.tmp-XXXXXX" as writeFileAtomically names them, untouched for
// at least `minimumAgeSeconds` (a writer of another process may be busy with a newer one);
// with `ofName`, only those of the file of that name. Returns how many were removed.
std::size_t removeLeftoverTemporaries(const std::filesystem::path& folder,
                                      long minimumAgeSeconds = 60, std::string_view ofName = {});

}  // namespace wd
