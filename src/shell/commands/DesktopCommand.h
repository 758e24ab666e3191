#pragma once
// MacGap.DesktopCommand: the product-specific services of the hosted web client: the signal
// that the web client has finished its start-up (publishAppReady), the WebSocket cookie hand-over
// (preWebSocket), opening a file from the network in its default application (openInApp), and
// the menus, badge, notifications and child windows the client asks for.
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class ShellContext;

class DesktopCommand : public bridge::Command {
 public:
  // Without a context the members that need the application's services do nothing.
  explicit DesktopCommand(std::weak_ptr<bridge::WindowHandle> window,
                          ShellContext* context = nullptr);
  const bridge::ClassInfo& scriptClass() const override;

  // {url}: downloads the URL into the user's private temporary folder (the URL's last path
  // component as the name, replacing an earlier file of that name once the new one is
  // complete) and opens it in its default application. Bad arguments do nothing.
  void openInApp(std::optional<bridge::Dictionary> options);
  // The download of openInApp has finished: opens the file at `path`.
  void downloadDidFinish(const std::string& path);

  // The page of this object's window has finished its start-up ("appReady"): the events held
  // for that page are delivered. Other windows' pages are not affected.
  void publishAppReady();
  // The page is about to open a WebSocket to `url`: the cookie store's cookies for it go into
  // the engine's jar for the handshake (EngineCookies::injectCookiesForWebSocket).
  void preWebSocket(const std::string& url);

 private:
  ShellContext* context_;
};

// Registers the shell's script classes (DesktopCommand, File, Dialog, Task, Defaults, Sound,
// Clipboard, Fonts, Notify, Dock, StatusItem, and Window and Menu, which every window's delegate
// installs) with the context's class registry; objects that use a service of the context get it
// from there.
void registerShellScriptClasses(ShellContext& context);

}  // namespace wd
