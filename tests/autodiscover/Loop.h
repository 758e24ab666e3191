#pragma once
// The earlier name of the shared main-loop wait (support/Loop.h), for the tests that use it.
#include <functional>

#include "support/Loop.h"

namespace wd::test {

inline bool runLoopUntil(const std::function<bool()>& done, double limitSeconds = 30) {
  return waitFor(done, limitSeconds);
}

}  // namespace wd::test
