#include "shell/commands/DesktopCommand.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "bridge/Exports.h"
#include "bridge/ScriptObjectRegistry.h"
#include "bridge/wire/Utf.h"
#include "core/Bundle.h"
#include "shell/ShellContext.h"
#include "shell/app/AppDelegate.h"
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
#include "shell/menu/ApplicationMenu.h"
#include "shell/menu/KeyEquivalent.h"
#include "shell/menu/NativeMenu.h"
#include "shell/notifications/NotificationService.h"
#include "shell/system/Badge.h"
#include "shell/system/PreferredLanguage.h"
#include "shell/system/Workspace.h"
#include "shell/window/PageFrame.h"
#include "shell/window/WebContext.h"
#include "shell/window/WebWindow.h"
#include "shell/window/WindowController.h"

namespace wd {

namespace {

// The menu bar's top-level item titled `title` (the application menu is the first).
std::shared_ptr<NativeMenuItem> menuBarItem(ShellContext* context, const std::string& title) {
  ApplicationMenu* menus = context ? context->menus() : nullptr;
  auto root = menus ? menus->mainMenu() : nullptr;
  return root ? root->itemWithTitle(title) : nullptr;
}

std::string textOf(const bridge::Value& v) {
  const std::string* s = v.asString();
  return s ? *s : std::string();
}

}  // namespace

DesktopCommand::DesktopCommand(std::weak_ptr<bridge::WindowHandle> window, ShellContext* context,
                               std::function<AppDelegate*()> delegate)
    : bridge::Command(std::move(window)), context_(context), delegate_(std::move(delegate)) {}

const bridge::ClassInfo& DesktopCommand::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& DesktopCommand::exports() {
  using D = DesktopCommand;
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<D>("DesktopCommand")
          .summary(
              "The hosted web client's own services: start-up, cookies, child windows, menus, "
              "notifications, version and updates.")
          .method("publishAppReady", &D::publishAppReady)
          .doc({.summary = "The page finished its start-up: the events held for it come now."})
          .method("preWebSocket:", &D::preWebSocket)
          .doc({.summary = "Hands the application's cookies for the URL to the engine for a "
                           "WebSocket handshake (for 2 s).",
                .params = {"url"},
                .refused = "nothing happens"})
          .method("openInApp:", &D::openInApp)
          .doc(
              {.summary =
                   "Downloads the URL to a private folder and opens it in its default application.",
               .params = {"options: { url: string }"},
               .refused = "nothing happens"})
          .method("setDockBadge:", &D::setDockBadge)
          .doc({.summary = "Sets the launcher icon's badge (as `MacGap.Dock.addBadge`).",
                .params = {"label"},
                .refused = "the badge is removed"})
          .windowOpeningMethod("openChild:", &D::openChild)
          .doc({.summary = "Opens a secondary window on the URL (titled \"name\", placed by "
                           "\"attributes\") and gives its `window`.",
                .params = {"options: { url: string; name?: string; attributes?: { left?: number; "
                           "top?: number; width?: number; height?: number } }"},
                .refused = "undefined and no window"})
          .method("getDefaultLocale", &D::getDefaultLocale)
          .doc({.summary = "The language code of the user's first preferred language (\"en\")."})
          .method("setOutOfOfficeMenuState:", &D::setOutOfOfficeMenuState)
          .doc({.summary = "Checks the \"Out of Office\" menu item for exactly \"true\", clears it "
                           "otherwise.",
                .params = {"state"}})
          .method("openAboutWindow", &D::openAboutWindow)
          .doc({.summary = "Shows the About window."})
          .method("showNotification:id:callback:", &D::showNotificationIdCallback)
          .doc({.summary = "A desktop notification known by the id; clicking it runs the "
                           "callback's source text in the main window's page.",
                .params = {"options: { title?: string; body?: string }", "id", "callback"},
                .refused = "without an id it can be neither replaced nor withdrawn"})
          .method("dismissNotification:", &D::dismissNotification)
          .doc({.summary = "Withdraws the notifications known by the id.",
                .params = {"id"},
                .refused = "nothing happens"})
          .method("getAppVersion", &D::getAppVersion)
          .doc({.summary = "The application's version."})
          .method("startUpdateCheckerWith:", &D::startUpdateCheckerWith)
          .doc({.summary = "Starts the update checks against the server.",
                .params = {"server"},
                .refused = "nothing happens"})
          .method("enableMessageMenu:", &D::enableMessageMenu)
          .doc({.summary = "Enables the Message menu for a non-zero flag, disables it otherwise.",
                .params = {"flag"}})
          .method("setDefaultNewItemShortcut:", &D::setDefaultNewItemShortcut)
          .doc({.summary = "Gives Control-N to the File menu's \"New…\" item of this title.",
                .params = {"title"},
                .refused = "no item keeps the key"})
          .build();
  return info;
}

void DesktopCommand::publishAppReady() {
  if (auto window = std::dynamic_pointer_cast<WebWindow>(windowController()))
    window->pageEvents().pageReady();
  // The main window's held events (mail links, files, menu commands) go out when any page of
  // the application reports ready, a secondary window's included.
  if (AppDelegate* delegate = delegate_ ? delegate_() : nullptr)
    if (auto main = delegate->mainWindow()) main->pageEvents().pageReady();
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

void DesktopCommand::setDockBadge(std::optional<std::string> label) {
  if (context_) context_->badge().setLabel(label.value_or(""));
}

void DesktopCommand::openChild(std::optional<bridge::Dictionary> options) {
  auto opener = std::dynamic_pointer_cast<WebWindow>(windowController());
  auto child = opener ? opener->takeOpenedWindow() : nullptr;
  GtkWindow* window = child ? child->gtkWindow() : nullptr;
  if (!window || !options) return;
  if (const std::string* name = options->get("name").asString()) {
    gtk_window_set_title(window, bridge::wire::boundedTitle(*name).c_str());
  }
  const bridge::Dictionary* attributes = options->get("attributes").asDictionary();
  if (!attributes) return;
  // The parts given, as whole numbers within what the window system holds.
  auto part = [attributes](const char* key) -> std::optional<double> {
    auto n = attributes->get(key).asNumber();
    if (!n || !std::isfinite(*n)) return std::nullopt;
    return std::trunc(std::clamp(*n, -1.0e6, 1.0e6));
  };
  const auto left = part("left"), top = part("top"), width = part("width"), height = part("height");
  std::weak_ptr<WebWindow> weak = child;
  child->whenReadyToShow([weak, left, top, width, height] {
    auto w = weak.lock();
    GtkWindow* gtk = w ? w->gtkWindow() : nullptr;
    if (!gtk) return;
    screen::Rect frame = screen::pageFrameOf(gtk);
    frame.x = left.value_or(frame.x);
    frame.y = top.value_or(frame.y);
    frame.width = width.value_or(frame.width);
    frame.height = height.value_or(frame.height);
    // Without a position the window manager still places the window.
    if (left || top)
      screen::setPageFrame(gtk, frame);
    else
      gtk_window_resize(gtk, std::max(1, int(frame.width)), std::max(1, int(frame.height)));
  });
}

std::string DesktopCommand::getDefaultLocale() const {
  return locale::preferredLanguageCode();
}

void DesktopCommand::setOutOfOfficeMenuState(std::optional<std::string> state) {
  auto appMenu = context_ && context_->menus() ? context_->menus()->mainMenu() : nullptr;
  if (!appMenu || appMenu->items().empty() || !appMenu->items().front()->submenu()) return;
  auto item = appMenu->items().front()->submenu()->itemWithTitle("Out of Office");
  if (!item) return;
  // The item is a check item: its mark is the boolean state of the action it calls.
  const std::string action = item->detailedAction();
  if (action.rfind("app.", 0) != 0) return;
  GAction* a = g_action_map_lookup_action(item->actions()->map(), action.c_str() + 4);
  const GVariantType* type = a ? g_action_get_state_type(a) : nullptr;
  if (!G_IS_SIMPLE_ACTION(a) || !type || !g_variant_type_equal(type, G_VARIANT_TYPE_BOOLEAN))
    return;
  g_simple_action_set_state(G_SIMPLE_ACTION(a), g_variant_new_boolean(state == "true"));
}

void DesktopCommand::enableMessageMenu(int flag) {
  if (auto item = menuBarItem(context_, "Message")) item->setEnabled(flag != 0);
}

void DesktopCommand::setDefaultNewItemShortcut(std::optional<std::string> title) {
  auto file = menuBarItem(context_, "File");
  if (!file || !file->submenu()) return;
  for (const auto& item : file->submenu()->items()) {
    if (item->isSeparator() || item->title().rfind("New", 0) != 0) continue;
    if (title && item->title() == *title)
      item->setKey("n", menukeys::kCommand);
    else if (!item->key().empty() || item->accelerator())
      item->setKey("", 0);
  }
}

void DesktopCommand::showNotificationIdCallback(std::optional<bridge::Dictionary> options,
                                                std::optional<std::string> id,
                                                std::optional<std::string> callback) {
  if (!context_) return;
  UserNotification n;
  if (options) {
    n.title = textOf(options->get("title"));
    n.informativeText = textOf(options->get("body"));
  }
  n.sound = false;
  if (id) {
    dismissNotification(id);
    n.identifier = *id;
    n.userInfo["identifier"] = *id;
    if (callback) n.userInfo["callback"] = *callback;
  }
  context_->notifications().deliver(std::move(n));
}

void DesktopCommand::dismissNotification(std::optional<std::string> id) {
  if (!context_ || !id) return;
  auto& service = context_->notifications();
  for (const auto& n : service.deliveredNotifications())
    if (n.identifier == id) service.removeDeliveredNotification(n.key);
}

std::string DesktopCommand::getAppVersion() const {
  return Bundle::main().version();
}

void DesktopCommand::openAboutWindow() {
  if (AppDelegate* d = delegate_ ? delegate_() : nullptr) d->openAboutWindow();
}

void DesktopCommand::startUpdateCheckerWith(std::optional<std::string> server) {
  AppDelegate* d = delegate_ ? delegate_() : nullptr;
  if (d && server) d->startUpdateCheckerWith(*server);
}

void registerShellScriptClasses(ShellContext& context, std::function<AppDelegate*()> delegate) {
  auto& registry = context.scriptClasses();
  registry.registerClass("DesktopCommand",
                         [&context, delegate](std::shared_ptr<bridge::WindowHandle> w) {
                           return std::make_shared<DesktopCommand>(w, &context, delegate);
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
