#pragma once
// Main-loop helpers for the network tests. Deadlines only bound a test that would otherwise hang;
// no test asserts how long anything took.
#include <glib.h>

#include <functional>

namespace wd::test {

// Iterates the default main context until `done` is true or `limitSeconds` have passed; answers
// `done()`.
inline bool runLoopUntil(const std::function<bool()>& done, double limitSeconds = 30) {
  const gint64 end = g_get_monotonic_time() + static_cast<gint64>(limitSeconds * G_USEC_PER_SEC);
  guint tick = g_timeout_add(
      50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return done();
}

// Lets the loop run for `seconds` (to show that nothing more happens).
inline void runLoopFor(double seconds) {
  runLoopUntil([] { return false; }, seconds);
}

}  // namespace wd::test
