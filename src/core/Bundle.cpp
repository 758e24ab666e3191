#include "core/Bundle.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "wd/Version.h"

namespace wd {
namespace fs = std::filesystem;

namespace {

fs::path executableDirectory() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path{} : exe.parent_path();
}

bool isDirectory(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

fs::path locateResources() {
  if (const char* env = std::getenv("WENDREL_RESOURCE_DIR"); env && *env) return fs::path(env);
  const fs::path exeDir = executableDirectory();
  if (!exeDir.empty()) {
    // Installed: <prefix>/bin/wendrel-desktop beside <prefix>/share/wendrel-desktop, wherever
    // the tree was installed or unpacked (also below a build directory).
    fs::path installed = exeDir.parent_path() / "share" / "wendrel-desktop";
    if (isDirectory(installed)) return installed;
    // Running from the build tree: the executable lives below the CMake binary directory.
    auto rel = exeDir.lexically_relative(fs::path(build::kBinaryDir));
    if (!rel.empty() && *rel.begin() != ".." && isDirectory(build::kResourceBuildDir))
      return fs::path(build::kResourceBuildDir);
  }
  return fs::path(build::kResourceInstallDir);
}

}  // namespace

Bundle& Bundle::main() {
  static Bundle bundle(locateResources());
  return bundle;
}

Bundle::Bundle(fs::path resourceDirectory) : resources_(std::move(resourceDirectory)) {}

std::optional<std::string> Bundle::infoValue(const std::string& key) const {
  if (key == "CFBundleName") return std::string(build::kAppName);
  if (key == "CFBundleIdentifier") return std::string(build::kAppId);
  if (key == "CFBundleVersion" || key == "CFBundleShortVersionString")
    return std::string(build::kVersion);
  if (key == "CFBundleExecutable") return std::string(build::kExecutable);
  return std::nullopt;
}

std::string Bundle::name() const { return build::kAppName; }
std::string Bundle::identifier() const { return build::kAppId; }
std::string Bundle::version() const { return build::kVersion; }

std::optional<std::string> Bundle::pathForResource(const std::string& name,
                                                   const std::string& type,
                                                   const std::string& directory) const {
  if (name.empty()) return std::nullopt;
  std::string file = name;
  if (!type.empty()) file += "." + type;
  fs::path candidate = (resources_ / directory / file).lexically_normal();
  // Never answer with a path outside the resource directory ("../" in a name or directory).
  auto rel = candidate.lexically_relative(resources_.lexically_normal());
  if (rel.empty() || *rel.begin() == "..") return std::nullopt;
  std::error_code ec;
  if (!fs::is_regular_file(candidate, ec)) return std::nullopt;
  return candidate.string();
}

std::optional<std::string> pathForResource(const std::string& relativePath) {
  const auto slash = relativePath.rfind('/');
  const std::string fileName =
      slash == std::string::npos ? relativePath : relativePath.substr(slash + 1);
  const std::string directory =
      slash == std::string::npos ? std::string{} : relativePath.substr(0, slash);
  // The directory is taken relative to the resource directory: "./" + directory.
  return Bundle::main().pathForResource(fileName, "", "./" + directory);
}

}  // namespace wd
