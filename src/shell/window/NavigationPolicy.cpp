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
  // The URL is split as sent, without resolving anything: the path stays escaped and keeps its
  // dot segments, so the segments compared are the ones the server receives.
  gchar *scheme = nullptr, *host = nullptr, *path = nullptr;
  if (!g_uri_split(
          url.c_str(),
          GUriFlags(G_URI_FLAGS_NON_DNS | G_URI_FLAGS_PARSE_RELAXED | G_URI_FLAGS_ENCODED_PATH),
          &scheme, nullptr, &host, nullptr, &path, nullptr, nullptr, nullptr) ||
      !scheme) {
    g_free(scheme), g_free(host), g_free(path);
    return parts;
  }
  parts.scheme = lower(scheme);
  parts.host = lower(host);
  const std::string raw = path ? path : "";
  g_free(scheme), g_free(host), g_free(path);
  // Each segment decoded on its own. A segment that is a dot segment, or that decodes to one or
  // to text holding "/" or "\\" (or an escaped NUL, or a broken escape) would name another
  // place once a server decodes it than the segments the rules see: such a URL is unreadable.
  std::string decoded;
  std::size_t begin = 0;
  while (true) {
    const std::size_t slash = raw.find('/', begin);
    const std::string segment = raw.substr(begin, slash - begin);
    std::unique_ptr<gchar, decltype(&g_free)> text(
        g_uri_unescape_segment(segment.data(), segment.data() + segment.size(), "/\\"), g_free);
    if (!text || segment == "." || segment == ".." || g_strcmp0(text.get(), ".") == 0 ||
        g_strcmp0(text.get(), "..") == 0)
      return UrlParts{};
    decoded += text.get();
    if (slash == std::string::npos) break;
    decoded += '/';
    begin = slash + 1;
  }
  parts.valid = true;
  parts.path = std::move(decoded);
  return parts;
}

bool isSiteHost(const std::string& host, std::string_view site) {
  return host == site || (host.size() > site.size() && endsWith(host, site) &&
                          host[host.size() - site.size() - 1] == '.');
}

Decision decide(const std::string& url, const std::string& mainFrameUrl) {
  const UrlParts request = parseUrl(url);
  const UrlParts main = parseUrl(mainFrameUrl);
  const std::string& scheme = request.scheme;
  if (scheme == "file" || scheme == "about" || scheme == "ws" || scheme == "wss")
    return Decision::Use;
  if (startsWith(request.path, "/webmail/api/download/source")) return Decision::Use;
  // The feedback and web-assist sites, over HTTPS only: the site's own host or a host below it;
  // a main frame showing the site itself may go anywhere.
  for (const char* site : {kFeedbackHost, kWebAssistHost}) {
    if (scheme == "https" && isSiteHost(request.host, site)) return Decision::Use;
    if (main.scheme == "https" && main.host == site) return Decision::Use;
  }
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
