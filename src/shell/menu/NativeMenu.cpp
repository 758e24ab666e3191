#include "shell/menu/NativeMenu.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "bridge/wire/Utf.h"
#include "shell/menu/KeyEquivalent.h"

namespace wd {

std::string titleOfLabel(const std::string& label) {
  std::string out;
  out.reserve(label.size());
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] != '_') {
      out += label[i];
    } else if (i + 1 < label.size() && label[i + 1] == '_') {
      out += '_';
      ++i;
    }
  }
  return out;
}

// --- MenuActions ---------------------------------------------------------------------------

MenuActions::MenuActions(GActionMap* map) : map_(G_ACTION_MAP(g_object_ref(map))) {}
MenuActions::~MenuActions() {
  g_object_unref(map_);
}

// --- NativeMenuItem ------------------------------------------------------------------------

NativeMenuItem::NativeMenuItem(std::shared_ptr<MenuActions> actions, std::string title,
                               bool separator)
    : actions_(std::move(actions)),
      title_(bridge::wire::boundedTitle(title)),
      separator_(separator) {}

NativeMenuItem::~NativeMenuItem() {
  detachFromMenu();
  if (base_) g_object_unref(base_);
  if (originalTarget_) g_variant_unref(originalTarget_);
}

void NativeMenuItem::detachFromMenu() {
  removed_ = true;
  if (submenu_)
    for (auto& item : submenu_->items_) item->detachFromMenu();
  if (action_) {
    if (GTK_IS_APPLICATION(actions_->map())) {
      const std::string detailed = "app." + actionName_;
      const gchar* none[] = {nullptr};
      gtk_application_set_accels_for_action(GTK_APPLICATION(actions_->map()), detailed.c_str(),
                                            none);
    }
    g_action_map_remove_action(actions_->map(), actionName_.c_str());
    g_clear_object(&action_);
  }
}

std::string NativeMenuItem::detailedAction() const {
  if (action_) return "app." + actionName_;
  return originalAction_;
}

void NativeMenuItem::importFrom(GMenuModel* model, int index) {
  base_ = g_menu_item_new_from_model(model, index);
  g_menu_item_set_link(base_, G_MENU_LINK_SUBMENU, nullptr);
  g_menu_item_set_link(base_, G_MENU_LINK_SECTION, nullptr);
  gchar* action = nullptr;
  if (g_menu_model_get_item_attribute(model, index, G_MENU_ATTRIBUTE_ACTION, "s", &action)) {
    originalAction_ = action;
    g_free(action);
  }
  originalTarget_ =
      g_menu_model_get_item_attribute_value(model, index, G_MENU_ATTRIBUTE_TARGET, nullptr);
  // The layout's untranslated title, when it gives one, is the title the page sees and
  // matches, so the page finds the same titles in every language.
  gchar* title = nullptr;
  if (g_menu_model_get_item_attribute(model, index, "title", "s", &title)) {
    title_ = bridge::wire::boundedTitle(title);
    g_free(title);
  }
  gchar* accel = nullptr;
  if (g_menu_model_get_item_attribute(model, index, "accel", "s", &accel)) {
    accel_ = accel;
    g_free(accel);
  }
}

void NativeMenuItem::ensureAction() {
  if (action_ || removed_) return;
  actionName_ = actions_->nextName();
  action_ = g_simple_action_new(actionName_.c_str(), nullptr);
  g_simple_action_set_enabled(action_, enabled_);
  auto* weak = new std::weak_ptr<NativeMenuItem>(weak_from_this());
  g_signal_connect_data(
      action_, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
        if (auto item = static_cast<std::weak_ptr<NativeMenuItem>*>(data)->lock()) item->activate();
      }),
      weak,
      +[](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<NativeMenuItem>*>(data); },
      GConnectFlags(0));
  g_action_map_add_action(actions_->map(), G_ACTION(action_));
}

void NativeMenuItem::activate() {
  if (!enabled_ || separator_) return;
  auto self = shared_from_this();  // the handler may remove the item
  if (handler_) {
    auto handler = handler_;
    handler();
    return;
  }
  if (originalAction_.rfind("app.", 0) == 0)
    g_action_group_activate_action(G_ACTION_GROUP(actions_->map()), originalAction_.c_str() + 4,
                                   originalTarget_);
}

std::string NativeMenuItem::label() const {
  // Menus read labels with mnemonics: a literal title shows its underscores doubled.
  if (mnemonicLabel_) return *mnemonicLabel_;
  std::string label;
  label.reserve(title_.size());
  for (char c : title_) {
    if (c == '_') label += '_';
    label += c;
  }
  return label;
}

