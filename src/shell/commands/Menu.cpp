#include "shell/commands/Menu.h"

#include <cmath>
#include <cstdlib>

#include "bridge/Exports.h"
#include "core/Json.h"
#include "shell/ShellContext.h"
#include "shell/menu/ApplicationMenu.h"
#include "shell/menu/KeyEquivalent.h"
#include "shell/menu/NativeMenu.h"

namespace wd {

namespace {

constexpr const char* kStatusBarType = "statusbar";
constexpr const char* kEllipsis = "\u2026";
// The limit the page's documentation below states.
static_assert(NativeMenu::kMaxItems == 20000);

// A text option: strings as they are, numbers in their script form, anything else none.
std::optional<std::string> textOption(const bridge::Dictionary& options, const char* key) {
  const bridge::Value& v = options.get(key);
  if (const auto* s = v.asString()) return *s;
  if (v.isNumber()) {
    const double d = *v.asNumber();
    if (std::trunc(d) == d && std::abs(d) < 1e15) return std::to_string(static_cast<long long>(d));
    return Json(d).dump();
  }
  return std::nullopt;
}

// The index option: a number (or numeric string, or boolean) cut toward zero; none when absent.
std::optional<long long> indexOption(const bridge::Dictionary& options) {
  const bridge::Value& v = options.get("index");
  std::optional<double> d;
  if (v.isNumber()) d = v.asNumber();
  if (v.isBool()) d = *v.asBool() ? 1.0 : 0.0;
  if (const auto* s = v.asString()) d = std::strtod(s->c_str(), nullptr);
  if (v.isNone()) return std::nullopt;
  if (!d || std::isnan(*d)) return 0;
  if (std::abs(*d) > 1e15) return *d < 0 ? -1 : static_cast<long long>(1e15);
  return static_cast<long long>(std::trunc(*d));
}

}  // namespace

// --- Menu ----------------------------------------------------------------------------------

Menu::Menu(const std::shared_ptr<NativeMenu>& menu, std::optional<std::string> type, bool owned)
    : menu_(menu), owned_(owned ? menu : nullptr), type_(std::move(type)) {}

std::shared_ptr<Menu> Menu::wrapperFor(const std::shared_ptr<NativeMenu>& menu,
                                       std::optional<std::string> type, bool owned) {
  if (!menu) return nullptr;
  if (auto existing = std::static_pointer_cast<Menu>(menu->wrapper.lock())) return existing;
  auto wrapper = std::make_shared<Menu>(menu, std::move(type), owned);
  menu->wrapper = wrapper;
  for (const auto& item : menu->items()) wrapper->menuItems_.push_back(MenuItem::wrapperFor(item));
  return wrapper;
}

std::shared_ptr<Menu> Menu::mainMenu(ShellContext& context) {
  if (!context.menus()) return nullptr;
  return wrapperFor(context.menus()->mainMenu());
}

const bridge::ClassInfo& Menu::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Menu::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Menu>("Menu")
          .summary("A menu: `MacGap.Menu` is the application's menu bar, shared by every window.")
          .method("create:type:__JS_EXPORT_AS__create:", &Menu::create)
          .doc({.summary = "A new free-standing menu; type \"statusbar\" makes one for "
                           "`MacGap.StatusItem.menu`.",
                .params = {"title", "type?: \"statusbar\" | string"},
                .result = "MacGapMenu | undefined"})
          .method("addItem:callback:__JS_EXPORT_AS__addItem:", &Menu::addItem)
          .doc({.summary = "Adds an item (at \"index\", else last) with a key equivalent such as "
                           "\"cmd+shift+n\"; in the menu bar an item is a menu title with an empty "
                           "submenu.",
                .params = {"options: { label?: string; keys?: string; index?: number }",
                           "callback?: (() => void) | null"},
                .result = "MacGapMenuItem | undefined",
                .refused = "an index outside 0…count, or a menu already holding 20,000 items "
                           "and separators, adds nothing and gives undefined"})
          .method("itemForKey:__JS_EXPORT_AS__getItem:", &Menu::getItem)
          .doc({.summary = "The item at an index, or of a title (also with \"…\" appended).",
                .params = {"key: number | string"},
                .result = "MacGapMenuItem | undefined",
                .refused = "undefined"})
          .method("addSeparator", &Menu::addSeparator)
          .doc({.summary = "Adds a separator; gives this menu.",
                .result = "MacGapMenu",
                .refused = "a menu already holding 20,000 items and separators adds nothing"})
          .property("type", &Menu::type)
          .doc({.summary = "The type given to `create`."})
          .property("menuItems", &Menu::menuItems)
          .doc({.summary = "The items this wrapper added.", .result = "MacGapMenuItem[]"})
          .classMethod("getKeyFromString:", &Menu::getKeyFromString)
          .doc({.summary = "The key of a key equivalent (\"cmd+shift+n\" gives \"n\").",
                .params = {"keys"},
                .refused = "\"\""})
          .build();
  return info;
}

GActionGroup* Menu::menuActions() const {
  auto menu = menu_.lock();
  GActionMap* map = menu && menu->actions() ? menu->actions()->map() : nullptr;
  return map && G_IS_ACTION_GROUP(map) ? G_ACTION_GROUP(map) : nullptr;
}

GMenuModel* Menu::model() const {
  auto menu = menu_.lock();
  return menu ? menu->model() : nullptr;
}

std::shared_ptr<Menu> Menu::create(std::optional<std::string> title,
                                   std::optional<std::string> type) {
  auto menu = menu_.lock();
  if (!menu) return nullptr;
  auto made = NativeMenu::create(menu->actions(), title.value_or(""));
  return wrapperFor(made, std::move(type), true);
}

