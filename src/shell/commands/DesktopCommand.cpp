#include "shell/commands/DesktopCommand.h"

#include "bridge/Exports.h"
#include "bridge/ScriptObjectRegistry.h"
#include "core/NotificationCenter.h"
#include "shell/commands/Dialog.h"
#include "shell/commands/File.h"
#include "shell/commands/Task.h"

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
  NotificationCenter::defaultCenter().post("appReady");
}

void registerShellScriptClasses() {
  bridge::ScriptObjectRegistry::shared().registerClass<DesktopCommand>("DesktopCommand");
  bridge::ScriptObjectRegistry::shared().registerClass<File>("File");
  bridge::ScriptObjectRegistry::shared().registerClass<Dialog>("Dialog");
  bridge::ScriptObjectRegistry::shared().registerClass<Task>("Task");
}

}  // namespace wd
