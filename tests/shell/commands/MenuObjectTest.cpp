// MacGap.Menu and its items from real JavaScript in the headless page, over a main menu loaded
// like the application's (a menu bar of submenus, sections as separators): key strings, the
// menu-bar submenu rule and the "statusbar" exception, lookups by index and title, one wrapper
// per item, snapshots, and that every change shows in the GMenu model the menu bar renders and
// choosing an item calls the page's callback.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/ShellFakes.h"
#include "shell/commands/Menu.h"
#include "shell/menu/KeyEquivalent.h"
#include "shell/menu/NativeMenu.h"

namespace wd::test {
namespace {

constexpr const char* kLayout = R"(<interface><menu id="menubar">
  <submenu><attribute name="label">_File</attribute>
    <section>
      <item><attribute name="label">New</attribute><attribute name="action">app.base</attribute></item>
      <item><attribute name="label">Save As…</attribute><attribute name="action">app.base</attribute></item>
    </section>
    <section>
      <item><attribute name="label">Close</attribute><attribute name="action">app.base</attribute></item>
    </section>
  </submenu>
  <submenu><attribute name="label">_Edit</attribute></submenu>
</menu></interface>)";

// Labels of a rendered model, sections flattened with "-" between them, submenus in brackets.
std::string describe(GMenuModel* model) {
  std::string out;
  const int n = g_menu_model_get_n_items(model);
  for (int i = 0; i < n; ++i) {
    if (GMenuModel* section = g_menu_model_get_item_link(model, i, G_MENU_LINK_SECTION)) {
      if (i > 0) out += "- ";
      out += describe(section);
      g_object_unref(section);
      continue;
    }
    g_autofree gchar* label = nullptr;
    g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &label);
    out += label ? label : "?";
    if (GMenuModel* sub = g_menu_model_get_item_link(model, i, G_MENU_LINK_SUBMENU)) {
      out += "[" + describe(sub) + "]";
      g_object_unref(sub);
    }
    out += " ";
  }
  return out;
}

class MenuObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    g_signal_connect(base, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer n) {
                       ++*static_cast<int*>(n);
                     }),
                     &baseActivations);
    g_action_map_add_action(G_ACTION_MAP(group), G_ACTION(base));
    GtkBuilder* builder = gtk_builder_new_from_string(kLayout, -1);
    root->importFrom(G_MENU_MODEL(gtk_builder_get_object(builder, "menubar")));
    g_object_unref(builder);
    window->page.install({Menu::wrapperFor(root), {{"Menu", Menu::wrapperFor(root)}}});
    js("var M = MacGap.Menu; var calls = [];");
  }
  void TearDown() override {
    g_object_unref(base);
    g_object_unref(group);
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  std::string bar() { return describe(root->model()); }
  // The rendered item of the menu-bar entry `entry` at `index` (flattened over sections).
  std::string attribute(const std::string& entry, const char* label, const char* name) {
    auto item = root->itemWithTitle(entry);
    if (!item || !item->submenu()) return "<none>";
    for (const auto& i : item->submenu()->items())
      if (i->title() == label) {
        if (std::string(name) == "action") return i->detailedAction();
        return i->accelerator().value_or("");
      }
    return "<none>";
  }

  GSimpleActionGroup* group = g_simple_action_group_new();
  GSimpleAction* base = g_simple_action_new("base", nullptr);
  int baseActivations = 0;
  std::shared_ptr<MenuActions> actions = std::make_shared<MenuActions>(G_ACTION_MAP(group));
  std::shared_ptr<NativeMenu> root = NativeMenu::create(actions, "");
  std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
};

TEST(MenuKeys, KeyStringsGiveKeyModifiersAndAccelerator) {
  using namespace menukeys;
  const struct {
    std::optional<std::string> keys;
    std::string key;
    std::uint32_t mask;
    std::optional<std::string> accel;
  } cases[] = {
      {"cmd+shift+n", "n", kCommand | kShift, "<Primary><Shift>n"},
      {"ctrl+opt+alt+x", "x", kControl | kOption, "<Primary><Alt>x"},
      {"Cmd+N", "N", 0, "<Shift>n"},  // words are case-sensitive; a capital means Shift
      {"cmd+,", ",", kCommand, "<Primary>comma"},
      {"cmdshiftn", "n", kCommand | kShift, "<Primary><Shift>n"},
      {"caps+k", "k", kCapsLock, "k"},
      {"", "", 0, std::nullopt},
      {std::nullopt, "", 0, std::nullopt},
      {"cmd+\xC3\xA9", "\xC3\xA9", kCommand, "<Primary>eacute"},
      {"cmd+\xF0\x9F\x98\x80", "\xED\xB8\x80", kCommand, std::nullopt},  // its low surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys.value_or("(none)"));
    EXPECT_EQ(keyFromString(c.keys), c.key);
    EXPECT_EQ(modifiersFromString(c.keys), c.mask);
    EXPECT_EQ(acceleratorFor(c.key, c.mask), c.accel);
  }
}

