#pragma once
// The application's main menu: one menu model (from the "MainMenu" layout) owned by the
// application and shown as every window's menu bar, and the actions its items call. Labels are
// shown in the user's language; each item's title is its untranslated label without access-key
// underscores (attribute "title" of the model), the same in every language. Items of the actions
// that pass a title (newItem, messageAction, gotoModule, openShowFeedback) carry their title as
// target, so the page receives it. The loaded menu becomes the
// root of the application's native menus (NativeMenu), which the page's Menu objects change;
// the menu bar shows that root's model.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shell/menu/ApplicationMenu.h"

typedef struct _GMenu GMenu;
typedef struct _GMenuModel GMenuModel;
typedef struct _GActionMap GActionMap;
typedef struct _GSimpleAction GSimpleAction;

namespace wd {

class AppDelegate;

class MainMenu : public ApplicationMenu {
 public:
  // Actions are added to `actions` (the GtkApplication, or any action map in tests) and call
  // the delegate that `delegate` returns at the time (none: nothing happens).
  MainMenu(GActionMap* actions, std::function<AppDelegate*()> delegate);
  ~MainMenu() override;
  MainMenu(const MainMenu&) = delete;
  MainMenu& operator=(const MainMenu&) = delete;

  // Loads the menu bar from a GtkBuilder file (the object "menubar"); false when it cannot be
  // read, leaving an empty menu.
  bool load(const std::string& uiFile);
  GMenuModel* model() const;

  // ApplicationMenu
  std::shared_ptr<NativeMenu> mainMenu() override { return root_; }
  std::shared_ptr<MenuActions> menuActions() override { return menuActions_; }

  // The "Out of Office" item's state (a check item). Choosing the item does not change it.
  void setOutOfOfficeState(bool on);
  bool outOfOfficeState() const;

  struct Item {
    std::string label;
    std::string action;                 // "app.newItem"
    std::optional<std::string> target;  // string target, when any
  };
  // A label's title: without mnemonic underscores ("_File" is "File", "__" stays one
  // underscore). Items are found, and titles passed to the page, by the untranslated title.
  static std::string titleOf(const std::string& label);
  // The first item with this title (depth first; mnemonics ignored on both sides), or none.
  std::optional<Item> findItem(const std::string& label) const;
  // Activates the item with this label as a click on it does; false when there is none.
  bool activateItem(const std::string& label);
  // The title-taking actions.
  static bool passesTitle(const std::string& actionName);

 private:
  void addActions();
  GActionMap* actions_;
  std::function<AppDelegate*()> delegate_;
  GMenu* menubar_ = nullptr;
  GSimpleAction* outOfOffice_ = nullptr;
  std::shared_ptr<MenuActions> menuActions_;
  std::shared_ptr<NativeMenu> root_;
};

}  // namespace wd
