#include "shell/commands/Notify.h"

#include "bridge/Exports.h"
#include "shell/ShellContext.h"
#include "shell/commands/NotificationPosting.h"
#include "shell/window/WebWindow.h"

namespace wd {

Notify::Notify(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context)
    : bridge::Command(std::move(window)), context_(context) {}

const bridge::ClassInfo& Notify::scriptClass() const {
  static const bridge::ClassInfo& info = bridge::ClassBuilder<Notify>("Notify")
                                             .method("notify:", &Notify::notify)
                                             .method("close:", &Notify::close)
                                             .property("notifications", &Notify::notifications)
                                             .build();
  return info;
}

void Notify::notify(std::optional<bridge::Dictionary> options) {
  auto window = std::dynamic_pointer_cast<WebWindow>(windowController());
  notifications::post(options, context_.notifications(), window ? window->gtkWindow() : nullptr);
}

void Notify::close(std::optional<std::string> id) {
  if (id) notifications::withdraw(context_.notifications(), *id);
}

}  // namespace wd
