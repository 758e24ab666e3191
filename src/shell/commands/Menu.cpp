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
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Menu>("Menu")
          .method("create:type:__JS_EXPORT_AS__create:", &Menu::create)
          .method("addItem:callback:__JS_EXPORT_AS__addItem:", &Menu::addItem)
          .method("itemForKey:__JS_EXPORT_AS__getItem:", &Menu::getItem)
          .method("addSeparator", &Menu::addSeparator)
          .property("type", &Menu::type)
          .property("menuItems", &Menu::menuItems)
          .classMethod("getKeyFromString:", &Menu::getKeyFromString)
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
  if (!item) return nullptr;  // an index outside the menu adds nothing
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
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<MenuItem>("MenuItem")
          .method("remove", &MenuItem::remove)
          .method("setLabel:", &MenuItem::setLabel)
          .method("addSubmenu:", &MenuItem::addSubmenu)
          .method("setKey:", &MenuItem::setKey)
          .property("enabled", &MenuItem::enabled, &MenuItem::setEnabled)
          .property("callback", &MenuItem::callback, &MenuItem::setCallback)
          .property("submenu", &MenuItem::submenu)
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
