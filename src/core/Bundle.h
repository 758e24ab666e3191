#pragma once
// The application bundle: identity (name, identifier, version) and the resource directory.
#include <filesystem>
#include <optional>
#include <string>

namespace wd {

class Bundle {
 public:
  // The process-wide bundle. Its resource directory is, in order: the directory named by
  // WENDREL_RESOURCE_DIR, the build tree's resources when the executable runs from the build
  // tree, <prefix>/share/wendrel-desktop next to the installed executable, else the configured
  // install location.
  static Bundle& main();

  explicit Bundle(std::filesystem::path resourceDirectory);

  const std::filesystem::path& resourcePath() const { return resources_; }
  // Replaces the resource directory (tests, --web-client).
  void setResourcePath(std::filesystem::path dir) { resources_ = std::move(dir); }

  // Info keys: "CFBundleName", "CFBundleIdentifier", "CFBundleVersion", "CFBundleExecutable".
  std::optional<std::string> infoValue(const std::string& key) const;
  std::string name() const;
  std::string identifier() const;
  std::string version() const;

  // Full path of resource `name` with extension `type` (may be empty) inside `directory`
  // (relative to the resource directory; "." or "./x" allowed). None when no such file exists.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
                                             const std::string& directory = {}) const;

 private:
  std::filesystem::path resources_;
};

// Full path of a resource given as a path relative to the resource directory ("a/b/file.ext"),
// or none. The last piece is the file name, the pieces before it the directory.
std::optional<std::string> pathForResource(const std::string& relativePath);

}  // namespace wd
