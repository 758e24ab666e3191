#pragma once
// Child processes run to their end with text on their standard input: exit status and output.
#include <gio/gio.h>

#include <string>

#include "support/Loop.h"

namespace wd::test {

struct ProcessResult {
  int status = -1;  // -1: not started, ended by a signal, or still running at the deadline
  std::string out, err;
};

// Runs `commandLine` (shell quoting, no shell). With `serveLoop` the main loop runs meanwhile, so
// servers of this process answer the child; a child still running after 90 s is killed.
inline ProcessResult runProcess(const std::string& commandLine, const std::string& input = {},
                                bool serveLoop = false) {
  g_auto(GStrv) argv = nullptr;
  g_autoptr(GSubprocess) child = nullptr;
  if (g_shell_parse_argv(commandLine.c_str(), nullptr, &argv, nullptr))
    child = g_subprocess_newv(
        argv,
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                         G_SUBPROCESS_FLAGS_STDERR_PIPE),
        nullptr);
  if (!child) return {};
  g_autofree gchar *out = nullptr, *err = nullptr;
  if (!serveLoop) {
    g_subprocess_communicate_utf8(child, input.c_str(), nullptr, &out, &err, nullptr);
  } else {
    g_autoptr(GAsyncResult) done = nullptr;
    g_subprocess_communicate_utf8_async(
        child, input.c_str(), nullptr,
        [](GObject*, GAsyncResult* result, gpointer to) {
          *static_cast<GAsyncResult**>(to) = G_ASYNC_RESULT(g_object_ref(result));
        },
        &done);
    if (!waitFor([&] { return done != nullptr; }, 90)) g_subprocess_force_exit(child);
    if (waitFor([&] { return done != nullptr; }, 10))
      g_subprocess_communicate_utf8_finish(child, done, &out, &err, nullptr);
  }
  return {g_subprocess_get_if_exited(child) ? g_subprocess_get_exit_status(child) : -1,
          out ? out : "", err ? err : ""};
}

}  // namespace wd::test
