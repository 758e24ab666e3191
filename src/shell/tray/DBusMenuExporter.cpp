#include "shell/tray/DBusMenuExporter.h"

#include <string>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/GLibPtr.h"

namespace wd {

namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision"/>
      <arg type="i" name="parent"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id"/>
      <arg type="u" name="timestamp"/>
    </signal>
  </interface>
</node>)xml";

// One item of the flattened menu; its id is its index.
struct Item {
  bool separator = false;
  std::string label;
  std::string action;  // the name on the action group; empty: none
  GVariantRef target;
  bool enabled = false;
  std::string toggleType;  // "", "checkmark", "radio"
  int toggleState = 0;
  std::string accel;
  bool submenu = false;
  std::vector<int> children;
};

std::string stringAttribute(GMenuModel* model, int index, const char* name) {
  g_autofree gchar* value = nullptr;
  if (!g_menu_model_get_item_attribute(model, index, name, "s", &value)) return {};
  return value;  // GVariant strings are valid UTF-8 without NUL
}

}  // namespace

struct DBusMenuExporter::Impl {
  GObjectRef<GDBusConnection> connection;
  std::string path;
  guint registration = 0;
  GObjectRef<GMenuModel> model;
  GObjectRef<GActionGroup> actions;
  std::vector<std::pair<GObjectRef<GObject>, gulong>> watches;  // models and the action group
  std::vector<Item> items;
  unsigned revision = 1;
  bool built = false;
  bool announced = false;  // LayoutUpdated sent since the layout was last built

  ~Impl() { unwatch(); }

  void unwatch() {
    for (auto& [object, handler] : watches) g_signal_handler_disconnect(object.get(), handler);
    watches.clear();
  }
  void watch(gpointer object, const char* signal, GCallback callback) {
    gulong id = g_signal_connect_swapped(object, signal, callback, this);
    watches.emplace_back(refObject(G_OBJECT(object)), id);
  }

  static void onChanged(Impl* self) { self->changed(); }

  void changed() {
    built = false;
    if (announced) return;
    announced = true;
    ++revision;
    if (connection)
      g_dbus_connection_emit_signal(connection.get(), nullptr, path.c_str(),
                                    DBusMenuExporter::kInterface, "LayoutUpdated",
                                    g_variant_new("(ui)", revision, 0), nullptr);
  }

  // The name to activate on the action group for a menu item's "action" attribute.
  std::string actionName(const std::string& detailed) const {
    if (!actions || detailed.empty()) return {};
    if (g_action_group_has_action(actions.get(), detailed.c_str())) return detailed;
    auto dot = detailed.find('.');
    if (dot == std::string::npos) return {};
    std::string bare = detailed.substr(dot + 1);
    return g_action_group_has_action(actions.get(), bare.c_str()) ? bare : std::string();
  }

  void fillAction(Item& item, GMenuModel* m, int index) {
    const std::string name = actionName(stringAttribute(m, index, G_MENU_ATTRIBUTE_ACTION));
    item.target.reset(
        g_menu_model_get_item_attribute_value(m, index, G_MENU_ATTRIBUTE_TARGET, nullptr));
    if (name.empty()) return;
    item.action = name;
    item.enabled = g_action_group_get_action_enabled(actions.get(), name.c_str());
    GVariantRef state(g_action_group_get_action_state(actions.get(), name.c_str()));
    if (!state) return;
    if (item.target && g_variant_type_equal(g_variant_get_type(state.get()),
                                            g_variant_get_type(item.target.get()))) {
      item.toggleType = "radio";
      item.toggleState = g_variant_equal(state.get(), item.target.get()) ? 1 : 0;
    } else if (!item.target && g_variant_is_of_type(state.get(), G_VARIANT_TYPE_BOOLEAN)) {
      item.toggleType = "checkmark";
      item.toggleState = g_variant_get_boolean(state.get()) ? 1 : 0;
    }
  }

