#pragma once
// Keychain test helpers: the main loop turned until the store has no request outstanding, and
// secret-tool run against the test session's keyring to see (and change) what the program
// stored from outside it.
#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "keychain/PDKeychainBindingsController.h"
#include "shell/NotificationDaemon.h"  // waitFor

namespace wd::test {

inline constexpr const char* kService = "com.tovik.WendrelDesktop";

inline bool settle(const PDKeychainBindingsController& store) {
  return waitFor([&] { return store.pendingRequests() == 0; });
}

struct ToolResult {
  bool ok = false;
  std::string out;
};

// secret-tool with `args`; `input` is its standard input.
inline ToolResult secretTool(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), "secret-tool");
  // Through the shell: g_spawn_sync gives the child no standard input of ours.
  g_autofree gchar* inputFile = nullptr;
  int fd = g_file_open_tmp("secret-XXXXXX", &inputFile, nullptr);
  if (fd < 0) return {};
  const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
  close(fd);
  if (!written) return {};
  std::string command;
  for (auto& a : args) {
    g_autofree gchar* quoted = g_shell_quote(a.c_str());
    command += std::string(quoted) + " ";
  }
  g_autofree gchar* quotedInput = g_shell_quote(inputFile);
  command += std::string("< ") + quotedInput;
  const char* shellArgv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  g_autofree gchar* out = nullptr;
  gint status = 0;
  const bool ran =
      g_spawn_sync(nullptr, const_cast<char**>(shellArgv), nullptr, G_SPAWN_STDERR_TO_DEV_NULL,
                   nullptr, nullptr, &out, nullptr, &status, nullptr);
  g_unlink(inputFile);
  return {ran && g_spawn_check_wait_status(status, nullptr), out ? out : ""};
}

inline std::optional<std::string> lookupOutside(const std::string& key) {
  auto r = secretTool({"lookup", "service", kService, "account", key});
  if (!r.ok) return std::nullopt;
  return r.out;
}

inline int itemCountOutside(const std::string& key) {
  auto r = secretTool({"search", "--all", "service", kService, "account", key});
  int count = 0;
  for (std::size_t at = 0; (at = r.out.find("[/", at)) != std::string::npos; ++at)
    if (at == 0 || r.out[at - 1] == '\n') ++count;
  return count;
}

}  // namespace wd::test
