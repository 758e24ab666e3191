// The rule for documents that may receive MacGap (see DocumentPolicy.h).
#include "shell/window/DocumentPolicy.h"

#include <glib.h>

#include <memory>

#include "core/UserDefaults.h"
#include "shell/window/WebClient.h"

namespace wd::documentpolicy {

namespace fs = std::filesystem;

namespace {

struct UriUnref {
  void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using UriPtr = std::unique_ptr<GUri, UriUnref>;
struct GFree {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct Authority {
  std::string host;  // lower case
  int port = -1;     // -1: none given
};

// Host and port of an https URL; false for other schemes and URLs without a host.
bool httpsAuthority(const std::string& text, Authority& out) {
  // Browsers read a backslash as a path separator where GUri takes it as part of the user
  // information ("https://evil.com\@mail.example.com/"); a URL the engine reports never holds
  // one, so any is refused.
  if (text.find('\\') != std::string::npos) return false;
  UriPtr uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr));
  if (!uri) return false;
  const char* scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  if (!scheme || g_ascii_strcasecmp(scheme, "https") != 0 || !host || !*host) return false;
  out.host = GCharPtr(g_ascii_strdown(host, -1)).get();
  out.port = g_uri_get_port(uri.get());
  return true;
}

bool isInside(const fs::path& child, const fs::path& parent) {
  auto c = child.begin();
  for (auto p = parent.begin(); p != parent.end(); ++p, ++c) {
    if (p->empty()) continue;  // trailing separator
    if (c == child.end() || *c != *p) return false;
  }
  return c != child.end();
}

bool isAllowedFile(const std::string& url, const fs::path& pageDir) {
  if (pageDir.empty()) return false;
  // Query and fragment do not change the document's file.
  const std::string bare = url.substr(0, url.find_first_of("?#"));
  gchar* rawHost = nullptr;
  GCharPtr file(g_filename_from_uri(bare.c_str(), &rawHost, nullptr));
  GCharPtr host(rawHost);
  const bool local = !host || !*host || g_ascii_strcasecmp(host.get(), "localhost") == 0;
  if (!file || !local) return false;
  std::error_code ec;
  const fs::path doc = fs::weakly_canonical(fs::path(file.get()), ec);
  if (ec) return false;
  const fs::path publicDir = fs::weakly_canonical(pageDir / "public", ec);
  return !ec && isInside(doc, publicDir);
}

}  // namespace

bool isAllowedDocument(const std::string& url, const fs::path& pageDir,
                       const std::string& serverSetting, long long portSetting) {
  if (url.rfind("file:", 0) == 0) return isAllowedFile(url, pageDir);
  Authority doc;
  if (!httpsAuthority(url, doc)) return false;
  std::string setting = serverSetting;
  setting.erase(0, setting.find_first_not_of(" \t\r\n"));
  setting.erase(setting.find_last_not_of(" \t\r\n") + 1);
  if (setting.empty()) return false;
  if (setting.find("://") == std::string::npos) setting = "https://" + setting;
  Authority server;
  if (!httpsAuthority(setting, server)) return false;
  // An explicit port in the server text wins, else the port setting, else https's own.
  // (A port setting beyond 65535 matches no document.)
  const long long serverPort = server.port >= 0 ? server.port : portSetting > 0 ? portSetting : 443;
  const long long docPort = doc.port < 0 ? 443 : doc.port;
  return doc.host == server.host && docPort == serverPort;
}

bool isAllowedDocument(const std::string& url, const UserDefaults& defaults) {
  return isAllowedDocument(url, webclient::directory(),
                           defaults.stringForKey("MacGap_server").value_or(""),
                           defaults.integerForKey("MacGap_port"));
}

}  // namespace wd::documentpolicy
