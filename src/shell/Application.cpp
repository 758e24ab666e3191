#include "shell/Application.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include "core/AtomicFile.h"
#include "core/Bundle.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "core/UserDefaults.h"
#include "keychain/LibsecretBackend.h"
#include "keychain/PDKeychainBindingsController.h"
#include "shell/ShellContext.h"
#include "shell/app/AppDelegate.h"
#include "shell/app/ApplicationControl.h"
#include "shell/app/MainMenu.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/media/GtkTextClipboard.h"
#include "shell/notifications/DesktopNotificationService.h"
#include "shell/system/ColorScheme.h"
#include "shell/system/SessionBus.h"
#include "shell/system/SystemEvents.h"
#include "shell/system/Workspace.h"
#include "shell/window/WebClient.h"
#include "shell/window/WebContext.h"
#include "shell/window/WindowController.h"
#include "update/Installer.h"

namespace wd {

namespace {

class WindowControllerFactory : public WindowFactory {
 public:
  explicit WindowControllerFactory(const std::optional<WindowEnvironment>& env) : env_(env) {}
  std::shared_ptr<WebWindow> makeMainWindow(const std::string& resourcePath, WindowHost&) override {
    return env_ ? WindowController::initWithURL(*env_, resourcePath) : nullptr;
  }
  std::shared_ptr<WebWindow> makeWindow(const std::string& url, WindowHost&) override {
    return env_ ? WindowController::initWithRequest(*env_, url) : nullptr;
  }

 private:
  const std::optional<WindowEnvironment>& env_;
};

// Everything the running application owns, made at start-up in the primary instance. Members
// are destroyed in reverse order: windows and their delegate first, then the web context, then
// the services the pages' objects use.
struct Shell {
  ApplicationOptions options;
  StartupExtension extension;
  std::shared_ptr<GtkApplicationControl> control;
  std::unique_ptr<ShellContext> context;
  std::unique_ptr<WebContext> web;
  std::optional<WindowEnvironment> environment;
  std::unique_ptr<WindowControllerFactory> windows;
  std::unique_ptr<AppDelegate> delegate;
  std::shared_ptr<MainMenu> menu;  // shared with the context
  std::unique_ptr<SystemEvents> systemEvents;
  std::unique_ptr<DesktopColorScheme> colorScheme;
  std::shared_ptr<void> extensionState;
  std::optional<sessionbus::Replaced> goneSessionBus;  // an address replaced before start-up
  guint signalSources[2] = {0, 0};
};

void chooseWebClient(const ApplicationOptions& options, UserDefaults& defaults) {
  if (!options.webClientDirectory.empty()) {
    if (webclient::isWebClientDirectory(options.webClientDirectory)) {
      webclient::setDirectory(options.webClientDirectory);
      return;
    }
    WD_LOG_INFO("The web client folder {} has no public/index.html; using the bundled page",
                options.webClientDirectory);
    return;
  }
  if (auto dir = webclient::directoryFromSettings(defaults)) webclient::setDirectory(*dir);
}

// SIGTERM and SIGINT quit as the Quit command does (windows hide, the frame is saved).
gboolean onQuitSignal(gpointer data) {
  auto* shell = static_cast<Shell*>(data);
  WD_LOG_INFO("Quit requested by a signal");
  if (shell->delegate)
    shell->delegate->terminate();
  else if (shell->control)
    shell->control->terminate();
  return G_SOURCE_CONTINUE;
}

void onStartup(GtkApplication* app, Shell* shell) {
  // Logging first: it must be in place before any other start-up step logs.
  logging::setup();
  // Says which installation runs (a relocated tree finds its resources beside its executable).
  WD_LOG_INFO("{} {} starting with the resources in {}", Bundle::main().name(),
              Bundle::main().version(), Bundle::main().resourcePath().string());
  g_set_application_name(Bundle::main().name().c_str());
  if (const auto& bus = shell->goneSessionBus; bus && bus->now == sessionbus::kNoBus)
    WD_LOG_WARN(
        "The session bus {} is gone (left from an earlier login?): running without one, so links "
        "are not handed to a running instance and notifications, the keyring and the status "
        "icon may be missing",
        bus->was);
  else if (bus)
    WD_LOG_WARN("The session bus {} is gone (left from an earlier login?): using {}", bus->was,
                bus->now);
  // Temporary files of the application's own writes that a kill interrupted.
  for (const auto& folder : {paths::configDirectory(), paths::stateDirectory()})
    if (const auto n = removeLeftoverTemporaries(folder))
      WD_LOG_INFO("Removed {} unfinished temporary file(s) from {}", n, folder.string());
  // The application's icon also where the desktop does not look: the share/icons folder of a
  // tree unpacked anywhere, and the source tree's desktop files when run from the build.
  const auto resources = Bundle::main().resourcePath();
  gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(),
                                    (resources.parent_path() / "icons").c_str());
  gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(), (resources / "desktop").c_str());
  // Windows and pages follow the desktop's light or dark style (asked for asynchronously).
  if (GtkSettings* settings = gtk_settings_get_default())
    shell->colorScheme = std::make_unique<DesktopColorScheme>(settings);
  // (The X11 display type by name: gdkx.h's X11 macros clash with names used here.)
  const GType x11 = g_type_from_name("GdkX11Display");
  if (GdkDisplay* display = gdk_display_get_default();
      display && !(x11 && G_TYPE_CHECK_INSTANCE_TYPE(display, x11)))
    WD_LOG_INFO(
        "Not running under X11 ({}): window moves are ignored, MacGap.idleTime is undefined and "
        "appActivated is not raised; start with GDK_BACKEND=x11 for them",
        G_OBJECT_TYPE_NAME(display));