GMenuItem* NativeMenuItem::render() const {
  const std::string label = this->label();
  GMenuItem* out = g_menu_item_new(label.c_str(), nullptr);
  if (base_) {
    // Keep the layout's other attributes (icons, hidden-when, ...).
    GMenu* tmp = g_menu_new();
    g_menu_append_item(tmp, base_);
    g_object_unref(out);
    out = g_menu_item_new_from_model(G_MENU_MODEL(tmp), 0);
    g_object_unref(tmp);
    g_menu_item_set_label(out, label.c_str());
  }
  if (action_)
    g_menu_item_set_action_and_target_value(out, ("app." + actionName_).c_str(), nullptr);
  else if (!originalAction_.empty())
    g_menu_item_set_action_and_target_value(out, originalAction_.c_str(), originalTarget_);
  g_menu_item_set_attribute(out, "title", "s", title_.c_str());
  g_menu_item_set_attribute(out, "accel", accel_ ? "s" : nullptr,
                            accel_ ? accel_->c_str() : nullptr);
  if (submenu_) g_menu_item_set_submenu(out, submenu_->model());
  return out;
}

void NativeMenuItem::changed() {
  if (auto menu = menu_.lock()) menu->itemChanged(*this);
}

void NativeMenuItem::setLabel(std::string title) {
  title_ = bridge::wire::boundedTitle(title);
  mnemonicLabel_.reset();
  changed();
}

void NativeMenuItem::setEnabled(bool on) {
  enabled_ = on;
  if (!on || action_) {
    ensureAction();
    if (action_) g_simple_action_set_enabled(action_, on);
  }
  changed();
}

void NativeMenuItem::setKey(std::string key, std::uint32_t modifiers) {
  key_ = std::move(key);
  modifiers_ = modifiers;
  accel_ = menukeys::acceleratorFor(key_, modifiers_);
  ensureAction();
  if (action_ && GTK_IS_APPLICATION(actions_->map())) {
    GtkApplication* app = GTK_APPLICATION(actions_->map());
    const std::string detailed = "app." + actionName_;
    const gchar* accels[] = {accel_ ? accel_->c_str() : nullptr, nullptr};
    gtk_application_set_accels_for_action(app, detailed.c_str(), accels);
    // The application bound the layout's accelerator to the original action when the menu bar
    // was set; the item's own action carries its key from now on.
    if (originalAction_.rfind("app.", 0) == 0) {
      g_autofree gchar* original =
          g_action_print_detailed_name(originalAction_.c_str(), originalTarget_);
      const gchar* none[] = {nullptr};
      gtk_application_set_accels_for_action(app, original, none);
    }
  }
  changed();
}

void NativeMenuItem::setSubmenu(std::shared_ptr<NativeMenu> submenu) {
  if (submenu_) submenu_->parent_.reset();
  submenu_ = std::move(submenu);
  if (submenu_) submenu_->parent_ = weak_from_this();
  changed();
}

void NativeMenuItem::setHandler(std::function<void()> handler, std::any payload) {
  handler_ = std::move(handler);
  payload_ = std::move(payload);
  ensureAction();
  changed();
}

// --- NativeMenu ----------------------------------------------------------------------------

NativeMenu::NativeMenu(std::shared_ptr<MenuActions> actions, std::string title)
    : actions_(std::move(actions)), title_(std::move(title)), model_(g_menu_new()) {}

std::shared_ptr<NativeMenu> NativeMenu::create(std::shared_ptr<MenuActions> actions,
                                               std::string title) {
  return std::shared_ptr<NativeMenu>(new NativeMenu(std::move(actions), std::move(title)));
}

NativeMenu::~NativeMenu() {
  for (auto& item : items_) item->menu_.reset();
  g_object_unref(model_);
}

GMenuModel* NativeMenu::model() const {
  return G_MENU_MODEL(model_);
}

void NativeMenu::importFrom(GMenuModel* model) {
  for (auto& item : items_) item->menu_.reset();
  items_.clear();
  separators_ = 0;
  // One imported item (with its submenu) at `index` of `from`.
  auto importItem = [this](GMenuModel* from, int index) {
    gchar* label = nullptr;
    g_menu_model_get_item_attribute(from, index, G_MENU_ATTRIBUTE_LABEL, "s", &label);
    auto item = std::make_shared<NativeMenuItem>(actions_, titleOfLabel(label ? label : ""), false);
    if (label) item->mnemonicLabel_ = label;
    g_free(label);
    item->importFrom(from, index);
    item->menu_ = weak_from_this();
    if (GMenuModel* sub = g_menu_model_get_item_link(from, index, G_MENU_LINK_SUBMENU)) {
      auto child = create(actions_, item->title());
      child->importFrom(sub);
      child->parent_ = item;
      item->submenu_ = child;
      g_object_unref(sub);
    }
    items_.push_back(std::move(item));
  };
  const int n = g_menu_model_get_n_items(model);
  for (int i = 0; i < n; ++i) {
    GMenuModel* section = g_menu_model_get_item_link(model, i, G_MENU_LINK_SECTION);
    if (!section) {
      importItem(model, i);
      continue;
    }
    const int m = g_menu_model_get_n_items(section);
    if (!items_.empty() && m > 0) {
      auto sep = std::make_shared<NativeMenuItem>(actions_, "", true);
      sep->menu_ = weak_from_this();
      items_.push_back(std::move(sep));
      ++separators_;
    }
    for (int j = 0; j < m; ++j) importItem(section, j);
    g_object_unref(section);
  }
  render();
}

