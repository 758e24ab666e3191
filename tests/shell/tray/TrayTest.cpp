// The tray icon (its dbusmenu included) and the launcher badge on the test session's private bus,
// against a stand-in for the desktop's tray and a dock listening for the badge's Update signal.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "bridge/Exports.h"
#include "core/Bundle.h"
#include "core/GLibPtr.h"
#include "shell/BusPeer.h"
#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/StatusItem.h"
#include "shell/system/LauncherBadge.h"
#include "shell/tray/MenuModelProvider.h"
#include "shell/tray/StatusNotifierItem.h"
#include "support/Loop.h"

namespace wd::test {
namespace {

constexpr const char* kImage = "desktop/com.tovik.WendrelDesktop.svg";

// The desktop's tray as the strictest host (xfce4-panel's) behaves: once started, owns the
// watcher's name on its own connection, reads an item's properties with one GetAll and again only
// on a New* signal other than NewMenu and NewStatus, and shows that cache; a left click opens the
// menu when the cached ItemIsMenu says so, else calls Activate. Calls are asynchronous: the item,
// on this thread's main loop, must answer.
class Watcher : public BusPeer {
 public:
  ~Watcher() {
    g_cancellable_cancel(cancel.get());
    for (auto& [service, host] : hosted)
      g_dbus_connection_signal_unsubscribe(connection, host.signals);
  }
  void start() {
    ASSERT_TRUE(serve(
        "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", R"(<node>
      <interface name="org.kde.StatusNotifierWatcher">
        <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
      </interface></node>)",
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* params, GDBusMethodInvocation* invocation, gpointer data) {
          const gchar* service = nullptr;
          g_variant_get(params, "(&s)", &service);
          static_cast<Watcher*>(data)->host(service);
          g_dbus_method_invocation_return_value(invocation, nullptr);
        },
        this));
  }
  // Calls a method and iterates the main loop until it is answered; null on an error.
  GVariantRef call(const std::string& service, const char* path, const char* interface,
                   const char* method, GVariant* params) {
    std::pair<bool, GVariant*> reply{false, nullptr};  // answered, the answer
    g_dbus_connection_call(
        connection, service.c_str(), path, interface, method, params, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* r = static_cast<std::pair<bool, GVariant*>*>(data);
          *r = {true, g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr)};
        },
        &reply);
    EXPECT_TRUE(waitFor([&] { return reply.first; }));
    return GVariantRef(reply.second);
  }
  // A property as the tray last read it (none before its first read).
  GVariantRef shown(const std::string& service, const char* name) {
    auto it = hosted.find(service);
    GVariant* value = nullptr;
    if (it != hosted.end() && it->second.properties)
      value = g_variant_lookup_value(it->second.properties.get(), name, nullptr);
    return GVariantRef(value);
  }
  // The same as GVariant text ("<none>" before the first read).
  std::string printed(const std::string& service, const char* name) {
    auto v = shown(service, name);
    g_autofree gchar* text = v ? g_variant_print(v.get(), FALSE) : nullptr;
    return text ? text : "<none>";
  }
  // Waits until the tray shows `name` as `expected` (compared as GVariant text).
  bool showsEventually(const std::string& service, const char* name, const std::string& expected) {
    return waitFor([&] { return printed(service, name) == expected; });
  }
  // A left click: the menu opens (its layout is read) when the item is a menu, else Activate.
  // True when the menu opened.
  bool leftClick(const std::string& service) {
    auto isMenu = shown(service, "ItemIsMenu");
    if (isMenu && g_variant_get_boolean(isMenu.get())) {
      auto path = shown(service, "Menu");  // the layout is read where the item says
      EXPECT_TRUE(path && call(service, g_variant_get_string(path.get(), nullptr),
                               "com.canonical.dbusmenu", "GetLayout",
                               g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0))));
      return true;
    }
    EXPECT_TRUE(call(service, StatusNotifierItem::kObjectPath, StatusNotifierItem::kInterface,
                     "Activate", g_variant_new("(ii)", 10, 10)));
    return false;
  }
  // Calls `handler` with every `member` signal of `interface`, from once this returns (the bus
  // holds a match rule once it answered a later call on the same connection).
  guint subscribe(const char* interface, const char* member,
                  std::function<void(GVariant*)>& handler) {
    const guint id = g_dbus_connection_signal_subscribe(
        connection, nullptr, interface, member, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* params,
           gpointer f) { (*static_cast<std::function<void(GVariant*)>*>(f))(params); },
        &handler, nullptr);
    EXPECT_TRUE(hasOwner("org.freedesktop.DBus"));
    return id;
  }
  struct Hosted {
    Watcher* watcher = nullptr;
    std::string service;
    guint signals = 0;
    GVariantRef properties;  // a{sv}
  };
  GObjectRef<GCancellable> cancel{g_cancellable_new()};
  std::vector<std::string> items;
  std::map<std::string, Hosted> hosted;

 private:
  void host(const std::string& service) {
    items.push_back(service);
    Hosted& h = hosted[service] = Hosted{this, service};
    h.signals = g_dbus_connection_signal_subscribe(
        connection, service.c_str(), StatusNotifierItem::kInterface, nullptr,
        StatusNotifierItem::kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
           GVariant*, gpointer data) {
          auto* item = static_cast<Hosted*>(data);
          if (g_strcmp0(signal, "NewMenu") != 0 && g_strcmp0(signal, "NewStatus") != 0)
            item->watcher->readAll(*item);
        },
        &h, nullptr);
    readAll(h);
  }
  void readAll(Hosted& h) {
    g_dbus_connection_call(
        connection, h.service.c_str(), StatusNotifierItem::kObjectPath,
        "org.freedesktop.DBus.Properties", "GetAll",
        g_variant_new("(s)", StatusNotifierItem::kInterface), G_VARIANT_TYPE("(a{sv})"),
        G_DBUS_CALL_FLAGS_NONE, 10000, cancel.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
          g_autoptr(GVariant) reply =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          if (reply)  // none also when the tray went away (cancelled)
            static_cast<Hosted*>(data)->properties.reset(g_variant_get_child_value(reply, 0));
        },
        &h);
  }
};

