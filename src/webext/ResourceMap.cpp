// Mapping of the page's "/webmail/resource/" files into the web client folder (see
// ResourceMap.h).
#include "webext/ResourceMap.h"

#include <glib.h>

#include <memory>
#include <string_view>

namespace wd::webext {

namespace {
struct GFree {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;
struct UriUnref {
  void operator()(GUri* uri) const { g_uri_unref(uri); }
};

bool hasDotDotSegment(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}
}  // namespace

std::optional<std::string> mapResourceURI(const std::string& uri, const std::string& folder) {
  static constexpr std::string_view kPrefix = "/webmail/resource/";
  if (folder.empty() || uri.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<GUri, UriUnref> parsed(
      g_uri_parse(uri.c_str(), GUriFlags(G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS), nullptr));
  if (!parsed) return std::nullopt;
  const char* scheme = g_uri_get_scheme(parsed.get());
  if (!scheme || g_ascii_strcasecmp(scheme, "file") != 0) return std::nullopt;
  // The path as a file name: escapes decoded (an escaped NUL refuses it).
  GCharPtr path(g_uri_unescape_string(g_uri_get_path(parsed.get()), nullptr));
  if (!path) return std::nullopt;
  const std::string_view decoded(path.get());
  if (decoded.substr(0, kPrefix.size()) != kPrefix || hasDotDotSegment(decoded))
    return std::nullopt;
  std::string file = folder;
  while (file.size() > 1 && file.back() == '/') file.pop_back();
  file += decoded;
  GCharPtr mapped(g_filename_to_uri(file.c_str(), nullptr, nullptr));
  if (!mapped) return std::nullopt;
  return std::string(mapped.get());
}

}  // namespace wd::webext
