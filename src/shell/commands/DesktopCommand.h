#pragma once
// MacGap.DesktopCommand: the product-specific services of the hosted web client. For now the
// signal that the web client has finished its start-up (publishAppReady).
#include <string>

#include "bridge/Command.h"

namespace wd {

class ShellContext;

class DesktopCommand : public bridge::Command {
 public:
  explicit DesktopCommand(std::weak_ptr<bridge::WindowHandle> window);
  const bridge::ClassInfo& scriptClass() const override;

  // The page of this object's window has finished its start-up ("appReady"): the events held
  // for that page are delivered. Other windows' pages are not affected.
  void publishAppReady();
  // The page is about to open a WebSocket to `url`: the cookie store's cookies for it go into
  // the engine's jar for the handshake (EngineCookies::injectCookiesForWebSocket).
  void preWebSocket(const std::string& url);
};

// Registers the shell's script classes (DesktopCommand, File, Dialog, Task, Defaults, Sound,
// Clipboard, Fonts, Notify, Dock, StatusItem, and Window and Menu, which every window's delegate
// installs) with the context's class registry; objects that use a service of the context get it
// from there.
void registerShellScriptClasses(ShellContext& context);

}  // namespace wd