// A native menu as the page's Menu wrapper offers it.
class TestMenu : public bridge::ScriptObject, public MenuModelProvider {
 public:
  const bridge::ClassInfo& scriptClass() const override {
    static const bridge::ClassInfo& info = bridge::ClassBuilder<TestMenu>("TestMenu").build();
    return info;
  }
  GMenuModel* menuModel() const override { return G_MENU_MODEL(menu.get()); }
  GActionGroup* menuActions() const override { return G_ACTION_GROUP(actions.get()); }
  GObjectRef<GMenu> menu{g_menu_new()};
  GObjectRef<GSimpleActionGroup> actions{g_simple_action_group_new()};
};

class Tray : public ::testing::Test {
 protected:
  void SetUp() override {
    window->page.install(
        {std::make_shared<DesktopCommand>(window), {{"StatusItem", item}, {"TestMenu", menu}}});
    js("window.clicks = 0; window.log = []; document.addEventListener('statusItemClick', "
       "function (e) { window.log.push({name: 'statusItemClick', data: e.data}); })");
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  // The current icon once it is registered and the tray has read it.
  std::string registeredName() {
    EXPECT_TRUE(waitFor([&] { return item->item() && item->item()->isRegistered(); }));
    const std::string name = item->item() ? item->item()->busName() : std::string();
    EXPECT_TRUE(waitFor([&] { return watcher.shown(name, "Id") != nullptr; }));
    return name;
  }
  // The size of the tray's only IconPixmap ({0, 0} without one); checks four bytes a pixel.
  std::pair<int, int> iconSize(const std::string& name) {
    auto icons = watcher.shown(name, "IconPixmap");
    if (!icons || g_variant_n_children(icons.get()) != 1) return {0, 0};
    gint32 w = 0, h = 0;
    g_autoptr(GVariant) bytes = nullptr;
    g_variant_get_child(icons.get(), 0, "(ii@ay)", &w, &h, &bytes);
    EXPECT_EQ(g_variant_n_children(bytes), static_cast<gsize>(w) * static_cast<gsize>(h) * 4);
    return {w, h};
  }
  Watcher watcher;  // each case starts it
  std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
  std::shared_ptr<StatusItem> item = std::make_shared<StatusItem>(window);
  std::shared_ptr<TestMenu> menu = std::make_shared<TestMenu>();
};

TEST_F(Tray, CreateRegistersAnIconWhoseClickRunsTheCallbackOrRaisesTheEvent) {
  js("MacGap.StatusItem.title = 'before create'");  // no icon yet: nothing happens
  EXPECT_EQ(js("typeof MacGap.StatusItem.title"), Json("undefined"));
  // No tray on the desktop yet: the item waits on the bus and registers once a watcher appears.
  js("MacGap.StatusItem.create({title: 'waiting'})");
  ASSERT_TRUE(waitFor([&] { return !item->item()->busName().empty(); }));
  ASSERT_TRUE(waitFor([&] { return watcher.hasOwner(item->item()->busName().c_str()); }));
  EXPECT_FALSE(item->item()->isRegistered());
  watcher.start();
  const std::string first = registeredName();
  EXPECT_EQ(watcher.printed(first, "Title"), "'waiting'");
  // No image: the application's icon, by name and as pixels, so the tray draws something.
  EXPECT_EQ(watcher.printed(first, "IconName"), "'com.tovik.WendrelDesktop'");
  const auto [w, h] = iconSize(first);
  EXPECT_EQ(std::max(w, h), StatusNotifierItem::kApplicationIconSize);
  // Without a callback a click raises the event.
  EXPECT_FALSE(watcher.leftClick(first));
  ASSERT_TRUE(waitFor([&] { return js("window.log.length") == Json(1); }));
  EXPECT_EQ(js("window.log[0]"), Json({{"name", "statusItemClick"}, {"data", Json::object()}}));
  // A second create: a new icon; the first leaves the bus.
  js("MacGap.StatusItem.create({title: 'Inbox 3', titleFontSize: 11, image: '" +
     std::string(kImage) +
     "', alternateImage: 'missing/none.png', onClick: function () { window.clicks++; }})");
  const std::string name = registeredName();
  EXPECT_TRUE(waitFor([&] { return !watcher.hasOwner(first.c_str()); }));
  EXPECT_EQ(watcher.items, (std::vector<std::string>{first, name}));
  EXPECT_EQ(watcher.printed(name, "Title"), "'Inbox 3'");
  EXPECT_EQ(watcher.printed(name, "Id"), "'com.tovik.WendrelDesktop'");
  EXPECT_EQ(watcher.printed(name, "Status"), "'Active'");
  EXPECT_EQ(watcher.printed(name, "IconName"), "''");  // the page's image is drawn
  EXPECT_TRUE(watcher.showsEventually(name, "ToolTip", "('', [], 'Inbox 3', '')"));
  EXPECT_EQ(js("MacGap.StatusItem.title"), Json("Inbox 3"));
  // The icon is the resource's pixels (their byte order is checked in TrayImages); no alternate
  // image was found.
  g_autoptr(GdkPixbuf) expected =
      gdk_pixbuf_new_from_file(pathForResource(kImage).value().c_str(), nullptr);
  ASSERT_TRUE(expected);
  EXPECT_EQ(iconSize(name),
            std::make_pair(gdk_pixbuf_get_width(expected), gdk_pixbuf_get_height(expected)));
  EXPECT_EQ(g_variant_n_children(watcher.shown(name, "AttentionIconPixmap").get()), 0u);
  // A click calls the callback, and no event is raised.
  EXPECT_FALSE(watcher.leftClick(name));
  ASSERT_TRUE(waitFor([&] { return js("window.clicks") == Json(1); }));
  EXPECT_EQ(js("window.log.length"), Json(1));
  // A later title assignment reaches the tray and its tooltip.
  js("MacGap.StatusItem.title = 'Inbox 4'");
  EXPECT_TRUE(watcher.showsEventually(name, "Title", "'Inbox 4'"));
  EXPECT_TRUE(watcher.showsEventually(name, "ToolTip", "('', [], 'Inbox 4', '')"));
  // Text D-Bus cannot carry: a lone surrogate arrives as one U+FFFD, a NUL ends the title.
  js("MacGap.StatusItem.title = 'a\\ud800b\\u0000c'");
  EXPECT_TRUE(watcher.showsEventually(name, "Title", "'a\uFFFDb'"))
      << watcher.printed(name, "Title");
  // A third create without "onClick" keeps the callback.
  js("MacGap.StatusItem.create({title: 'third'})");
  EXPECT_FALSE(watcher.leftClick(registeredName()));
  ASSERT_TRUE(waitFor([&] { return js("window.clicks") == Json(2); }));
  EXPECT_EQ(js("window.log.length"), Json(1));
}

// The layout as "label|type|enabled|toggle" lines, children indented.
void printLayout(GVariant* node, int depth, std::string& out) {
  g_autoptr(GVariant) props = nullptr;
  g_autoptr(GVariantIter) children = nullptr;
  g_variant_get(node, "(i@a{sv}av)", nullptr, &props, &children);
  if (depth > 0) {
    const gchar *label = "", *type = "", *toggle = "";
    gboolean enabled = TRUE;
    gint32 state = -1;
    g_variant_lookup(props, "label", "&s", &label);
    g_variant_lookup(props, "type", "&s", &type);
    g_variant_lookup(props, "enabled", "b", &enabled);
    g_variant_lookup(props, "toggle-type", "&s", &toggle);
    g_variant_lookup(props, "toggle-state", "i", &state);
    out += std::string(static_cast<std::size_t>(depth - 1) * 2, ' ') + label + "|" + type + "|" +
           (enabled ? "on" : "off") + "|" + toggle + (state >= 0 ? std::to_string(state) : "") +
           "\n";
  }
  GVariant* child = nullptr;
  while (g_variant_iter_loop(children, "v", &child)) printLayout(child, depth + 1, out);
}

TEST_F(Tray, TheAssignedMenuIsExportedAndItsItemsActivateActions) {
  // File: Open (app.open), [section: Quit (disabled)], Mode ▸ (radio "a"/"b", check "wrap").
  std::vector<std::string> activated;
  auto record = +[](GSimpleAction* a, GVariant* target, gpointer data) {
    auto* log = static_cast<std::vector<std::string>*>(data);
    log->push_back(std::string(g_action_get_name(G_ACTION(a))) +
                   (target ? "=" + std::string(g_variant_get_string(target, nullptr)) : ""));
  };
  GActionEntry entries[] = {{"open", record, nullptr, nullptr, nullptr, {}},
                            {"quit", record, nullptr, nullptr, nullptr, {}},
                            {"mode", record, "s", "'a'", nullptr, {}},
                            {"wrap", nullptr, nullptr, "true", nullptr, {}}};
  GActionMap* actions = G_ACTION_MAP(menu->actions.get());
  g_action_map_add_action_entries(actions, entries, 4, &activated);
  g_simple_action_set_enabled(G_SIMPLE_ACTION(g_action_map_lookup_action(actions, "quit")), FALSE);
  g_menu_append(menu->menu.get(), "_Open", "app.open");
  g_autoptr(GMenu) section = g_menu_new();
  g_menu_append(section, "Quit", "app.quit");
  g_menu_append_section(menu->menu.get(), nullptr, G_MENU_MODEL(section));
  g_autoptr(GMenu) sub = g_menu_new();
  g_menu_append(sub, "A", "app.mode::a");
  g_menu_append(sub, "B", "app.mode::b");
  g_menu_append(sub, "Wrap", "app.wrap");
  g_menu_append_submenu(menu->menu.get(), "Mode", G_MENU_MODEL(sub));
  // The menu comes after create, as pages do it: the tray, which read the item once, must learn
  // of it.
  watcher.start();
  js("MacGap.StatusItem.create({onClick: function () { window.clicks++; }})");
  const std::string name = registeredName();
  js("MacGap.StatusItem.menu = MacGap.TestMenu");
  EXPECT_EQ(js("MacGap.StatusItem.menu === MacGap.TestMenu"), Json(true));
  EXPECT_TRUE(watcher.showsEventually(name, "ItemIsMenu", "true"));
  auto menuCall = [&](const char* method, GVariant* params) {
    return watcher.call(name, StatusNotifierItem::kMenuPath, "com.canonical.dbusmenu", method,
                        params);
  };
  // The layout to `depth` levels, printed.
  auto layout = [&](int depth) {
    auto reply =
        menuCall("GetLayout", g_variant_new("(ii@as)", 0, depth, g_variant_new_strv(nullptr, 0)));
    std::string printed;
    if (!reply) return printed;
    g_autoptr(GVariant) root = g_variant_get_child_value(reply.get(), 1);
    printLayout(root, 0, printed);
    return printed;
  };
  EXPECT_EQ(layout(-1),
            "_Open||on|\n"
            "|separator|on|\n"
            "Quit||off|\n"
            "|separator|on|\n"
            "Mode||on|\n"
            "  A||on|radio1\n"
            "  B||on|radio0\n"
            "  Wrap||on|checkmark1\n");
  // Clicking items: ids are the layout's (Open 1, Quit 3, Mode 5: A 6, B 7).
  auto click = [&](int id) {
    return menuCall("Event", g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u)) !=
           nullptr;
  };
  EXPECT_TRUE(click(1));
  EXPECT_TRUE(click(3));  // disabled: nothing
  EXPECT_TRUE(click(7));
  EXPECT_FALSE(click(99));  // unknown id: an error
  EXPECT_EQ(activated, (std::vector<std::string>{"open", "mode=b"}));
  ASSERT_TRUE(menuCall("AboutToShow", g_variant_new("(i)", 5)));
  // With a menu the tray opens it on a left click and the callback does not run; a tray that
  // calls Activate anyway (set to do so by its user) raises the click.
  EXPECT_TRUE(watcher.leftClick(name));
  EXPECT_EQ(js("window.clicks"), Json(0));
  ASSERT_TRUE(watcher.call(name, StatusNotifierItem::kObjectPath, StatusNotifierItem::kInterface,
                           "Activate", g_variant_new("(ii)", 1, 1)));
  ASSERT_TRUE(waitFor([&] { return js("window.clicks") == Json(1); }));
  // A change of the model after the host read the layout is announced (the exporter announces
  // once until the layout is read again; the radio item's change above may still be arriving,
  // and is announced too); the new layout holds the new item.
  bool updated = false;
  std::function<void(GVariant*)> update = [&](GVariant*) { updated = true; };
  const guint subscription = watcher.subscribe("com.canonical.dbusmenu", "LayoutUpdated", update);
  layout(1);
  updated = false;
  g_menu_append(menu->menu.get(), "Later", "app.open");
  EXPECT_TRUE(waitFor([&] { return updated; }));
  g_dbus_connection_signal_unsubscribe(watcher.connection, subscription);
  const std::string top = layout(1);
  EXPECT_NE(top.find("Later||on|"), std::string::npos) << top;
  // Assigning a value without a native menu takes the menu away: a left click is a click again.
  js("MacGap.StatusItem.menu = 'none'");
  EXPECT_TRUE(watcher.showsEventually(name, "ItemIsMenu", "false"));
  EXPECT_FALSE(watcher.leftClick(name));
  ASSERT_TRUE(waitFor([&] { return js("window.clicks") == Json(2); }));
}

