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
  ProcessResult r;
  g_auto(GStrv) argv = nullptr;
  g_autoptr(GSubprocess) child = nullptr;
  if (g_shell_parse_argv(commandLine.c_str(), nullptr, &argv, nullptr))
    child = g_subprocess_newv(
        argv,
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                         G_SUBPROCESS_FLAGS_STDERR_PIPE),
        nullptr);
  if (!child) return r;
  struct Output {
    gchar *out = nullptr, *err = nullptr;
    bool done = false;
  } o;
  if (!serveLoop) {
    g_subprocess_communicate_utf8(child, input.c_str(), nullptr, &o.out, &o.err, nullptr);
  } else {
    g_subprocess_communicate_utf8_async(
        child, input.c_str(), nullptr,
        [](GObject* c, GAsyncResult* result, gpointer data) {
          auto* output = static_cast<Output*>(data);
          g_subprocess_communicate_utf8_finish(G_SUBPROCESS(c), result, &output->out, &output->err,
                                               nullptr);
          output->done = true;
        },
        &o);
    if (!waitFor([&] { return o.done; }, 90)) g_subprocess_force_exit(child);
    waitFor([&] { return o.done; }, 10);
  }
  r.out = o.out ? o.out : "";
  r.err = o.err ? o.err : "";
  g_free(o.out);
  g_free(o.err);
  if (g_subprocess_get_if_exited(child)) r.status = g_subprocess_get_exit_status(child);
  return r;
}

}  // namespace wd::test
