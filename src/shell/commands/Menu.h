#pragma once
// The page's Menu and MenuItem objects (MacGap.Menu is the application's main menu): wrappers of
// the application's native menus and items, one per native object (asking again gives the same
// wrapper while the page holds it). The page finds items by index or title, adds items with key
// equivalents and callbacks, separators and submenus, relabels, enables and removes items, and
// makes free-standing menus (type "statusbar" for the tray). Changes show at once in every
// window's menu bar.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Command.h"
#include "bridge/ScriptValue.h"

typedef struct _GMenuModel GMenuModel;

#include "shell/tray/MenuModelProvider.h"
namespace wd {

class MenuActions;
class MenuItem;
class NativeMenu;
class NativeMenuItem;
class ShellContext;

class Menu : public bridge::Command, public MenuModelProvider {
 public:
  // The wrapper the native menu already has, else a new one (which attaches itself).
  static std::shared_ptr<Menu> wrapperFor(const std::shared_ptr<NativeMenu>& menu,
                                          std::optional<std::string> type = std::nullopt,
                                          bool owned = false);
  // MacGap.Menu: the wrapper of the application's main menu (none without menus).
  static std::shared_ptr<Menu> mainMenu(ShellContext& context);

  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  std::shared_ptr<Menu> create(std::optional<std::string> title, std::optional<std::string> type);
  std::shared_ptr<MenuItem> addItem(std::optional<bridge::Dictionary> options,
                                    bridge::ScriptValue callback);
  std::shared_ptr<MenuItem> getItem(bridge::Value key);
  std::shared_ptr<Menu> addSeparator();
  std::optional<std::string> type() const { return type_; }
  std::vector<std::shared_ptr<MenuItem>> menuItems() const { return menuItems_; }
  static std::string getKeyFromString(std::optional<std::string> keys);

  // The native menu's model (what GTK shows; the tray shows a "statusbar" menu's).
  GMenuModel* model() const;
  // MenuModelProvider (the tray shows this menu when the page assigns it to StatusItem.menu).
  GMenuModel* menuModel() const override { return model(); }
  GActionGroup* menuActions() const override;
  std::shared_ptr<NativeMenu> nativeMenu() const { return menu_.lock(); }

  Menu(const std::shared_ptr<NativeMenu>& menu, std::optional<std::string> type, bool owned);

 private:
  std::weak_ptr<NativeMenu> menu_;
  std::shared_ptr<NativeMenu> owned_;  // a menu made by create belongs to its wrapper
  std::optional<std::string> type_;
  std::vector<std::shared_ptr<MenuItem>> menuItems_;
};

class MenuItem : public bridge::Command {
 public:
  static std::shared_ptr<MenuItem> wrapperFor(const std::shared_ptr<NativeMenuItem>& item);

  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  void remove();
  void setLabel(std::optional<std::string> label);
  std::shared_ptr<Menu> addSubmenu(std::optional<std::string> title);
  void setKey(std::optional<std::string> keys);
  bool enabled() const;
  void setEnabled(bool on);
  bridge::ScriptValue callback() const;
  void setCallback(bridge::ScriptValue callback);
  std::shared_ptr<Menu> submenu() const;

  const std::shared_ptr<NativeMenuItem>& nativeItem() const { return item_; }

  explicit MenuItem(std::shared_ptr<NativeMenuItem> item);

 private:
  std::shared_ptr<NativeMenuItem> item_;
  std::shared_ptr<Menu> submenu_;
};

}  // namespace wd
