#pragma once
// The application's menus as the page sees them: menus of titled items (key equivalent,
// enabled state, optional submenu, separators), each menu rendered into the GMenu that GTK
// shows. Separators become section boundaries. A change to one item replaces that item in its
// GMenu in place; adding or removing an item changes only its section; the first separator
// of a menu (or removing one) re-renders that menu. Every menu bar showing a menu's model
// follows at once.
//
// Titles are literal: an item's title is exactly the text the page gave ("a_b" shows and is
// found as "a_b"); only items imported from the menu layout keep the layout's mnemonic label
// until the page sets another.
//
// Items chosen by the user call their handler through an action of their own ("app.wd-item-N",
// made when an item first needs one: a handler, a disabled state or an accelerator); an
// imported item (from the menu layout) without a handler keeps calling its original action.
// A native object keeps its script wrapper weakly, so asking again gives the same wrapper while
// the page holds it.
#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GMenu GMenu;
typedef struct _GMenuItem GMenuItem;
typedef struct _GMenuModel GMenuModel;
typedef struct _GActionMap GActionMap;
typedef struct _GSimpleAction GSimpleAction;
typedef struct _GVariant GVariant;

namespace wd {

namespace bridge {
class ScriptObject;
}
class NativeMenu;

// A label's title: without mnemonic underscores ("_File" is "File", "__" one underscore).
std::string titleOfLabel(const std::string& label);

// The action map the items' actions live in (the GtkApplication; any map in tests). Page-set
// accelerators are registered with the application when the map is one.
class MenuActions {
 public:
  explicit MenuActions(GActionMap* map);
  ~MenuActions();
  MenuActions(const MenuActions&) = delete;
  MenuActions& operator=(const MenuActions&) = delete;
  GActionMap* map() const { return map_; }
  std::string nextName() { return "wd-item-" + std::to_string(++counter_); }

 private:
  GActionMap* map_;
  std::uint64_t counter_ = 0;
};

class NativeMenuItem : public std::enable_shared_from_this<NativeMenuItem> {
 public:
  // An item titled `title` (literal: underscores are shown as they are).
  NativeMenuItem(std::shared_ptr<MenuActions> actions, std::string title, bool separator);
  ~NativeMenuItem();
  NativeMenuItem(const NativeMenuItem&) = delete;
  NativeMenuItem& operator=(const NativeMenuItem&) = delete;

  // The title, as shown and as matched.
  const std::string& title() const { return title_; }
  // The label the menu shows, with its access key: an imported item's (translated) layout
  // label until the page relabels it, else the title with its underscores doubled.
  std::string label() const;
  bool isSeparator() const { return separator_; }
  bool enabled() const { return enabled_; }
  const std::string& key() const { return key_; }
  std::uint32_t modifiers() const { return modifiers_; }
  const std::shared_ptr<NativeMenu>& submenu() const { return submenu_; }
  std::shared_ptr<NativeMenu> menu() const { return menu_.lock(); }
  const std::shared_ptr<MenuActions>& actions() const { return actions_; }
  // The action the rendered item calls ("app.…"), or "" when none.
  std::string detailedAction() const;
  // The accelerator shown and bound, when any.
  const std::optional<std::string>& accelerator() const { return accel_; }

  // A literal title (the layout's mnemonic, if any, is dropped).
  void setLabel(std::string title);
  void setEnabled(bool on);
  void setKey(std::string key, std::uint32_t modifiers);
  void setSubmenu(std::shared_ptr<NativeMenu> submenu);
  // What choosing the item does, and the page value it stands for (read back by the wrapper).
  void setHandler(std::function<void()> handler, std::any payload);
  const std::any& payload() const { return payload_; }
  // Choosing the item (as a click does).
  void activate();

  std::weak_ptr<bridge::ScriptObject> wrapper;

 private:
  friend class NativeMenu;
  // Keeps an item imported from a layout: its attributes and its original action and target.
  void importFrom(GMenuModel* model, int index);
  GMenuItem* render() const;  // new reference
  void ensureAction();
  // The item left its menu: its action (and its submenu's) goes, none is made again.
  void detachFromMenu();
  void changed();

  std::shared_ptr<MenuActions> actions_;
  std::string title_;
  std::optional<std::string> mnemonicLabel_;  // an imported item's label, as the layout has it
  bool separator_;
  bool removed_ = false;
  bool enabled_ = true;
  std::string key_;
  std::uint32_t modifiers_ = 0;
  std::optional<std::string> accel_;
  std::shared_ptr<NativeMenu> submenu_;
  std::weak_ptr<NativeMenu> menu_;
  GMenuItem* base_ = nullptr;  // imported attributes
  std::string originalAction_;
  GVariant* originalTarget_ = nullptr;
  GSimpleAction* action_ = nullptr;
  std::string actionName_;
  std::function<void()> handler_;
  std::any payload_;
  // Where the item was last rendered (for in-place replacement).
  GMenu* renderedIn_ = nullptr;
  int renderedAt_ = -1;
};

class NativeMenu : public std::enable_shared_from_this<NativeMenu> {
 public:
  static std::shared_ptr<NativeMenu> create(std::shared_ptr<MenuActions> actions,
                                            std::string title);
  ~NativeMenu();
  NativeMenu(const NativeMenu&) = delete;
  NativeMenu& operator=(const NativeMenu&) = delete;

  // Replaces the contents by those of a loaded menu model (sections become separators).
  void importFrom(GMenuModel* model);

  const std::string& title() const { return title_; }
  const std::shared_ptr<MenuActions>& actions() const { return actions_; }
  GMenuModel* model() const;
  // The item whose submenu this menu is; none for a menu bar or a free-standing menu.
  std::shared_ptr<NativeMenuItem> supermenuItem() const { return parent_.lock(); }
  const std::vector<std::shared_ptr<NativeMenuItem>>& items() const { return items_; }

  // The most items, separators included, one menu holds. No one scans a longer menu, and the
  // toolkit's menu bar does work in proportion to the whole menu at every change, so a page
  // adding items without end would slow every later change.
  static constexpr std::size_t kMaxItems = 20000;

  // A new item at `index` (appended when none); nullptr when the index is outside 0..count or
  // the menu is full.
  std::shared_ptr<NativeMenuItem> insertItem(std::string label, std::optional<long long> index);
  // Adds nothing when the menu is full.
  void addSeparator();
  // Removes the item; false when it is not in this menu.
  bool removeItem(const std::shared_ptr<NativeMenuItem>& item);
  // The first item whose title equals `title`.
  std::shared_ptr<NativeMenuItem> itemWithTitle(const std::string& title) const;

  std::weak_ptr<bridge::ScriptObject> wrapper;

 private:
  friend class NativeMenuItem;
  NativeMenu(std::shared_ptr<MenuActions> actions, std::string title);
  void render();
  void itemChanged(NativeMenuItem& item);
  // Moves the rendered positions of the items after `from` in the same section by `delta`.
  void shiftSection(std::size_t from, int delta);
  bool hasSeparators() const { return separators_ > 0; }

  std::shared_ptr<MenuActions> actions_;
  std::string title_;
  GMenu* model_;
  std::vector<std::shared_ptr<NativeMenuItem>> items_;
  std::size_t separators_ = 0;
  std::vector<GMenu*> sections_;  // the section models while the menu has separators
  std::weak_ptr<NativeMenuItem> parent_;
};

}  // namespace wd
