#include "autodiscover/DiscoverCli.h"

#include <cstdio>

namespace wd {

int runDiscoverCommand(const DiscoverOptions& options) {
  (void)options;
  std::fputs("autodiscovery is not available yet\n", stderr);
  return 3;
}

}  // namespace wd
