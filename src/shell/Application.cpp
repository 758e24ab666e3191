#include "shell/Application.h"

#include "core/Bundle.h"
#include "core/Log.h"

namespace wd {

int runApplication(const ApplicationOptions& options) {
  (void)options;
  logging::setup();
  WD_LOG_INFO("Starting {} {}", Bundle::main().name(), Bundle::main().version());
  return 0;
}

}  // namespace wd