std::shared_ptr<MenuItem> Menu::addItem(std::optional<bridge::Dictionary> options,
                                        bridge::ScriptValue callback) {
  auto menu = menu_.lock();
  if (!menu) return nullptr;
  const bridge::Dictionary opts = options.value_or(bridge::Dictionary());
  const std::string label = textOption(opts, "label").value_or("");
  const auto keys = textOption(opts, "keys");
  auto item = menu->insertItem(label, indexOption(opts));
  if (!item) return nullptr;  // an index outside the menu, or a full menu, adds nothing
  if (keys) item->setKey(menukeys::keyFromString(keys), menukeys::modifiersFromString(keys));
  // In a menu bar every entry is the title of a menu.
  if (!menu->supermenuItem() && type_ != kStatusBarType)
    item->setSubmenu(NativeMenu::create(menu->actions(), label));
  auto wrapper = MenuItem::wrapperFor(item);
  wrapper->setCallback(std::move(callback));
  return wrapper;
}

std::shared_ptr<MenuItem> Menu::getItem(bridge::Value key) {
  auto menu = menu_.lock();
  if (!menu) return nullptr;
  if (key.isNumber() || key.isBool()) {
    const double d = key.isBool() ? (*key.asBool() ? 1 : 0) : *key.asNumber();
    if (std::isnan(d)) return nullptr;
    const double index = std::trunc(d);
    if (index < 0 || index >= static_cast<double>(menu->items().size())) return nullptr;
    return MenuItem::wrapperFor(menu->items()[static_cast<std::size_t>(index)]);
  }
  if (const auto* title = key.asString()) {
    auto item = menu->itemWithTitle(*title);
    if (!item) item = menu->itemWithTitle(*title + kEllipsis);
    return item ? MenuItem::wrapperFor(item) : nullptr;
  }
  return nullptr;
}

std::shared_ptr<Menu> Menu::addSeparator() {
  if (auto menu = menu_.lock()) menu->addSeparator();
  return std::static_pointer_cast<Menu>(shared_from_this());
}

std::string Menu::getKeyFromString(std::optional<std::string> keys) {
  return menukeys::keyFromString(keys);
}

// --- MenuItem ------------------------------------------------------------------------------

MenuItem::MenuItem(std::shared_ptr<NativeMenuItem> item) : item_(std::move(item)) {}

std::shared_ptr<MenuItem> MenuItem::wrapperFor(const std::shared_ptr<NativeMenuItem>& item) {
  if (!item) return nullptr;
  if (auto existing = std::static_pointer_cast<MenuItem>(item->wrapper.lock())) return existing;
  auto wrapper = std::make_shared<MenuItem>(item);
  item->wrapper = wrapper;
  if (item->submenu()) wrapper->submenu_ = Menu::wrapperFor(item->submenu());
  return wrapper;
}

const bridge::ClassInfo& MenuItem::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& MenuItem::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<MenuItem>("MenuItem")
          .summary("An item of a menu.")
          .method("remove", &MenuItem::remove)
          .doc({.summary = "Removes the item from its menu."})
          .method("setLabel:", &MenuItem::setLabel)
          .doc({.summary = "Sets the item's title.", .params = {"label"}, .refused = "\"\""})
          .method("addSubmenu:", &MenuItem::addSubmenu)
          .doc({.summary = "Gives the item a new empty submenu.",
                .params = {"title?"},
                .result = "MacGapMenu | undefined"})
          .method("setKey:", &MenuItem::setKey)
          .doc({.summary = "Sets the key equivalent (\"cmd+shift+n\").",
                .params = {"keys"},
                .refused = "the key is removed"})
          .property("enabled", &MenuItem::enabled, &MenuItem::setEnabled)
          .doc({.summary = "Whether the item can be chosen."})
          .property("callback", &MenuItem::callback, &MenuItem::setCallback)
          .doc({.summary = "Called when the item is chosen.",
                .result = "(() => void) | null | undefined"})
          .property("submenu", &MenuItem::submenu)
          .doc({.summary = "The item's submenu.", .result = "MacGapMenu | undefined"})
          .build();
  return info;
}

void MenuItem::remove() {
  if (auto menu = item_->menu()) menu->removeItem(item_);
}

void MenuItem::setLabel(std::optional<std::string> label) {
  if (label) item_->setLabel(std::move(*label));
}

std::shared_ptr<Menu> MenuItem::addSubmenu(std::optional<std::string> title) {
  if (item_->submenu()) {
    if (!submenu_) submenu_ = Menu::wrapperFor(item_->submenu());
    return submenu_;
  }
  item_->setSubmenu(NativeMenu::create(item_->actions(), title.value_or("")));
  submenu_ = Menu::wrapperFor(item_->submenu());
  return submenu_;
}

void MenuItem::setKey(std::optional<std::string> keys) {
  if (!keys) return;
  item_->setKey(menukeys::keyFromString(keys), menukeys::modifiersFromString(keys));
}

bool MenuItem::enabled() const {
  return item_->enabled();
}

void MenuItem::setEnabled(bool on) {
  item_->setEnabled(on);
}

bridge::ScriptValue MenuItem::callback() const {
  const auto* value = std::any_cast<bridge::ScriptValue>(&item_->payload());
  return value ? *value : bridge::ScriptValue();
}

void MenuItem::setCallback(bridge::ScriptValue callback) {
  // Choosing the item calls the page value with no arguments (nothing for a non-function).
  item_->setHandler([callback] { callback.call(); }, std::any(callback));
}

std::shared_ptr<Menu> MenuItem::submenu() const {
  return submenu_;
}

}  // namespace wd
