#include "update/UpdateQuery.h"

#include <glib.h>
#include <sys/utsname.h>

#include "core/GLibPtr.h"
#include "update/Release.h"

namespace wd::update {

std::optional<std::string> createComponentsFrom(const std::string& serviceURL,
                                                const std::string& server,
                                                const std::string& client,
                                                const std::string& channel,
                                                const std::string& target) {
  if (!isWebURL(serviceURL)) return std::nullopt;
  GUri* uri = g_uri_parse(serviceURL.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  if (!uri) return std::nullopt;
  const std::string text =
      "server=" + server + "&client=" + client + "&target=" + target + "&channel=" + channel;
  // Sub-delimiters plus ":@/?" are what a query may hold unescaped.
  GCharPtr query(g_uri_escape_string(text.c_str(), "!$&'()*+,;=:@/?", FALSE));
  GUri* withQuery = g_uri_build(G_URI_FLAGS_ENCODED, g_uri_get_scheme(uri), g_uri_get_userinfo(uri),
                                g_uri_get_host(uri), g_uri_get_port(uri), g_uri_get_path(uri),
                                query.get(), g_uri_get_fragment(uri));
  GCharPtr result(g_uri_to_string(withQuery));
  g_uri_unref(withQuery);
  g_uri_unref(uri);
  return std::string(result.get());
}

std::string targetForMachine(const std::string& machine) {
  if (machine == "x86_64" || machine == "amd64") return "linux-x64";
  if (machine == "aarch64" || machine == "arm64") return "linux-arm64";
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "linux-x86";
  return "linux-" + machine;
}

std::string updateTarget() {
  // The architecture this program was built for decides which release fits it.
#if defined(__x86_64__)
  return targetForMachine("x86_64");
#elif defined(__aarch64__)
  return targetForMachine("aarch64");
#else
  struct utsname name {};
  if (uname(&name) != 0) return targetForMachine("unknown");
  return targetForMachine(name.machine);
#endif
}

}  // namespace wd::update