TEST_F(MenuObject, GetItemByIndexAndTitleGivesOneWrapperPerItem) {
  js("var file = M.getItem('File').submenu;");
  const std::pair<const char*, Json> cases[] = {
      {"M.getItem('File') !== undefined", true},
      {"M.getItem('_File') === undefined", true},  // titles have no mnemonics
      {"file.getItem('Save As') === file.getItem(1)", true},
      {"file.getItem(1.9) === file.getItem(1)", true},
      {"file.getItem(true) === file.getItem(1)", true},
      {"file.getItem(0) === file.getItem('New')", true},
      {"file.getItem(-1) === undefined", true},
      {"file.getItem(4) === undefined", true},  // New, Save As…, separator, Close
      {"file.getItem(3) !== undefined", true},
      {"file.getItem(null) === undefined && file.getItem({}) === undefined", true},
      {"file.getItem() === undefined && file.getItem(NaN) === undefined", true},
      {"file.getItem('Nothing') === undefined", true},
      {"M.menuItems.length", 2},
      {"file.menuItems.length", 4},
      {"MacGap.Menu.constructor.getKeyFromString('cmd+shift+n')", "n"},
      {"MacGap.Menu.constructor.getKeyFromString()", ""},
      {"M.type === undefined", true},
  };
  for (const auto& [script, expected] : cases) EXPECT_EQ(js(script), expected) << script;
}

TEST_F(MenuObject, AddItemFollowsTheMenuBarRuleAndShowsInTheModel) {
  js(R"(var tools = M.addItem({label: 'Tools', keys: 'cmd+t'});
        var ping = tools.submenu.addItem({label: 'Ping', keys: 'cmd+shift+p'},
                                         function () { calls.push('ping'); });
        var first = tools.submenu.addItem({label: 'First', index: 0});
        var tray = M.create('Tray', 'statusbar');
        var plain = tray.addItem({label: 'Open'});
        var free = M.create('Free');
        var entry = free.addItem({label: 'Entry'});)");
  ASSERT_EQ(window->page.lastException(), std::nullopt);
  EXPECT_EQ(bar(), "_File[New Save As… - Close ] _Edit[] Tools[First Ping ] ");
  const std::pair<const char*, Json> cases[] = {
      {"tools.submenu.getItem(0) === first", true},  // index 0 puts it first
      {"tools.submenu.getItem(1) === ping", true},
      {"ping.submenu === undefined && first.submenu === undefined", true},  // submenu items
      {"plain.submenu === undefined", true},                                // "statusbar"
      {"entry.submenu !== undefined", true},  // a free-standing menu is a menu bar
      {"tray.type", "statusbar"},
      {"M.menuItems.length", 2},  // the snapshot keeps what the wrapper saw
      {"M.getItem(2) === tools", true},
      {"M.addSeparator() === M", true},
      {"tools.submenu.addItem({label: 'Bad', index: 9}) === undefined", true},
      {"tools.submenu.addItem({label: 'Bad', index: -1}) === undefined", true},
      {"M.addItem(null).submenu !== undefined", true},  // label "" and still a menu
      {"ping.callback === undefined", false},
      {"ping.enabled", true},
  };
  for (const auto& [script, expected] : cases) EXPECT_EQ(js(script), expected) << script;
  EXPECT_EQ(attribute("Tools", "Ping", "accel"), "<Primary><Shift>p");
  EXPECT_EQ(bar().find("Bad"), std::string::npos);

  // Choosing the item (its action, as the menu bar does) calls the page's callback.
  const std::string action = attribute("Tools", "Ping", "action");
  ASSERT_EQ(action.rfind("app.", 0), 0u);
  g_action_group_activate_action(G_ACTION_GROUP(group), action.c_str() + 4, nullptr);
  EXPECT_TRUE(waitFor([&] { return js("calls.length") == 1; }));
  EXPECT_EQ(js("calls"), Json::array({"ping"}));
}

