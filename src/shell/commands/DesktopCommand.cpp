#include "shell/commands/DesktopCommand.h"

#include <filesystem>

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
#include "shell/commands/Notify.h"
#include "shell/commands/Sound.h"
#include "shell/commands/StatusItem.h"
#include "shell/commands/Task.h"
#include "shell/commands/Window.h"
#include "shell/cookies/EngineCookies.h"
#include "shell/downloads/Downloads.h"
#include "shell/system/Workspace.h"
#include "shell/window/WebContext.h"
#include "shell/window/WebWindow.h"
#include "shell/window/WindowController.h"

namespace wd {

DesktopCommand::DesktopCommand(std::weak_ptr<bridge::WindowHandle> window, ShellContext* context)
    : bridge::Command(std::move(window)), context_(context) {}

const bridge::ClassInfo& DesktopCommand::scriptClass() const {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<DesktopCommand>("DesktopCommand")
          .method("publishAppReady", &DesktopCommand::publishAppReady)
          .method("preWebSocket:", &DesktopCommand::preWebSocket)
          .method("openInApp:", &DesktopCommand::openInApp)
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

void DesktopCommand::openInApp(std::optional<bridge::Dictionary> options) {
  const std::string* url = options ? options->get("url").asString() : nullptr;
  if (!context_ || !url || url->empty()) return;
  const auto folder = Downloads::temporaryDirectory();
  if (!folder) return;
  const std::string destination =
      (std::filesystem::path(*folder) / Downloads::proposedFileName(*url)).string();
  auto self = std::static_pointer_cast<DesktopCommand>(shared_from_this());
  context_->downloads().downloadFrom(
      *url, destination, [self](const std::string& path) { self->downloadDidFinish(path); },
      std::dynamic_pointer_cast<WebWindow>(windowController()));
}

void DesktopCommand::downloadDidFinish(const std::string& path) {
  if (context_) context_->workspace().openFile(path);
}

void registerShellScriptClasses(ShellContext& context) {
  auto& registry = context.scriptClasses();
  registry.registerClass("DesktopCommand", [&context](std::shared_ptr<bridge::WindowHandle> w) {
    return std::make_shared<DesktopCommand>(w, &context);
  });
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
