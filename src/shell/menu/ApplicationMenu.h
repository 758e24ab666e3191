#pragma once
// What script objects need of the application's menus: the main menu (the menu bar every window
// shows) and the action map that new menus' items get their actions from. The shell's MainMenu
// implements it; tests give one over their own action group.
#include <memory>

namespace wd {

class MenuActions;
class NativeMenu;

class ApplicationMenu {
 public:
  virtual ~ApplicationMenu() = default;
  virtual std::shared_ptr<NativeMenu> mainMenu() = 0;
  virtual std::shared_ptr<MenuActions> menuActions() = 0;
};

}  // namespace wd