TEST_F(MenuObject, ItemChangesReplaceTheRenderedItemsAndDisabledItemsCallNothing) {
  js(R"(var file = M.getItem('File').submenu; var close = file.getItem('Close');
        var n = file.getItem('New'); n.setLabel('New Mail'); n.setLabel();
        n.setKey('cmd+n'); file.getItem('Save As').addSubmenu('Formats');)");
  EXPECT_EQ(bar(), "_File[New Mail Save As…[] - Close ] _Edit[] ");
  EXPECT_EQ(attribute("File", "New Mail", "accel"), "<Primary>n");
  // An imported item keeps its own action until the page gives it a callback.
  const std::string newAction = attribute("File", "New Mail", "action");
  g_action_group_activate_action(G_ACTION_GROUP(group), newAction.c_str() + 4, nullptr);
  EXPECT_EQ(baseActivations, 1);

  EXPECT_EQ(js("var s = file.getItem(1); s.addSubmenu('Other') === s.submenu && "
               "s.submenu.menuItems.length === 0"),
            true);
  js("close.enabled = false; close.callback = function () { calls.push('close'); };");
  EXPECT_EQ(js("close.enabled"), false);
  const std::string closeAction = attribute("File", "Close", "action");
  EXPECT_FALSE(g_action_group_get_action_enabled(G_ACTION_GROUP(group), closeAction.c_str() + 4));
  js("close.enabled = true;");
  EXPECT_TRUE(g_action_group_get_action_enabled(G_ACTION_GROUP(group), closeAction.c_str() + 4));
  g_action_group_activate_action(G_ACTION_GROUP(group), closeAction.c_str() + 4, nullptr);
  EXPECT_TRUE(waitFor([&] { return js("calls.length") == 1; }));
  EXPECT_EQ(baseActivations, 1);  // the callback replaced the item's own action

  // A callback that is not a function calls nothing; a removed item leaves the menu for good.
  js("close.callback = 42; close.remove(); close.remove(); close.setLabel('Gone');");
  EXPECT_EQ(bar(), "_File[New Mail Save As…[] - ] _Edit[] ");
  EXPECT_EQ(js("close.callback"), 42);
  EXPECT_EQ(js("file.getItem('Close') === undefined && file.getItem('Gone') === undefined"), true);
}

// Labels the page gives are titles as they stand: shown with their underscores (doubled in
// the model, which reads single ones as mnemonics) and found by them; the layout's own items
// keep their mnemonics. An item the page removes leaves no action behind, even while the page
// still holds its wrapper.
TEST_F(MenuObject, PageLabelsAreLiteralAndRemovedItemsLeaveNoAction) {
  auto itemActions = [this] {
    g_auto(GStrv) names = g_action_group_list_actions(G_ACTION_GROUP(group));
    int n = 0;
    for (gchar** name = names; *name; ++name) n += g_str_has_prefix(*name, "wd-item-");
    return n;
  };
  js(R"(var tools = M.addItem({label: 'a_b'});
        var reply = tools.submenu.addItem({label: 'Reply'}, function () {});
        reply.setLabel('Reply_All');
        tools.submenu.addItem({label: '__x_', keys: 'cmd+x'});)");
  EXPECT_EQ(bar(), "_File[New Save As… - Close ] _Edit[] a__b[Reply__All ____x__ ] ");
  const std::pair<const char*, Json> cases[] = {
      {"M.getItem('a_b') === tools", true},
      {"M.getItem('ab') === undefined", true},
      {"tools.submenu.getItem('Reply_All') === reply", true},
      {"tools.submenu.getItem('ReplyAll') === undefined", true},
      {"tools.submenu.getItem('__x_') === tools.submenu.getItem(1)", true},
      {"M.getItem('File') !== undefined && M.getItem('_File') === undefined", true},
  };
  for (const auto& [script, expected] : cases) EXPECT_EQ(js(script), expected) << script;

  const int before = itemActions();
  js(R"(var kept = [];
        for (var i = 0; i < 20; ++i) {
          var it = tools.submenu.addItem({label: 'n' + i, keys: 'cmd+' + i}, function () {});
          it.addSubmenu('s').addItem({label: 'inner'}, function () {});
          kept.push(it);
        }
        kept.forEach(function (it) { it.remove(); it.setKey('cmd+y'); it.enabled = false; });)");
  EXPECT_EQ(itemActions(), before);
  js("tools.remove();");
  EXPECT_EQ(itemActions(), 0);
  EXPECT_EQ(bar(), "_File[New Save As… - Close ] _Edit[] ");
}

}  // namespace
}  // namespace wd::test
