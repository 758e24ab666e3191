#pragma once
// Keychain test helpers: the loop run until the store has no request outstanding, and
// secret-tool on the test session's keyring to see (and change) what the program stored.
#include <optional>
#include <string>
#include <vector>

#include "core/GLibPtr.h"
#include "keychain/PDKeychainBindingsController.h"
#include "support/Loop.h"
#include "support/Process.h"

namespace wd::test {

inline constexpr const char* kService = "com.tovik.WendrelDesktop";

inline bool settle(const PDKeychainBindingsController& store) {
  return waitFor([&] { return store.pendingRequests() == 0; });
}

// secret-tool's output, none when it failed.
inline std::optional<std::string> secretTool(const std::vector<std::string>& args,
                                             const std::string& input = {}) {
  std::string line = "secret-tool";
  for (const auto& a : args) line += std::string(" ") + GCharPtr(g_shell_quote(a.c_str())).get();
  const ProcessResult r = runProcess(line, input);
  return r.status == 0 ? std::optional(r.out) : std::nullopt;
}

inline std::optional<std::string> lookupOutside(const std::string& key) {
  return secretTool({"lookup", "service", kService, "account", key});
}

}  // namespace wd::test