// Images for the tray: large ones are scaled down to fit, unreadable ones give nothing.
TEST(TrayImages, LargeImagesAreScaledDownAndUnreadableOnesGiveNothing) {
  const std::string dir = std::getenv("HOME");  // the test process's own
  const std::string large = dir + "/large.png", bad = dir + "/bad.png";
  g_autoptr(GdkPixbuf) pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1000, 500);
  gdk_pixbuf_fill(pixbuf, 0x336699ff);
  ASSERT_TRUE(gdk_pixbuf_save(pixbuf, large.c_str(), "png", nullptr, nullptr));
  ASSERT_TRUE(g_file_set_contents(bad.c_str(), "\x89PNG not really", -1, nullptr));
  auto icon = StatusNotifierItem::loadPixmap(large);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, StatusNotifierItem::kMaxIconSize);
  EXPECT_EQ(icon->height, StatusNotifierItem::kMaxIconSize / 2);
  ASSERT_EQ(icon->argb.size(), static_cast<std::size_t>(icon->width * icon->height * 4));
  EXPECT_EQ((std::vector<int>{icon->argb[0], icon->argb[1], icon->argb[2], icon->argb[3]}),
            (std::vector<int>{0xff, 0x33, 0x66, 0x99}));  // opaque: alpha added
  EXPECT_FALSE(StatusNotifierItem::loadPixmap(bad));
  EXPECT_FALSE(StatusNotifierItem::loadPixmap(dir + "/missing.png"));
}

