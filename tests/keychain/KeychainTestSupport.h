#pragma once
// Keychain test helpers: the loop run until the store has no request outstanding, and
// secret-tool on the test session's keyring to see (and change) what the program stored.
#include <gio/gio.h>

#include <optional>
#include <string>
#include <vector>

#include "keychain/PDKeychainBindingsController.h"
#include "support/Loop.h"

namespace wd::test {

inline constexpr const char* kService = "com.tovik.WendrelDesktop";

inline bool settle(const PDKeychainBindingsController& store) {
  return waitFor([&] { return store.pendingRequests() == 0; });
}

// secret-tool's output, none when it failed.
inline std::optional<std::string> secretTool(std::vector<std::string> args,
                                             const std::string& input = {}) {
  args.insert(args.begin(), "secret-tool");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  g_autoptr(GSubprocess) tool = g_subprocess_newv(
      argv.data(),
      static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                    G_SUBPROCESS_FLAGS_STDERR_SILENCE),
      nullptr);
  g_autofree gchar* out = nullptr;
  if (!tool ||
      !g_subprocess_communicate_utf8(tool, input.c_str(), nullptr, &out, nullptr, nullptr) ||
      !g_subprocess_get_successful(tool))
    return std::nullopt;
  return out ? out : "";
}

inline std::optional<std::string> lookupOutside(const std::string& key) {
  return secretTool({"lookup", "service", kService, "account", key});
}

}  // namespace wd::test
