#include "shell/menu/NativeMenu.h"

#include <gtk/gtk.h>

#include <algorithm>

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

NativeMenuItem::NativeMenuItem(std::shared_ptr<MenuActions> actions, std::string label,
                               bool separator)
    : actions_(std::move(actions)), label_(std::move(label)), separator_(separator) {}

NativeMenuItem::~NativeMenuItem() {
  if (action_) {
    if (GTK_IS_APPLICATION(actions_->map())) {
      const std::string detailed = "app." + actionName_;
      const gchar* none[] = {nullptr};
      gtk_application_set_accels_for_action(GTK_APPLICATION(actions_->map()), detailed.c_str(),
                                            none);
    }
    g_action_map_remove_action(actions_->map(), actionName_.c_str());
    g_object_unref(action_);
  }
  if (base_) g_object_unref(base_);
  if (originalTarget_) g_variant_unref(originalTarget_);
}

std::string NativeMenuItem::title() const {
  if (layoutTitle_) return *layoutTitle_;
  return titleOfLabel(label_);
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
  gchar* title = nullptr;
  if (g_menu_model_get_item_attribute(model, index, "title", "s", &title)) {
    layoutTitle_ = title;
    g_free(title);
  }
  gchar* accel = nullptr;
  if (g_menu_model_get_item_attribute(model, index, "accel", "s", &accel)) {
    accel_ = accel;
    g_free(accel);
  }
}

void NativeMenuItem::ensureAction() {
  if (action_) return;
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

GMenuItem* NativeMenuItem::render() const {
  GMenuItem* out = g_menu_item_new(label_.c_str(), nullptr);
  if (base_) {
    // Keep the layout's other attributes (icons, hidden-when, ...).
    GMenu* tmp = g_menu_new();
    g_menu_append_item(tmp, base_);
    g_object_unref(out);
    out = g_menu_item_new_from_model(G_MENU_MODEL(tmp), 0);
    g_object_unref(tmp);
    g_menu_item_set_label(out, label_.c_str());
  }
  if (action_)
    g_menu_item_set_action_and_target_value(out, ("app." + actionName_).c_str(), nullptr);
  else if (!originalAction_.empty())
    g_menu_item_set_action_and_target_value(out, originalAction_.c_str(), originalTarget_);
  g_menu_item_set_attribute(out, "title", "s", title().c_str());
  g_menu_item_set_attribute(out, "accel", accel_ ? "s" : nullptr,
                            accel_ ? accel_->c_str() : nullptr);
  if (submenu_) g_menu_item_set_submenu(out, submenu_->model());
  return out;
}

void NativeMenuItem::changed() {
  if (auto menu = menu_.lock()) menu->itemChanged(*this);
}

void NativeMenuItem::setLabel(std::string label) {
  label_ = std::move(label);
  layoutTitle_.reset();
  changed();
}

void NativeMenuItem::setEnabled(bool on) {
  enabled_ = on;
  if (!on || action_) {
    ensureAction();
    g_simple_action_set_enabled(action_, on);
  }
  changed();
}

void NativeMenuItem::setKey(std::string key, std::uint32_t modifiers) {
  key_ = std::move(key);
  modifiers_ = modifiers;
  accel_ = menukeys::acceleratorFor(key_, modifiers_);
  ensureAction();
  if (GTK_IS_APPLICATION(actions_->map())) {
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
  // One imported item (with its submenu) at `index` of `from`.
  auto importItem = [this](GMenuModel* from, int index) {
    gchar* label = nullptr;
    g_menu_model_get_item_attribute(from, index, G_MENU_ATTRIBUTE_LABEL, "s", &label);
    auto item = std::make_shared<NativeMenuItem>(actions_, label ? label : "", false);
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
    }
    for (int j = 0; j < m; ++j) importItem(section, j);
    g_object_unref(section);
  }
  render();
}

void NativeMenu::render() {
  const bool sections =
      std::any_of(items_.begin(), items_.end(), [](const auto& i) { return i->isSeparator(); });
  g_menu_remove_all(model_);
  GMenu* target = model_;
  GMenu* section = nullptr;
  auto openSection = [&] {
    section = g_menu_new();
    g_menu_append_section(model_, nullptr, G_MENU_MODEL(section));
    g_object_unref(section);  // the model holds it
    target = section;
  };
  if (sections) openSection();
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

std::shared_ptr<NativeMenuItem> NativeMenu::insertItem(std::string label,
                                                       std::optional<long long> index) {
  const auto count = static_cast<long long>(items_.size());
  if (index && (*index < 0 || *index > count)) return nullptr;
  auto item = std::make_shared<NativeMenuItem>(actions_, std::move(label), false);
  item->menu_ = weak_from_this();
  items_.insert(index ? items_.begin() + *index : items_.end(), item);
  render();
  return item;
}

void NativeMenu::addSeparator() {
  auto sep = std::make_shared<NativeMenuItem>(actions_, "", true);
  sep->menu_ = weak_from_this();
  items_.push_back(std::move(sep));
  render();
}

bool NativeMenu::removeItem(const std::shared_ptr<NativeMenuItem>& item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return false;
  (*it)->menu_.reset();
  (*it)->renderedIn_ = nullptr;
  items_.erase(it);
  render();
  return true;
}

std::shared_ptr<NativeMenuItem> NativeMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_)
    if (!item->isSeparator() && item->title() == title) return item;
  return nullptr;
}

}  // namespace wd