// The launcher badge as a dock sees it: the Update signal for the application's entry.
TEST(LauncherBadgeSignal, CountsNonNumericLabelsAndRemoval) {
  Watcher dock;                                                // not started: only listens
  std::vector<std::tuple<std::string, gint64, bool>> updates;  // the entry, count, visible
  std::function<void(GVariant*)> record = [&](GVariant* params) {
    const gchar* uri = nullptr;
    g_autoptr(GVariant) props = nullptr;
    g_variant_get(params, "(&s@a{sv})", &uri, &props);
    gint64 count = -1;
    gboolean visible = FALSE;
    g_variant_lookup(props, "count", "x", &count);
    g_variant_lookup(props, "count-visible", "b", &visible);
    updates.emplace_back(uri, count, visible != FALSE);
  };
  const guint id = dock.subscribe(LauncherBadge::kInterface, "Update", record);
  LauncherBadge badge;
  const std::tuple<std::string, gint64, bool> cases[] = {
      // the label, count, visible
      {"12", 12, true}, {"new", 0, false}, {"", 0, false},
      {"-2", -2, true}, {"0", 0, true},    {"99999999999999999999", 0, false}};
  // Labels set before the bus is known: the last one is sent once it is.
  const std::string entry = "application://com.tovik.WendrelDesktop.desktop";
  badge.setLabel("1");
  badge.setLabel("7");
  ASSERT_TRUE(waitFor([&] { return updates.size() == 1; }));
  std::vector<std::tuple<std::string, gint64, bool>> expected{{entry, 7, true}};
  for (const auto& [label, count, visible] : cases) {
    badge.setLabel(label);  // an empty label removes the badge
    EXPECT_EQ(badge.label(), label.empty() ? std::nullopt : std::optional(label));
    expected.emplace_back(entry, count, visible);
  }
  ASSERT_TRUE(waitFor([&] { return updates.size() == expected.size(); }));
  EXPECT_EQ(updates, expected);
  g_dbus_connection_signal_unsubscribe(dock.connection, id);
}

}  // namespace
}  // namespace wd::test
