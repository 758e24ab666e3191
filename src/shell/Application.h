#pragma once
// Runs the GTK application (single instance over D-Bus) until it quits.
#include <string>
#include <vector>

namespace wd {

struct ApplicationOptions {
  std::string webClientDirectory;        // empty: the bundled page
  std::vector<std::string> targets;      // mailto: URIs and files to open
  std::vector<std::string> passThrough;  // options for GTK / GApplication
};

int runApplication(const ApplicationOptions& options);

}  // namespace wd
