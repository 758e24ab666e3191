#include "shell/app/MainMenu.h"

#include <gtk/gtk.h>

#include <cstring>
#include <string_view>

#include "core/I18n.h"
#include "core/Log.h"
#include "core/SafeFileReader.h"
#include "shell/app/AppDelegate.h"
#include "shell/menu/NativeMenu.h"

namespace wd {

namespace {

// A layout is a few kilobytes; the cap only keeps a damaged resource from filling memory.
constexpr std::size_t kMaxLayoutBytes = 4u * 1024u * 1024u;

constexpr const char* kTitleActions[] = {"newItem", "messageAction", "gotoModule",
                                         "openShowFeedback"};

// Copies `model` into `out`, giving every labelled item its title (the untranslated label of
// the same item in `source`, the layout read without translation, without access-key
// underscores) as attribute "title", and title-taking items that title as target.
void copyMenu(GMenuModel* model, GMenuModel* source, GMenu* out) {
  const int n = g_menu_model_get_n_items(model);
  const bool matching = source && g_menu_model_get_n_items(source) == n;
  for (int i = 0; i < n; ++i) {
    GMenuItem* item = g_menu_item_new_from_model(model, i);
    gchar* action = nullptr;
    gchar* label = nullptr;
    g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
    g_menu_model_get_item_attribute(matching ? source : model, i, G_MENU_ATTRIBUTE_LABEL, "s",
                                    &label);
    if (label) {
      const std::string title = MainMenu::titleOf(label);
      g_menu_item_set_attribute(item, "title", "s", title.c_str());
      GVariant* target =
          g_menu_model_get_item_attribute_value(model, i, G_MENU_ATTRIBUTE_TARGET, nullptr);
      if (action && !target && g_str_has_prefix(action, "app.") &&
          MainMenu::passesTitle(action + 4))
        g_menu_item_set_action_and_target_value(item, action, g_variant_new_string(title.c_str()));
      if (target) g_variant_unref(target);
    }
    g_free(action);
    g_free(label);
    for (const char* link : {G_MENU_LINK_SUBMENU, G_MENU_LINK_SECTION}) {
      if (GMenuModel* sub = g_menu_model_get_item_link(model, i, link)) {
        GMenuModel* sourceSub = matching ? g_menu_model_get_item_link(source, i, link) : nullptr;
        GMenu* copy = g_menu_new();
        copyMenu(sub, sourceSub, copy);
        g_menu_item_set_link(item, link, G_MENU_MODEL(copy));
        g_object_unref(copy);
        if (sourceSub) g_object_unref(sourceSub);
        g_object_unref(sub);
      }
    }
    g_menu_append_item(out, item);
    g_object_unref(item);
  }
}

// The layout's "menubar" read from `text`, translated or not; none when it does not read.
GtkBuilder* buildMenu(const std::string& text, bool translated, GError** error) {
  GtkBuilder* builder = gtk_builder_new();
  if (translated) gtk_builder_set_translation_domain(builder, GETTEXT_PACKAGE);
  if (gtk_builder_add_from_string(builder, text.data(), static_cast<gssize>(text.size()), error))
    return builder;
  g_object_unref(builder);
  return nullptr;
}

bool findIn(GMenuModel* model, const std::string& label, MainMenu::Item& out) {
  const int n = g_menu_model_get_n_items(model);
  for (int i = 0; i < n; ++i) {
    gchar* itemTitle = nullptr;
    g_menu_model_get_item_attribute(model, i, "title", "s", &itemTitle);
    bool match = itemTitle && MainMenu::titleOf(label) == itemTitle;
    g_free(itemTitle);
    if (match) {
      gchar* action = nullptr;
      if (g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_ACTION, "s", &action)) {
        out.label = MainMenu::titleOf(label);
        out.action = action;
        g_free(action);
        GVariant* target = g_menu_model_get_item_attribute_value(model, i, G_MENU_ATTRIBUTE_TARGET,
                                                                 G_VARIANT_TYPE_STRING);
        if (target) {
          out.target = g_variant_get_string(target, nullptr);
          g_variant_unref(target);
        }
        return true;
      }
    }
    for (const char* link : {G_MENU_LINK_SUBMENU, G_MENU_LINK_SECTION}) {
      if (GMenuModel* sub = g_menu_model_get_item_link(model, i, link)) {
        bool found = findIn(sub, label, out);
        g_object_unref(sub);
        if (found) return true;
      }
    }
  }
  return false;
}

struct ActionContext {
  MainMenu* menu;
  std::function<void(AppDelegate&, const std::string&)> run;
};

}  // namespace

