// wendrel-page-api: writes the page API's TypeScript declarations and reference from the
// exports tables. Usage: wendrel-page-api <macgap.d.ts> <page-api.md>. A table that lacks what
// the declarations need (a description, parameter names, a result's or dictionary's type) is
// reported and nothing is written, so the build fails until the table says it.
#include <cstdio>
#include <fstream>

#include "sdk/PageApi.h"
#include "shell/app/MainWindowController.h"
#include "shell/commands/AccountCommand.h"
#include "shell/commands/App.h"
#include "shell/commands/Clipboard.h"
#include "shell/commands/Defaults.h"
#include "shell/commands/DesktopCommand.h"
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
#include "shell/window/NavigationDelegate.h"
#include "shell/window/WebViewDelegate.h"

namespace {

// What a window installs: the root made by the application delegate (App), Window and Menu on
// every page (WebViewDelegate::installSet), and the classes registerShellScriptClasses offers to
// the configuration's "plugins" list. The real-window test of the declarations checks this
// against what a page finds installed.
wd::sdk::PageApi pageApi() {
  using namespace wd;
  sdk::PageApi api;
  api.objects = {
      {"", &App::exports(), true},
      {"Window", &Window::exports(), true},
      {"Menu", &Menu::exports(), true},
      {"DesktopCommand", &DesktopCommand::exports()},
      {"AccountCommand", &AccountCommand::exports()},
      {"Defaults", &Defaults::exports()},
      {"Notify", &Notify::exports()},
      {"Dock", &Dock::exports()},
      {"File", &File::exports()},
      {"Dialog", &Dialog::exports()},
      {"Task", &Task::exports()},
      {"StatusItem", &StatusItem::exports()},
      {"Sound", &Sound::exports()},
      {"Clipboard", &Clipboard::exports()},
      {"Fonts", &Fonts::exports()},
  };
  api.resultClasses = {&MenuItem::exports()};
  api.windowEvents = {MainWindowController::pageEventSource(),
                      NavigationDelegate::pageEventSource(), WebViewDelegate::pageEventSource()};
  return api;
}

bool write(const char* path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) std::fprintf(stderr, "wendrel-page-api: cannot write %s\n", path);
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: wendrel-page-api <macgap.d.ts> <page-api.md>\n");
    return 2;
  }
  const auto api = pageApi();
  const auto problems = wd::sdk::problems(api);
  for (const auto& p : problems) std::fprintf(stderr, "wendrel-page-api: %s\n", p.c_str());
  if (!problems.empty()) return 1;
  return write(argv[1], wd::sdk::typeScriptDeclarations(api)) &&
                 write(argv[2], wd::sdk::markdownReference(api))
             ? 0
             : 1;
}
