#include "core/I18n.h"

#include <libintl.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "wd/Version.h"

namespace wd::i18n {
namespace fs = std::filesystem;

namespace {

bool holdsCatalogues(const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (fs::is_regular_file(entry.path() / "LC_MESSAGES" / GETTEXT_PACKAGE ".mo", ec)) return true;
  }
  return false;
}

}  // namespace

std::string localeDirectory() {
  if (const char* env = std::getenv("WENDREL_LOCALE_DIR"); env && *env) return env;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path exeDir = exe.parent_path();
    // The build tree first: its catalogues are the ones just compiled.
    const auto rel = exeDir.lexically_relative(fs::path(build::kBinaryDir));
    if (!rel.empty() && *rel.begin() != ".." && holdsCatalogues(build::kLocaleBuildDir))
      return build::kLocaleBuildDir;
    // Installed or unpacked: <prefix>/bin/wendrel-desktop beside <prefix>/share/locale.
    const fs::path installed = exeDir.parent_path() / "share" / "locale";
    if (holdsCatalogues(installed)) return installed.string();
  }
  return build::kLocaleInstallDir;
}

void bindCatalogue() {
  bindtextdomain(GETTEXT_PACKAGE, localeDirectory().c_str());
  bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
  textdomain(GETTEXT_PACKAGE);
}

}  // namespace wd::i18n
