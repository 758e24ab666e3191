#pragma once
// The earlier name of the shared main-loop wait (support/Loop.h), for the tests that use it.
#include "support/Loop.h"

namespace wd::test {
template <class F>
bool runLoopUntil(F done, double seconds = 30) {
  return waitFor(done, seconds);
}
}  // namespace wd::test