  shell->control = std::make_shared<GtkApplicationControl>(app);
  // The menu's actions reach the delegate made below (none until then).
  shell->menu =
      std::make_shared<MainMenu>(G_ACTION_MAP(app), [shell] { return shell->delegate.get(); });
  if (auto layout = Bundle::main().pathForResource("MainMenu", "ui", "ui"))
    shell->menu->load(*layout);
  shell->context = std::make_unique<ShellContext>(ShellContext::Services{
      .application = shell->control,
      .notifications = std::make_shared<DesktopNotificationService>(),
      .workspace = std::make_shared<GioWorkspace>(),
      .defaults = &UserDefaults::standard(),
      .center = &NotificationCenter::defaultCenter(),
      .menus = shell->menu,
      .clipboard = std::make_shared<GtkTextClipboard>(),
      .keychain = std::make_shared<PDKeychainBindingsController>(
          Bundle::main().identifier(), std::make_shared<keychain::LibsecretBackend>()),
      .cookies = std::make_shared<BSHTTPCookieStorage>()});
  ShellContext& context = *shell->context;
  // The page's synchronous secure reads are answered from what this brings in.
  context.keychain().prefetch();
  registerShellScriptClasses(context, [shell] { return shell->delegate.get(); });
  chooseWebClient(shell->options, context.defaults());

  shell->web =
      std::make_unique<WebContext>(context.bridgeHost(), context.defaults(), context.cookies());
  shell->windows = std::make_unique<WindowControllerFactory>(shell->environment);
  shell->delegate = std::make_unique<AppDelegate>(context, *shell->windows);
  AppDelegate* delegate = shell->delegate.get();
  shell->environment.emplace(WindowEnvironment{
      context, *shell->web, *delegate,
      [delegate](std::shared_ptr<WebWindow> window) { return delegate->makeRootObject(window); }});

  gtk_application_set_menubar(app, shell->menu->model());
  delegate->setMainMenu(shell->menu.get());

  delegate->applicationWillFinishLaunching();
  if (auto main = delegate->mainWindow()) shell->control->setMainWindow(main->gtkWindow());
  shell->systemEvents = std::make_unique<SystemEvents>(context.center());
  if (shell->extension)
    shell->extensionState =
        shell->extension(*delegate, g_application_get_dbus_connection(G_APPLICATION(app)));
  delegate->applicationDidFinishLaunching();
  // The windows' icon. Finding it makes GTK read the icon themes' indexes (about 10 ms), which
  // loading the first page does not need: it is looked up once the main window is shown and its
  // page is loading, when the application is otherwise waiting for the web process.
  g_idle_add_full(
      G_PRIORITY_LOW,
      +[](gpointer) {
        gtk_window_set_default_icon_name(Bundle::main().identifier().c_str());
        return G_SOURCE_REMOVE;
      },
      nullptr, nullptr);
  // A version just installed by the update helper has started: the old one can go.
  update::acknowledgeStart();

