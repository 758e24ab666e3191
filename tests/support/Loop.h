#pragma once
// Main-loop helpers: deadlines only bound a test that would otherwise hang; no test asserts how
// long anything took.
#include <glib.h>

namespace wd::test {

// Runs the default main context until `condition` holds or `seconds` have passed; a short tick
// wakes the loop so that conditions changed outside it (other processes, files) are seen too.
template <class F>
bool waitFor(F condition, double seconds = 30) {
  const gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool met = false;
  while (!(met = condition()) && g_get_monotonic_time() < end)
    g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return met;
}

// Lets the loop run for `seconds` (to show that nothing more happens).
inline void runLoopFor(double seconds) {
  waitFor([] { return false; }, seconds);
}

// Runs what is already pending on the loop, without waiting for more.
inline void drainLoop(int limit = 1000) {
  for (int i = 0; i < limit && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

}  // namespace wd::test
