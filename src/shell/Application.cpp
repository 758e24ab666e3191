#include "shell/Application.h"

#include <gtk/gtk.h>

#include <memory>

#include "core/Bundle.h"
#include "core/Log.h"
#include "shell/app/AppDelegate.h"
#include "shell/app/ApplicationControl.h"
#include "shell/app/MainMenu.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/notifications/NotificationService.h"
#include "shell/system/SystemEvents.h"
#include "shell/system/Workspace.h"
#include "shell/testing/TestHooks.h"
#include "shell/window/WebClient.h"
#include "shell/window/WebContext.h"
#include "shell/window/WindowController.h"

namespace wd {

namespace {

class WindowControllerFactory : public WindowFactory {
 public:
  std::shared_ptr<WebWindow> makeMainWindow(const std::string& resourcePath) override {
    return WindowController::initWithURL(resourcePath);
  }
  std::shared_ptr<WebWindow> makeWindow(const std::string& url) override {
    return WindowController::initWithRequest(url);
  }
};

// Everything the running application owns, made at start-up in the primary instance.
struct Shell {
  ApplicationOptions options;
  WindowControllerFactory windows;
  std::unique_ptr<GtkApplicationControl> control;
  std::unique_ptr<AppDelegate> delegate;
  std::unique_ptr<MainMenu> menu;
  std::unique_ptr<SystemEvents> systemEvents;
  std::unique_ptr<TestHooks> testHooks;
};

void chooseWebClient(const ApplicationOptions& options) {
  if (!options.webClientDirectory.empty()) {
    if (webclient::isWebClientDirectory(options.webClientDirectory)) {
      webclient::setDirectory(options.webClientDirectory);
      return;
    }
    WD_LOG_WARN("The web client folder {} has no public/index.html; using the bundled page",
                options.webClientDirectory);
    return;
  }
  if (auto dir = webclient::directoryFromSettings()) webclient::setDirectory(*dir);
}

void onStartup(GtkApplication* app, Shell* shell) {
  // Logging first: it must be in place before any other start-up step logs.
  logging::setup();
  registerShellScriptClasses();
  chooseWebClient(shell->options);
  g_set_application_name(Bundle::main().name().c_str());
  gtk_window_set_default_icon_name(Bundle::main().identifier().c_str());

  shell->control = std::make_unique<GtkApplicationControl>(app);
  ApplicationControl::setShared(shell->control.get());
  shell->delegate = std::make_unique<AppDelegate>(
      shell->windows, *shell->control, NotificationService::shared(), Workspace::shared());
  shell->menu = std::make_unique<MainMenu>(G_ACTION_MAP(app), [] { return AppDelegate::shared(); });
  if (auto layout = Bundle::main().pathForResource("MainMenu", "ui", "ui"))
    shell->menu->load(*layout);
  gtk_application_set_menubar(app, shell->menu->model());
  shell->delegate->setMainMenu(shell->menu.get());

  shell->delegate->applicationWillFinishLaunching();
  if (auto* main = shell->delegate->mainWindowController())
    if (main->windowController())
      shell->control->setMainWindow(main->windowController()->gtkWindow());
  shell->systemEvents = std::make_unique<SystemEvents>();
  if (TestHooks::enabled())
    shell->testHooks = std::make_unique<TestHooks>(
        g_application_get_dbus_connection(G_APPLICATION(app)), *shell->delegate);
  shell->delegate->applicationDidFinishLaunching();

  // A window getting the focus ends an attention request.
  g_signal_connect(app, "notify::active-window", G_CALLBACK(+[](GtkApplication* a, GParamSpec*) {
                     for (GList* l = gtk_application_get_windows(a); l; l = l->next)
                       gtk_window_set_urgency_hint(GTK_WINDOW(l->data), FALSE);
                   }),
                   nullptr);
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
    if (gchar* path = g_file_get_path(files[i]); path && g_file_is_native(files[i])) {
      paths.emplace_back(path);
      g_free(path);
      continue;
    } else {
      g_free(path);
    }
    gchar* uri = g_file_get_uri(files[i]);
    if (uri) shell->delegate->handleGetURLEvent(uri);
    g_free(uri);
  }
  if (!paths.empty()) shell->delegate->openFiles(paths);
  shell->delegate->showMainWindow(true);
}

void onShutdown(GtkApplication*, Shell* shell) {
  if (shell->delegate && shell->delegate->mainWindowController()) {
    if (auto window = std::dynamic_pointer_cast<WindowController>(
            shell->delegate->mainWindowController()->windowController()))
      window->saveFrame();
  }
  shell->testHooks.reset();
  shell->systemEvents.reset();
  shell->delegate.reset();
  shell->menu.reset();
  ApplicationControl::setShared(nullptr);
  shell->control.reset();
  NotificationService::setShared(nullptr);
  webcontext::reset();
}

}  // namespace

int runApplication(const ApplicationOptions& options) {
  // Without a session bus the application still runs, as a non-unique instance (GApplication
  // falls back by itself).
  GtkApplication* app =
      gtk_application_new(Bundle::main().identifier().c_str(), G_APPLICATION_HANDLES_OPEN);
  Shell shell;
  shell.options = options;
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