  // Appends the items of `m` as children of `parent`; sections are inlined between separators.
  void addItems(GMenuModel* m, int parent, int depth) {
    if (depth > 32) return;  // a model that links to itself
    watch(m, "items-changed", G_CALLBACK(onChanged));
    const int n = g_menu_model_get_n_items(m);
    for (int i = 0; i < n; ++i) {
      if (GObjectRef<GMenuModel> section{g_menu_model_get_item_link(m, i, G_MENU_LINK_SECTION)}) {
        separate(parent);
        addItems(section.get(), parent, depth + 1);
        separate(parent);
        continue;
      }
      Item& item = addChild(parent);
      item.label = stringAttribute(m, i, G_MENU_ATTRIBUTE_LABEL);
      item.accel = stringAttribute(m, i, "accel");
      fillAction(item, m, i);
      if (GObjectRef<GMenuModel> sub{g_menu_model_get_item_link(m, i, G_MENU_LINK_SUBMENU)}) {
        const int id = static_cast<int>(items.size()) - 1;
        items[static_cast<std::size_t>(id)].submenu = true;
        items[static_cast<std::size_t>(id)].enabled = true;
        addItems(sub.get(), id, depth + 1);
      }
    }
    // No separator at the end of a menu.
    auto& siblings = items[static_cast<std::size_t>(parent)].children;
    while (!siblings.empty() && items[static_cast<std::size_t>(siblings.back())].separator)
      siblings.pop_back();
  }

  // A separator after the parent's last item, unless it has none or ends with one.
  void separate(int parent) {
    const auto& siblings = items[static_cast<std::size_t>(parent)].children;
    if (!siblings.empty() && !items[static_cast<std::size_t>(siblings.back())].separator)
      addChild(parent).separator = true;
  }

  Item& addChild(int parent) {
    items.emplace_back();
    const int id = static_cast<int>(items.size()) - 1;
    items[static_cast<std::size_t>(parent)].children.push_back(id);
    return items.back();
  }

  void build() {
    if (built) return;
    unwatch();
    items.clear();
    items.emplace_back();  // the root, id 0
    items[0].submenu = true;
    if (model) addItems(model.get(), 0, 0);
    if (actions) {
      for (const char* signal :
           {"action-added", "action-removed", "action-enabled-changed", "action-state-changed"})
        watch(actions.get(), signal, G_CALLBACK(onChanged));
    }
    built = true;
    announced = false;
  }

  const Item* item(int id) {
    build();
    if (id < 0 || static_cast<std::size_t>(id) >= items.size()) return nullptr;
    return &items[static_cast<std::size_t>(id)];
  }

  static bool wanted(const std::vector<std::string>& names, const char* name) {
    if (names.empty()) return true;
    for (const auto& n : names)
      if (n == name) return true;
    return false;
  }

  GVariant* properties(const Item& it, const std::vector<std::string>& names) const {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    auto add = [&](const char* name, GVariant* value) {
      if (wanted(names, name))
        g_variant_builder_add(&b, "{sv}", name, value);
      else
        g_variant_unref(g_variant_ref_sink(value));
    };
    if (it.separator) {
      add("type", g_variant_new_string("separator"));
      return g_variant_builder_end(&b);
    }
    if (&it != &items[0]) {
      add("label", g_variant_new_string(it.label.c_str()));
      add("enabled", g_variant_new_boolean(it.enabled));
      add("visible", g_variant_new_boolean(TRUE));
    }
    if (!it.toggleType.empty()) {
      add("toggle-type", g_variant_new_string(it.toggleType.c_str()));
      add("toggle-state", g_variant_new_int32(it.toggleState));
    }
    if (it.submenu) add("children-display", g_variant_new_string("submenu"));
    if (!it.accel.empty()) {
      if (GVariant* shortcut = shortcutOf(it.accel)) add("shortcut", shortcut);
    }
    return g_variant_builder_end(&b);
  }

  // "<Primary><Shift>n" as dbusmenu's [["Control", "Shift", "n"]].
  static GVariant* shortcutOf(const std::string& accel) {
    guint key = 0;
    GdkModifierTypeLike mods = 0;
    gtkParse(accel, key, mods);
    if (key == 0) return nullptr;
    GVariantBuilder keys;
    g_variant_builder_init(&keys, G_VARIANT_TYPE("as"));
    for (const auto& [bit, name] : kModifierNames)
      if (mods & bit) g_variant_builder_add(&keys, "s", name);
    g_variant_builder_add(&keys, "s", keyName(accel).c_str());
    GVariantBuilder outer;
    g_variant_builder_init(&outer, G_VARIANT_TYPE("aas"));
    g_variant_builder_add_value(&outer, g_variant_builder_end(&keys));
    return g_variant_builder_end(&outer);
  }

