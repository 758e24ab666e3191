#pragma once
// MacGap.File: whole-file reads and writes for the page, as text ("string") or JSON ("json"),
// and an existence test. The page may name any path the user can reach; what it cannot do is
// corrupt a file or stall the window:
// - writes are atomic (a new file is renamed over the old one: a reader, or a crash, sees the
//   old content or the new, never a mix) and keep an existing file's permissions; a symbolic
//   link is written through to its target;
// - reads take regular files only (a directory, FIFO or device reads as undefined without
//   blocking) of at most kMaxReadBytes, and text that is not UTF-8 reads as undefined;
// - only a string holding an absolute path names a file: a relative path (which would land in
//   the working folder), a value that is not a string, or a path with a NUL character (it
//   would name another file to the system) names nothing.
// Types other than "string" and "json" ("image" included) read as undefined and write nothing.
// Failures are logged (info) and reach the page as undefined or nothing.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class File : public bridge::Command {
 public:
  // Largest file read: results must stay within the bridge's message limit (64 MiB).
  static constexpr std::size_t kMaxReadBytes = 32u << 20;

  explicit File(std::weak_ptr<bridge::WindowHandle> window);
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // "string": the data's ToString as UTF-8 (a page function writes nothing; a lone surrogate
  // arrives as U+FFFD); "json": the data, when it is a plain object, as pretty-printed JSON.
  void writeFile(bridge::Value path, bridge::Value data, std::optional<std::string> type);
  // "string": the text; "json": the object or array the text holds (nested at most
  // kMaxJsonDepth deep); undefined otherwise.
  bridge::Value readFile(bridge::Value path, std::optional<std::string> type);
  // A file, directory or anything else exists at the path (symbolic links followed).
  bool exists(bridge::Value path);

  static constexpr int kMaxJsonDepth = 64;

 private:
  // "string", "json", "image", in that order.
  static const std::vector<std::string>& acceptedTypes();
};

}  // namespace wd
