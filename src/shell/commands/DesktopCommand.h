#pragma once
// MacGap.DesktopCommand: the product-specific services of the hosted web client. For now the
// signal that the web client has finished its start-up (publishAppReady).
#include "bridge/Command.h"

namespace wd {

class DesktopCommand : public bridge::Command {
 public:
  explicit DesktopCommand(std::weak_ptr<bridge::WindowHandle> window);
  const bridge::ClassInfo& scriptClass() const override;

  // Posts the application notification "appReady": the held application events are delivered.
  void publishAppReady();
};

// Registers the shell's script classes (DesktopCommand, File, Dialog, Task) with the bridge's class
// registry.
void registerShellScriptClasses();

}  // namespace wd