  using GdkModifierTypeLike = unsigned;
  static constexpr std::pair<unsigned, const char*> kModifierNames[] = {
      {1u, "Control"}, {2u, "Alt"}, {4u, "Shift"}, {8u, "Super"}};

  // Reads the modifiers of an accelerator string ("<Primary>", "<Control>", "<Ctrl>", "<Alt>",
  // "<Shift>", "<Super>") and whether a key name follows.
  static void gtkParse(const std::string& accel, guint& key, unsigned& mods) {
    std::size_t i = 0;
    while (i < accel.size() && accel[i] == '<') {
      auto end = accel.find('>', i);
      if (end == std::string::npos) return;
      g_autofree gchar* mod =
          g_ascii_strdown(accel.c_str() + i + 1, static_cast<gssize>(end - i - 1));
      const std::string m = mod;
      if (m == "primary" || m == "control" || m == "ctrl" || m == "ctl")
        mods |= 1u;
      else if (m == "alt" || m == "mod1")
        mods |= 2u;
      else if (m == "shift" || m == "shft")
        mods |= 4u;
      else if (m == "super" || m == "meta")
        mods |= 8u;
      i = end + 1;
    }
    key = i < accel.size() ? 1u : 0u;
  }
  static std::string keyName(const std::string& accel) {
    auto end = accel.rfind('>');
    return end == std::string::npos ? accel : accel.substr(end + 1);
  }

  GVariant* layout(int id, int depth, const std::vector<std::string>& names) {
    const Item& it = items[static_cast<std::size_t>(id)];
    GVariantBuilder children;
    g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
    if (depth != 0)
      for (int child : it.children)
        g_variant_builder_add(&children, "v", layout(child, depth < 0 ? -1 : depth - 1, names));
    return g_variant_new("(i@a{sv}av)", id, properties(it, names), &children);
  }

  // Activates the item's action; false for an unknown id.
  bool event(int id, const char* eventId) {
    const Item* it = item(id);
    if (!it) return false;
    if (g_strcmp0(eventId, "clicked") != 0 || it->action.empty() || !it->enabled) return true;
    // The action may change the menu: hold what the call uses.
    auto group = refObject(actions.get());
    std::string name = it->action;
    // Menu items name application actions as "app.NAME"; the group holds them as "NAME".
    if (!g_action_group_has_action(group.get(), name.c_str()) && name.rfind("app.", 0) == 0)
      name.erase(0, 4);
    GVariantRef target(it->target ? g_variant_ref(it->target.get()) : nullptr);
    g_action_group_activate_action(group.get(), name.c_str(), target.get());
    return true;
  }

  void call(const gchar* method, GVariant* params, GDBusMethodInvocation* invocation);
};

namespace {

std::vector<std::string> stringList(GVariant* as) {
  std::vector<std::string> out;
  GVariantIter iter;
  const gchar* s = nullptr;
  g_variant_iter_init(&iter, as);
  while (g_variant_iter_next(&iter, "&s", &s)) out.emplace_back(s);
  return out;
}

void invalidId(GDBusMethodInvocation* invocation, int id) {
  g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                        "No menu item with id %d", id);
}

using WeakImpl = std::weak_ptr<DBusMenuExporter::Impl>;

void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
              GVariant* params, GDBusMethodInvocation* invocation, gpointer data) {
  auto impl = static_cast<WeakImpl*>(data)->lock();
  if (!impl) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT,
                                          "The menu is gone");
    return;
  }
  impl->call(method, params, invocation);
}

GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                        const gchar* name, GError** error, gpointer) {
  if (g_strcmp0(name, "Version") == 0) return g_variant_new_uint32(3);
  if (g_strcmp0(name, "TextDirection") == 0) return g_variant_new_string("ltr");
  if (g_strcmp0(name, "Status") == 0) return g_variant_new_string("normal");
  if (g_strcmp0(name, "IconThemePath") == 0) return g_variant_new_strv(nullptr, 0);
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", name);
  return nullptr;
}

const GDBusInterfaceVTable kVTable = {onMethod, onGetProperty, nullptr, {}};

GDBusInterfaceInfo* interfaceInfo() {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node->interfaces[0];
}

}  // namespace