std::string MainMenu::titleOf(const std::string& label) {
  return titleOfLabel(label);
}

bool MainMenu::passesTitle(const std::string& actionName) {
  for (const char* a : kTitleActions)
    if (actionName == a) return true;
  return false;
}

MainMenu::MainMenu(GActionMap* actions, std::function<AppDelegate*()> delegate)
    : actions_(actions), delegate_(std::move(delegate)), menubar_(g_menu_new()) {
  g_object_ref(actions_);
  menuActions_ = std::make_shared<MenuActions>(actions_);
  root_ = NativeMenu::create(menuActions_, "");
  addActions();
}

MainMenu::~MainMenu() {
  root_.reset();
  g_object_unref(menubar_);
  if (outOfOffice_) g_object_unref(outOfOffice_);
  g_object_unref(actions_);
}

GMenuModel* MainMenu::model() const {
  return root_->model();
}

bool MainMenu::load(const std::string& uiFile) {
  GError* error = nullptr;
  const auto layout = readRegularFile(uiFile, kMaxLayoutBytes);
  GtkBuilder* builder = layout.data ? buildMenu(*layout.data, true, &error) : nullptr;
  if (!builder) {
    WD_LOG_INFO(
        "The menu layout {} cannot be read: {}", uiFile,
        !layout.data ? layout.error : std::string(error ? error->message : "unknown error"));
    g_clear_error(&error);
    return false;
  }
  // The same layout without translation gives every item's title.
  std::string source = *layout.data;
  constexpr std::string_view kTranslatable = " translatable=\"yes\"";
  for (std::size_t at = 0; (at = source.find(kTranslatable, at)) != std::string::npos;)
    source.erase(at, kTranslatable.size());
  GtkBuilder* untranslated = buildMenu(source, false, nullptr);
  GObject* menubar = gtk_builder_get_object(builder, "menubar");
  GObject* sourceBar = untranslated ? gtk_builder_get_object(untranslated, "menubar") : nullptr;
  bool ok = menubar && G_IS_MENU_MODEL(menubar);
  if (ok) {
    g_menu_remove_all(menubar_);
    copyMenu(G_MENU_MODEL(menubar),
             sourceBar && G_IS_MENU_MODEL(sourceBar) ? G_MENU_MODEL(sourceBar) : nullptr, menubar_);
    root_->importFrom(G_MENU_MODEL(menubar_));
  }
  if (untranslated) g_object_unref(untranslated);
  g_object_unref(builder);
  return ok;
}

