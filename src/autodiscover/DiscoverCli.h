#pragma once
// `wendrel-desktop --discover ADDRESS`: one autodiscovery search from the command line.
#include <string>
#include <vector>

namespace wd {

struct DiscoverOptions {
  std::string address;
  int timeoutSeconds = 30;
  std::vector<std::string> trustedHosts;
};

// Reads the password as one line from standard input, runs the search on a main loop, prints
// the outcome dictionary as one JSON object and returns the exit status (0 success, 2 invalid
// credentials, 3 autodiscovery failed, 64 usage error); a failure also gets one line on standard
// error saying why.
int runDiscoverCommand(const DiscoverOptions& options);

}  // namespace wd