void NativeMenu::render() {
  g_menu_remove_all(model_);
  sections_.clear();
  GMenu* target = model_;
  auto openSection = [&] {
    GMenu* section = g_menu_new();
    g_menu_append_section(model_, nullptr, G_MENU_MODEL(section));
    g_object_unref(section);  // the model holds it
    sections_.push_back(section);
    target = section;
  };
  if (hasSeparators()) openSection();
  for (auto& item : items_) {
    if (item->isSeparator()) {
      item->renderedIn_ = nullptr;
      openSection();
      continue;
    }
    GMenuItem* rendered = item->render();
    item->renderedIn_ = target;
    item->renderedAt_ = g_menu_model_get_n_items(G_MENU_MODEL(target));
    g_menu_append_item(target, rendered);
    g_object_unref(rendered);
  }
}

void NativeMenu::itemChanged(NativeMenuItem& item) {
  if (!item.renderedIn_ || item.renderedAt_ < 0) return;
  GMenuItem* rendered = item.render();
  g_menu_remove(item.renderedIn_, item.renderedAt_);
  g_menu_insert_item(item.renderedIn_, item.renderedAt_, rendered);
  g_object_unref(rendered);
}

void NativeMenu::shiftSection(std::size_t from, int delta) {
  for (std::size_t i = from; i < items_.size() && !items_[i]->isSeparator(); ++i)
    items_[i]->renderedAt_ += delta;
}

std::shared_ptr<NativeMenuItem> NativeMenu::insertItem(std::string label,
                                                       std::optional<long long> index) {
  const auto count = static_cast<long long>(items_.size());
  if (items_.size() >= kMaxItems || (index && (*index < 0 || *index > count))) return nullptr;
  const auto at = static_cast<std::size_t>(index.value_or(count));
  auto item = std::make_shared<NativeMenuItem>(actions_, std::move(label), false);
  item->menu_ = weak_from_this();
  // Its section and place there: after the nearest item before it (or the section's start).
  GMenu* target = model_;
  int position = 0;
  std::size_t section = 0;
  for (std::size_t i = at; i-- > 0;) {
    if (items_[i]->isSeparator()) {
      // The section a separator opens: count the separators up to it (rare, short walk).
      section = static_cast<std::size_t>(
          std::count_if(items_.begin(), items_.begin() + static_cast<long>(i) + 1,
                        [](const auto& x) { return x->isSeparator(); }));
      break;
    }
    if (items_[i]->renderedIn_) {
      target = items_[i]->renderedIn_;
      position = items_[i]->renderedAt_ + 1;
      break;
    }
  }
  if (hasSeparators() && target == model_) target = sections_.at(section);
  items_.insert(items_.begin() + static_cast<long>(at), item);
  shiftSection(at + 1, 1);
  GMenuItem* rendered = item->render();
  item->renderedIn_ = target;
  item->renderedAt_ = position;
  g_menu_insert_item(target, position, rendered);
  g_object_unref(rendered);
  return item;
}

void NativeMenu::addSeparator() {
  if (items_.size() >= kMaxItems) return;
  auto sep = std::make_shared<NativeMenuItem>(actions_, "", true);
  sep->menu_ = weak_from_this();
  items_.push_back(std::move(sep));
  if (separators_++ == 0) {
    render();  // the menu's items move into sections
    return;
  }
  GMenu* section = g_menu_new();
  g_menu_append_section(model_, nullptr, G_MENU_MODEL(section));
  g_object_unref(section);
  sections_.push_back(section);
}

bool NativeMenu::removeItem(const std::shared_ptr<NativeMenuItem>& item) {
  // Searched from both ends at once: the items a page removes are mostly its last or first.
  auto it = items_.end();
  for (std::size_t front = 0, back = items_.size(); front < back;) {
    if (items_[front] == item) {
      it = items_.begin() + static_cast<long>(front);
      break;
    }
    if (items_[--back] == item) {
      it = items_.begin() + static_cast<long>(back);
      break;
    }
    ++front;
  }
  if (it == items_.end()) return false;
  const auto at = static_cast<std::size_t>(it - items_.begin());
  auto removed = std::move(*it);
  items_.erase(it);
  removed->menu_.reset();
  removed->detachFromMenu();
  if (removed->isSeparator()) {
    --separators_;
    render();
  } else if (removed->renderedIn_) {
    g_menu_remove(removed->renderedIn_, removed->renderedAt_);
    shiftSection(at, -1);
  }
  removed->renderedIn_ = nullptr;
  return true;
}

std::shared_ptr<NativeMenuItem> NativeMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_)
    if (!item->isSeparator() && item->title() == title) return item;
  return nullptr;
}

}  // namespace wd