  // A window getting the focus ends an attention request.
  g_signal_connect(app, "notify::active-window", G_CALLBACK(+[](GtkApplication* a, GParamSpec*) {
                     for (GList* l = gtk_application_get_windows(a); l; l = l->next)
                       gtk_window_set_urgency_hint(GTK_WINDOW(l->data), FALSE);
                   }),
                   nullptr);
  shell->signalSources[0] = g_unix_signal_add(SIGTERM, onQuitSignal, shell);
  shell->signalSources[1] = g_unix_signal_add(SIGINT, onQuitSignal, shell);
  // Closing the last window does not end the application: only Quit or terminate() do.
  g_application_hold(G_APPLICATION(app));
}

void onActivate(GtkApplication*, Shell* shell) {
  if (!shell->delegate) return;
  if (shell->delegate->applicationShouldHandleReopen(shell->control->hasVisibleWindows()))
    shell->control->activate();
}

void onOpen(GtkApplication*, GFile** files, gint count, const gchar*, Shell* shell) {
  if (!shell->delegate) return;
  std::vector<std::string> paths;
  for (gint i = 0; i < count; ++i) {
    if (g_file_is_native(files[i])) {
      if (g_autofree gchar* path = g_file_get_path(files[i])) {
        paths.emplace_back(path);
        continue;
      }
    }
    // Each URI on its own: one the page cannot take is dropped (logged), the others go on.
    if (g_autofree gchar* uri = g_file_get_uri(files[i])) shell->delegate->handleGetURLEvent(uri);
  }
  if (!paths.empty()) shell->delegate->openFiles(paths);
  shell->delegate->showMainWindow(true);
}

void onShutdown(GtkApplication*, Shell* shell) {
  for (guint& source : shell->signalSources)
    if (source) g_source_remove(std::exchange(source, 0));
  if (shell->delegate) {
    if (auto window = std::dynamic_pointer_cast<WindowController>(shell->delegate->mainWindow()))
      window->saveFrame();
  }
  shell->extensionState.reset();
  shell->systemEvents.reset();
  shell->colorScheme.reset();
  shell->delegate.reset();
  shell->menu.reset();
  shell->environment.reset();
  shell->web.reset();
  // Secure values set just before quitting still reach the keyring (a hung keyring gets 3 s).
  if (shell->context) shell->context->keychain().finishWrites(std::chrono::seconds(3));
  shell->context.reset();
  shell->control.reset();
}

}  // namespace

int runApplication(const ApplicationOptions& options, StartupExtension extension) {
  // X11 first: on a Wayland session the application runs under XWayland, where window
  // positions, idle time and activation work. GDK_BACKEND still decides when set, and without
  // XWayland GTK takes Wayland.
  gdk_set_allowed_backends("x11,*");
  // Before any thread starts (it changes the environment).
  auto goneSessionBus = sessionbus::replaceGoneAddress();
  // The session bus connection (which registering the single instance waits for) is made on
  // GLib's worker thread while this thread opens the display and loads the theme; registration
  // then finds the connection made or being made. A second instance, which only hands its
  // targets over, opens the display too: a few milliseconds on a path that ends at once.
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, nullptr, nullptr);
  gtk_init_check(nullptr, nullptr);
  // Without a session bus the application still runs, as a non-unique instance (GApplication
  // falls back by itself).
  GtkApplication* app =
      gtk_application_new(Bundle::main().identifier().c_str(), G_APPLICATION_HANDLES_OPEN);
  Shell shell;
  shell.options = options;
  shell.goneSessionBus = std::move(goneSessionBus);
  shell.extension = std::move(extension);
  g_signal_connect(app, "startup", G_CALLBACK(onStartup), &shell);
  g_signal_connect(app, "activate", G_CALLBACK(onActivate), &shell);
  g_signal_connect(app, "open", G_CALLBACK(onOpen), &shell);
  g_signal_connect(app, "shutdown", G_CALLBACK(onShutdown), &shell);

  // GApplication parses its own options (--gapplication-service, ...) and turns the targets
  // into files and URIs in this process (relative paths against this working directory), then
  // hands them to the primary instance when one runs.
  std::vector<std::string> args{
      Bundle::main().infoValue("CFBundleExecutable").value_or("wendrel-desktop")};
  for (const auto& a : options.passThrough) args.push_back(a);
  if (!options.targets.empty()) {
    args.emplace_back("--");
    for (const auto& t : options.targets) args.push_back(t);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = g_application_run(G_APPLICATION(app), static_cast<int>(args.size()), argv.data());
  g_object_unref(app);
  return status;
}

}  // namespace wd
