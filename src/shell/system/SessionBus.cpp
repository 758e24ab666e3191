#include "shell/system/SessionBus.h"

#include <glib.h>
#include <sys/stat.h>

namespace wd::sessionbus {

namespace {

// The unescaped value of `key` in one address entry's "k=v,k=v" list; none when absent or
// badly escaped.
std::optional<std::string> valueOf(std::string_view params, std::string_view key) {
  while (!params.empty()) {
    const auto comma = params.find(',');
    const std::string_view pair = params.substr(0, comma);
    params = comma == std::string_view::npos ? std::string_view() : params.substr(comma + 1);
    const auto eq = pair.find('=');
    if (eq == std::string_view::npos || pair.substr(0, eq) != key) continue;
    const std::string escaped(pair.substr(eq + 1));
    g_autofree gchar* value = g_uri_unescape_string(escaped.c_str(), nullptr);
    if (!value) return std::nullopt;
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

bool addressIsGone(std::string_view address) {
  bool any = false;
  while (!address.empty()) {
    const auto semi = address.find(';');
    const std::string_view entry = address.substr(0, semi);
    address = semi == std::string_view::npos ? std::string_view() : address.substr(semi + 1);
    if (entry.empty()) continue;
    if (entry.substr(0, 5) != "unix:") return false;
    const auto path = valueOf(entry.substr(5), "path");
    struct stat st;
    if (!path || path->empty() || ::stat(path->c_str(), &st) == 0) return false;
    any = true;
  }
  return any;
}

std::optional<Replaced> replaceGoneAddress() {
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address || !addressIsGone(address)) return std::nullopt;
  Replaced r{address, std::string(kNoBus)};
  if (const char* runtime = g_getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    g_autofree gchar* escaped = g_uri_escape_string(runtime, "/", FALSE);
    const std::string own = std::string("unix:path=") + escaped + "/bus";
    if (!addressIsGone(own)) r.now = own;
  }
  g_setenv("DBUS_SESSION_BUS_ADDRESS", r.now.c_str(), TRUE);
  return r;
}

}  // namespace wd::sessionbus
