#include "shell/commands/DesktopCommand.h"

#include "bridge/Exports.h"
#include "bridge/ScriptObjectRegistry.h"
#include "shell/commands/Defaults.h"
#include "shell/commands/Dialog.h"
#include "shell/commands/File.h"
#include "shell/commands/Task.h"
#include "shell/window/WebWindow.h"

namespace wd {

DesktopCommand::DesktopCommand(std::weak_ptr<bridge::WindowHandle> window)
    : bridge::Command(std::move(window)) {}

const bridge::ClassInfo& DesktopCommand::scriptClass() const {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<DesktopCommand>("DesktopCommand")
          .method("publishAppReady", &DesktopCommand::publishAppReady)
          .build();
  return info;
}

void DesktopCommand::publishAppReady() {
  if (auto window = std::dynamic_pointer_cast<WebWindow>(windowController()))
    window->pageEvents().pageReady();
}

void registerShellScriptClasses(bridge::ScriptObjectRegistry& registry, ShellContext& context) {
  registry.registerClass<DesktopCommand>("DesktopCommand");
  registry.registerClass<File>("File");
  registry.registerClass<Dialog>("Dialog");
  registry.registerClass<Task>("Task");
  registry.registerClass("Defaults", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<Defaults>(w, context);
  });
}

}  // namespace wd
