#pragma once
// Runs the GTK application (single instance over D-Bus) until it quits.
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;

namespace wd {

class AppDelegate;

struct ApplicationOptions {
  std::string webClientDirectory;        // empty: the bundled page
  std::vector<std::string> targets;      // mailto: URIs and files to open
  std::vector<std::string> passThrough;  // options for GTK / GApplication
};

// Called once the primary instance has launched, with its delegate and bus connection (none
// without a session bus); what it returns is kept until the application shuts down. The test
// build of the executable attaches its test hooks here; the shipped one passes none.
using StartupExtension =
    std::function<std::shared_ptr<void>(AppDelegate& delegate, GDBusConnection* connection)>;

int runApplication(const ApplicationOptions& options, StartupExtension extension = {});

}  // namespace wd
