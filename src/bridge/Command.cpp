#include "bridge/Command.h"

namespace wd::bridge {

Command::Command(std::weak_ptr<WindowHandle> windowController)
    : windowController_(std::move(windowController)) {}

Command::Command(std::shared_ptr<ScriptPage> context) : jsContext_(std::move(context)) {}

Command::~Command() = default;

ScriptPage* Command::webView() const {
  if (auto w = windowController_.lock()) return w->scriptPage();
  return jsContext_.get();
}

}  // namespace wd::bridge
