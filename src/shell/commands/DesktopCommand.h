#pragma once
// MacGap.DesktopCommand: the product-specific services of the hosted web client: the signal
// that the web client has finished its start-up (publishAppReady), the WebSocket cookie hand-over
// (preWebSocket), opening a file from the network in its default application (openInApp), the
// launcher badge, child windows the page scripts, the user's language, the state of the Out of
// Office, Message and File menus, notifications with a callback, the application version, the
// About window and update checks.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class AppDelegate;
class ShellContext;

class DesktopCommand : public bridge::Command {
 public:
  // Members that need the context or the application delegate do nothing without one.
  explicit DesktopCommand(std::weak_ptr<bridge::WindowHandle> window,
                          ShellContext* context = nullptr,
                          std::function<AppDelegate*()> delegate = {});
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // {url}: downloads the URL into the user's private temporary folder (the URL's last path
  // component as the name, replacing an earlier file of that name once the new one is
  // complete) and opens it in its default application. Bad arguments do nothing.
  void openInApp(std::optional<bridge::Dictionary> options);
  // The download of openInApp has finished: opens the file at `path`.
  void downloadDidFinish(const std::string& path);

  // The page of this object's window has finished its start-up ("appReady"): the events held
  // for that page are delivered, and so are the main window's (whichever page reports first).
  void publishAppReady();
  // The page is about to open a WebSocket to `url`: the cookie store's cookies for it go into
  // the engine's jar for the handshake (EngineCookies::injectCookiesForWebSocket).
  void preWebSocket(const std::string& url);

  void setDockBadge(std::optional<std::string> label);
  // The window the page has just opened for these options (the page side opens it: the member
  // is a window-opening one, and the page receives the child's `window`): "name" becomes its
  // title, "attributes" {left, top, width, height} replace the parts of its frame they give,
  // in the page's bottom-left coordinates, once the window is about to be shown.
  void openChild(std::optional<bridge::Dictionary> options);
  std::string getDefaultLocale() const;
  // "true" (exactly) checks the application menu's "Out of Office" item, anything else clears
  // it.
  void setOutOfOfficeMenuState(std::optional<std::string> state);
  // Enables the menu bar's "Message" menu for a non-zero flag, disables it otherwise.
  void enableMessageMenu(int flag);
  // Of the "File" menu's items whose title begins with "New", the one titled `title` gets
  // Control-N (the primary modifier standing in for Command) and the others lose their key.
  void setDefaultNewItemShortcut(std::optional<std::string> title);
  // A desktop notification with the options' "title" and "body", known by `id`; clicking it
  // runs `callback` (its source text) with the id in the main window's page. A notification of
  // the same id still shown is replaced.
  void showNotificationIdCallback(std::optional<bridge::Dictionary> options,
                                  std::optional<std::string> id,
                                  std::optional<std::string> callback);
  // Withdraws the delivered notifications known by `id`.
  void dismissNotification(std::optional<std::string> id);
  std::string getAppVersion() const;
  void openAboutWindow();
  void startUpdateCheckerWith(std::optional<std::string> server);

 private:
  ShellContext* context_;
  std::function<AppDelegate*()> delegate_;
};

// Registers the shell's script classes (DesktopCommand, File, Dialog, Task, Defaults, Sound,
// Clipboard, Fonts, Notify, Dock, StatusItem, and Window and Menu, which every window's delegate
// installs) with the context's class registry; objects that use a service of the context get it
// from there, and DesktopCommand reaches the application delegate through `delegate` (called
// when needed: the delegate is made after the classes are registered).
void registerShellScriptClasses(ShellContext& context, std::function<AppDelegate*()> delegate = {});

}  // namespace wd
