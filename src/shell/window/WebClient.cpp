#include "shell/window/WebClient.h"

#include <glib.h>

#include "core/Bundle.h"
#include "core/Log.h"
#include "core/UserDefaults.h"

namespace wd::webclient {
namespace fs = std::filesystem;

namespace {
fs::path& override() {
  static fs::path dir;
  return dir;
}
}  // namespace

fs::path directory() {
  if (!override().empty()) return override();
  return Bundle::main().resourcePath();
}

void setDirectory(fs::path dir) {
  std::error_code ec;
  if (!dir.empty()) {
    auto absolute = fs::absolute(dir, ec);
    if (!ec) dir = absolute.lexically_normal();
  }
  // The document policy reads the folder in use from here.
  override() = std::move(dir);
}

bool isWebClientDirectory(const fs::path& dir) {
  std::error_code ec;
  return !dir.empty() && fs::is_regular_file(dir / "public" / "index.html", ec);
}

std::optional<fs::path> directoryFromSettings(const UserDefaults& defaults) {
  auto value = defaults.stringForKey("webClientDirectory");
  if (!value || value->empty()) return std::nullopt;
  fs::path dir(*value);
  if (!isWebClientDirectory(dir)) {
    WD_LOG_INFO("The web client folder {} has no public/index.html; using the bundled page",
                *value);
    return std::nullopt;
  }
  return dir;
}

std::string fileURL(const std::string& resourcePath) {
  fs::path full = (directory() / resourcePath).lexically_normal();
  gchar* uri = g_filename_to_uri(full.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : "about:blank";
  g_free(uri);
  return out;
}

LocalConfiguration configuration() {
  if (!override().empty()) {
    if (auto config = LocalConfiguration::loadFile(override() / "public" / "config.json"))
      return std::move(*config);
  }
  return LocalConfiguration::load();
}

}  // namespace wd::webclient