void DBusMenuExporter::Impl::call(const gchar* method, GVariant* params,
                                  GDBusMethodInvocation* invocation) {
  const std::string m = method;
  if (m == "GetLayout") {
    gint32 parent = 0, depth = 0;
    g_autoptr(GVariant) names = nullptr;
    g_variant_get(params, "(ii@as)", &parent, &depth, &names);
    if (!item(parent)) return invalidId(invocation, parent);
    g_dbus_method_invocation_return_value(
        invocation,
        g_variant_new("(u@(ia{sv}av))", revision, layout(parent, depth, stringList(names))));
  } else if (m == "GetGroupProperties") {
    g_autoptr(GVariant) ids = nullptr;
    g_autoptr(GVariant) names = nullptr;
    g_variant_get(params, "(@ai@as)", &ids, &names);
    const auto wantedNames = stringList(names);
    build();
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(ia{sv})"));
    GVariantIter iter;
    gint32 id = 0;
    g_variant_iter_init(&iter, ids);
    while (g_variant_iter_next(&iter, "i", &id))
      if (const Item* it = item(id))
        g_variant_builder_add(&b, "(i@a{sv})", id, properties(*it, wantedNames));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &b));
  } else if (m == "GetProperty") {
    gint32 id = 0;
    const gchar* name = nullptr;
    g_variant_get(params, "(i&s)", &id, &name);
    const Item* it = item(id);
    if (!it) return invalidId(invocation, id);
    GVariantRef props(g_variant_ref_sink(properties(*it, {name})));
    GVariantRef value(g_variant_lookup_value(props.get(), name, nullptr));
    if (!value)
      return g_dbus_method_invocation_return_error(
          invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "No property %s", name);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value.get()));
  } else if (m == "Event") {
    gint32 id = 0;
    const gchar* eventId = nullptr;
    g_variant_get(params, "(i&svu)", &id, &eventId, nullptr, nullptr);
    if (!event(id, eventId)) return invalidId(invocation, id);
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else if (m == "EventGroup") {
    g_autoptr(GVariant) events = nullptr;
    g_variant_get(params, "(@a(isvu))", &events);
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    GVariantIter iter;
    gint32 id = 0;
    const gchar* eventId = nullptr;
    g_variant_iter_init(&iter, events);
    while (g_variant_iter_next(&iter, "(i&svu)", &id, &eventId, nullptr, nullptr))
      if (!event(id, eventId)) g_variant_builder_add(&errors, "i", id);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
  } else if (m == "AboutToShow") {
    gint32 id = 0;
    g_variant_get(params, "(i)", &id);
    if (!item(id)) return invalidId(invocation, id);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
  } else if (m == "AboutToShowGroup") {
    g_autoptr(GVariant) ids = nullptr;
    g_variant_get(params, "(@ai)", &ids);
    GVariantBuilder updates, errors;
    g_variant_builder_init(&updates, G_VARIANT_TYPE("ai"));
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    GVariantIter iter;
    gint32 id = 0;
    g_variant_iter_init(&iter, ids);
    while (g_variant_iter_next(&iter, "i", &id))
      if (!item(id)) g_variant_builder_add(&errors, "i", id);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(aiai)", &updates, &errors));
  } else {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                          "No method %s", method);
  }
}

DBusMenuExporter::DBusMenuExporter(GDBusConnection* connection, const char* path)
    : impl_(std::make_shared<Impl>()) {
  impl_->connection = refObject(connection);
  impl_->path = path;
  g_autoptr(GError) error = nullptr;
  impl_->registration = g_dbus_connection_register_object(
      connection, path, interfaceInfo(), &kVTable, new WeakImpl(impl_),
      [](gpointer data) { delete static_cast<WeakImpl*>(data); }, &error);
  if (!impl_->registration) WD_LOG_INFO("Tray menu not exported: {}", error->message);
}

DBusMenuExporter::~DBusMenuExporter() {
  if (impl_->registration)
    g_dbus_connection_unregister_object(impl_->connection.get(), impl_->registration);
}

void DBusMenuExporter::setMenu(GMenuModel* model, GActionGroup* actions) {
  impl_->model = refObject(model);
  impl_->actions = refObject(actions);
  impl_->announced = false;
  impl_->changed();
}

bool DBusMenuExporter::hasMenu() const {
  return impl_->model != nullptr;
}

unsigned DBusMenuExporter::revision() const {
  return impl_->revision;
}

}  // namespace wd