void MainMenu::addActions() {
  auto add = [this](const char* name, const GVariantType* parameter,
                    std::function<void(AppDelegate&, const std::string&)> run) {
    GSimpleAction* action = g_simple_action_new(name, parameter);
    auto* ctx = new ActionContext{this, std::move(run)};
    g_signal_connect_data(
        action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* param, gpointer data) {
          auto* c = static_cast<ActionContext*>(data);
          AppDelegate* d = c->menu->delegate_ ? c->menu->delegate_() : nullptr;
          if (!d) return;
          std::string text;
          if (param && g_variant_is_of_type(param, G_VARIANT_TYPE_STRING))
            text = g_variant_get_string(param, nullptr);
          c->run(*d, text);
        }),
        ctx, +[](gpointer data, GClosure*) { delete static_cast<ActionContext*>(data); },
        GConnectFlags(0));
    g_action_map_add_action(actions_, G_ACTION(action));
    g_object_unref(action);
  };
  const GVariantType* s = G_VARIANT_TYPE_STRING;
  add("newItem", s, [](AppDelegate& d, const std::string& t) { d.newItem(t); });
  add("messageAction", s, [](AppDelegate& d, const std::string& t) { d.messageAction(t); });
  add("gotoModule", s, [](AppDelegate& d, const std::string& t) { d.gotoModule(t); });
  add("openShowFeedback", s, [](AppDelegate& d, const std::string& t) { d.openShowFeedback(t); });
  add("editCommand", s, [](AppDelegate& d, const std::string& t) { d.editCommand(t); });
  add("fulltextSearch", nullptr, [](AppDelegate& d, const std::string&) { d.fulltextSearch(); });
  add("openAboutWindow", nullptr, [](AppDelegate& d, const std::string&) { d.openAboutWindow(); });
  add("openUpdateWindow", nullptr,
      [](AppDelegate& d, const std::string&) { d.openUpdateWindow(); });
  add("openPreferences", nullptr, [](AppDelegate& d, const std::string&) { d.openPreferences(); });
  add("showMainWindow", nullptr,
      [](AppDelegate& d, const std::string&) { d.showMainWindow(true); });
  add("openKnowledgebaseUrl", nullptr,
      [](AppDelegate& d, const std::string&) { d.openKnowledgebaseUrl(); });
  add("openSupportUrl", nullptr, [](AppDelegate& d, const std::string&) { d.openSupportUrl(); });
  add("printContent", nullptr, [](AppDelegate& d, const std::string&) { d.printContent(); });
  add("closeWindow", nullptr, [](AppDelegate& d, const std::string&) { d.closeFrontWindow(); });
  add("quit", nullptr, [](AppDelegate& d, const std::string&) { d.terminate(); });

  // The Out of Office item: a check item whose state only setOutOfOfficeState changes.
  outOfOffice_ =
      g_simple_action_new_stateful("setOutOfOffice", nullptr, g_variant_new_boolean(FALSE));
  auto* ctx = new ActionContext{
      this, [this](AppDelegate& d, const std::string&) { d.setOutOfOffice(outOfOfficeState()); }};
  g_signal_connect_data(
      outOfOffice_, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
        auto* c = static_cast<ActionContext*>(data);
        AppDelegate* d = c->menu->delegate_ ? c->menu->delegate_() : nullptr;
        if (d) c->run(*d, {});
      }),
      ctx, +[](gpointer data, GClosure*) { delete static_cast<ActionContext*>(data); },
      GConnectFlags(0));
  g_action_map_add_action(actions_, G_ACTION(outOfOffice_));
}

void MainMenu::setOutOfOfficeState(bool on) {
  g_simple_action_set_state(outOfOffice_, g_variant_new_boolean(on));
}

bool MainMenu::outOfOfficeState() const {
  GVariant* state = g_action_get_state(G_ACTION(outOfOffice_));
  bool on = state && g_variant_get_boolean(state);
  if (state) g_variant_unref(state);
  return on;
}

std::optional<MainMenu::Item> MainMenu::findItem(const std::string& label) const {
  Item item;
  if (!findIn(model(), label, item)) return std::nullopt;
  return item;
}

bool MainMenu::activateItem(const std::string& label) {
  auto item = findItem(label);
  if (!item || item->action.rfind("app.", 0) != 0) return false;
  const std::string name = item->action.substr(4);
  GVariant* target = item->target ? g_variant_new_string(item->target->c_str()) : nullptr;
  g_action_group_activate_action(G_ACTION_GROUP(actions_), name.c_str(), target);
  return true;
}

}  // namespace wd
