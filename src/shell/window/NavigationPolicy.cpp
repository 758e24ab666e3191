// The navigation rules of a web window, on URL text only (see NavigationPolicy.h).
#include "shell/window/NavigationPolicy.h"

#include <glib.h>

#include <memory>
#include <string_view>

namespace wd::navigation {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}
bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}
std::string lower(const char* text) {
  if (!text) return {};
  std::unique_ptr<gchar, decltype(&g_free)> down(g_ascii_strdown(text, -1), g_free);
  return down.get();
}

}  // namespace

UrlParts parseUrl(const std::string& url) {
  UrlParts parts;
  if (url.find('\0') != std::string::npos) return parts;
  // Relaxed parsing takes what a web engine sends. The path is percent-decoded (an escaped NUL
  // makes the URL unreadable), so an escaped letter cannot slip past a path rule.
  GUri* parsed =
      g_uri_parse(url.c_str(), GUriFlags(G_URI_FLAGS_NON_DNS | G_URI_FLAGS_PARSE_RELAXED), nullptr);
  if (!parsed) return parts;
  parts.valid = true;
  parts.scheme = lower(g_uri_get_scheme(parsed));
  parts.host = lower(g_uri_get_host(parsed));
  if (const char* path = g_uri_get_path(parsed)) parts.path = path;
  g_uri_unref(parsed);
  return parts;
}

Decision decide(const std::string& url, const std::string& mainFrameUrl) {
  const UrlParts request = parseUrl(url);
  const std::string mainHost = parseUrl(mainFrameUrl).host;
  const std::string& scheme = request.scheme;
  if (scheme == "file" || scheme == "about" || scheme == "ws" || scheme == "wss")
    return Decision::Use;
  if (startsWith(request.path, "/webmail/api/download/source")) return Decision::Use;
  if (!request.host.empty() && startsWith(request.host, kFeedbackHost)) return Decision::Use;
  if (!mainHost.empty() && mainHost == kFeedbackHost) return Decision::Use;
  if (!request.host.empty() && startsWith(request.host, kWebAssistHost)) return Decision::Use;
  if (!mainHost.empty() && mainHost == kWebAssistHost) return Decision::Use;
  if (startsWith(request.path, "/webmail/api/download/attachment/") ||
      startsWith(request.path, "/webmail/api/jsonrpc/download"))
    return Decision::Download;
  if (request.valid && !request.host.empty() && !endsWith(request.path, "/webmail/blank.html"))
    return Decision::OpenExternal;
  return Decision::Ignore;
}

Decision decideNewWindow(ActionKind kind) {
  return kind == ActionKind::Other ? Decision::Use : Decision::OpenExternal;
}

}  // namespace wd::navigation
