#include "shell/commands/DesktopCommand.h"

#include "bridge/Exports.h"
#include "bridge/ScriptObjectRegistry.h"
#include "shell/ShellContext.h"
#include "shell/commands/AccountCommand.h"
#include "shell/commands/Clipboard.h"
#include "shell/commands/Defaults.h"
#include "shell/commands/Dialog.h"
#include "shell/commands/Dock.h"
#include "shell/commands/File.h"
#include "shell/commands/Fonts.h"
#include "shell/commands/Menu.h"
#include "shell/commands/Sound.h"
#include "shell/commands/Notify.h"
#include "shell/commands/StatusItem.h"
#include "shell/commands/Task.h"
#include "shell/commands/Window.h"
#include "shell/cookies/EngineCookies.h"
#include "shell/window/WebContext.h"
#include "shell/window/WebWindow.h"
#include "shell/window/WindowController.h"

namespace wd {

DesktopCommand::DesktopCommand(std::weak_ptr<bridge::WindowHandle> window)
    : bridge::Command(std::move(window)) {}

const bridge::ClassInfo& DesktopCommand::scriptClass() const {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<DesktopCommand>("DesktopCommand")
          .method("publishAppReady", &DesktopCommand::publishAppReady)
          .method("preWebSocket:", &DesktopCommand::preWebSocket)
          .build();
  return info;
}

void DesktopCommand::publishAppReady() {
  if (auto window = std::dynamic_pointer_cast<WebWindow>(windowController()))
    window->pageEvents().pageReady();
}

void DesktopCommand::preWebSocket(const std::string& url) {
  if (auto window = std::dynamic_pointer_cast<WindowController>(windowController()))
    window->environment().web.cookies().injectCookiesForWebSocket(url);
}

void registerShellScriptClasses(ShellContext& context) {
  auto& registry = context.scriptClasses();
  registry.registerClass<DesktopCommand>("DesktopCommand");
  registry.registerClass<File>("File");
  registry.registerClass<Dialog>("Dialog");
  registry.registerClass<Task>("Task");
  registry.registerClass("AccountCommand", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<AccountCommand>(w, context);
  });
  registry.registerClass("Defaults", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<Defaults>(w, context);
  });
  // Installed on every MacGap by the window's delegate.
  registry.registerClass("Window", [](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<Window>(std::dynamic_pointer_cast<WebWindow>(w));
  });
  registry.registerClass(
      "Menu",
      [&context](std::shared_ptr<bridge::WindowHandle>) -> std::shared_ptr<bridge::ScriptObject> {
        return Menu::mainMenu(context);
      });
  registry.registerClass<Sound>("Sound");
  registry.registerClass("Clipboard", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<Clipboard>(w, context.clipboard());
  });
  registry.registerClass<Fonts>("Fonts");
  registry.registerClass("Notify", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<Notify>(w, context);
  });
  registry.registerClass("Dock", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<Dock>(w, context);
  });
  registry.registerClass<StatusItem>("StatusItem");
}

}  // namespace wd
