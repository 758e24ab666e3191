// MacGap.Menu and its items in the headless page over a menu bar loaded like the application's:
// every change shows in the GMenu model the menu bar renders; choosing an item calls back.
#include "PageObjectTest.h"
#include "shell/commands/Menu.h"
#include "shell/menu/KeyEquivalent.h"
#include "shell/menu/NativeMenu.h"

namespace wd::test {

// Labels of a rendered model, sections flattened with "-" between them, submenus in brackets.
static std::string describe(GMenuModel* model) {
  std::string out;
  for (int i = 0; i < g_menu_model_get_n_items(model); ++i) {
    g_autoptr(GMenuModel) section = g_menu_model_get_item_link(model, i, G_MENU_LINK_SECTION);
    g_autoptr(GMenuModel) sub = g_menu_model_get_item_link(model, i, G_MENU_LINK_SUBMENU);
    g_autofree gchar* label = nullptr;
    g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &label);
    out += section
               ? (i > 0 ? "- " : "") + describe(section)
               : std::string(label ? label : "?") + (sub ? "[" + describe(sub) + "]" : "") + " ";
  }
  return out;
}

class MenuObject : public PageObjectTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    const GActionEntry base{.name = "base", .activate = [](GSimpleAction*, GVariant*, gpointer n) {
                              ++*static_cast<int*>(n);
                            }};
    g_action_map_add_action_entries(G_ACTION_MAP(group), &base, 1, &baseActivations);
    const char* xml = R"(<interface><menu id="bar">
<submenu><attribute name="label">_File</attribute><section>
<item><attribute name="label">New</attribute><attribute name="action">app.base</attribute></item>
<item><attribute name="label">Save As…</attribute><attribute name="action">app.base</attribute></item>
</section><section>
<item><attribute name="label">Close</attribute><attribute name="action">app.base</attribute></item>
</section></submenu><submenu><attribute name="label">_Edit</attribute></submenu>
</menu></interface>)";
    g_autoptr(GtkBuilder) layout = gtk_builder_new_from_string(xml, -1);
    root->importFrom(G_MENU_MODEL(gtk_builder_get_object(layout, "bar")));
    window->page.install({Menu::wrapperFor(root), {{"Menu", Menu::wrapperFor(root)}}});
    js("var M = MacGap.Menu; var calls = [];");
  }
  void TearDown() override { g_object_unref(group); }
  std::string bar() { return describe(root->model()); }
  std::shared_ptr<NativeMenuItem> item(const std::string& entry, const std::string& label) {
    return root->itemWithTitle(entry)->submenu()->itemWithTitle(label);
  }
  // Chooses the item as the menu bar does: activates its action (the model names it "app.<name>").
  void choose(const std::string& entry, const std::string& label) {
    const std::string action = item(entry, label)->detailedAction().substr(4);
    g_action_group_activate_action(G_ACTION_GROUP(group), action.c_str(), nullptr);
  }
  GSimpleActionGroup* group = g_simple_action_group_new();
  int baseActivations = 0;
  std::shared_ptr<MenuActions> actions = std::make_shared<MenuActions>(G_ACTION_MAP(group));
  std::shared_ptr<NativeMenu> root = NativeMenu::create(actions, "");
};

TEST(MenuKeys, KeyStringsGiveKeyModifiersAndAccelerator) {
  using namespace menukeys;
  // Rows: the key string (or none), its key, its modifier mask, its accelerator (or none).
  using Text = std::optional<std::string>;
  const std::tuple<Text, std::string, std::uint32_t, Text> cases[] = {
      {"cmd+shift+n", "n", kCommand | kShift, "<Primary><Shift>n"},
      {"ctrl+opt+alt+x", "x", kControl | kOption, "<Primary><Alt>x"},
      {"Cmd+N", "N", 0, "<Shift>n"},  // words are case-sensitive; a capital means Shift
      {"cmd+,", ",", kCommand, "<Primary>comma"},
      {"caps+k", "k", kCapsLock, "k"},
      {"", "", 0, std::nullopt},
      {std::nullopt, "", 0, std::nullopt},
      {"cmd+\xC3\xA9", "\xC3\xA9", kCommand, "<Primary>eacute"},
      {"cmd+\xF0\x9F\x98\x80", "\xED\xB8\x80", kCommand, std::nullopt},  // its low surrogate
  };
  for (const auto& [keys, key, mask, accel] : cases) {
    SCOPED_TRACE(keys.value_or("(none)"));
    EXPECT_EQ(keyFromString(keys), key);
    EXPECT_EQ(modifiersFromString(keys), mask);
    EXPECT_EQ(acceleratorFor(key, mask), accel);
  }
}

TEST_F(MenuObject, GetItemGivesOneWrapperPerItemAndAddItemShowsInTheModel) {
  // Titles have no mnemonics; the File menu holds New, Save As…, a separator and Close.
  js("var file = M.getItem('File').submenu;");
  expectTrue({"M.getItem('File') !== undefined", "M.getItem('_File') === undefined",
              "file.getItem('Save As') === file.getItem(1)",
              "file.getItem(1.9) === file.getItem(1)", "file.getItem(true) === file.getItem(1)",
              "file.getItem(0) === file.getItem('New')", "file.getItem(-1) === undefined",
              "file.getItem(4) === undefined", "file.getItem(3) !== undefined",
              "file.getItem(null) === undefined", "file.getItem(NaN) === undefined",
              "file.getItem('Nothing') === undefined", "M.menuItems.length === 2",
              "file.menuItems.length === 4",
              "M.constructor.getKeyFromString('cmd+shift+n') === 'n'", "M.type === undefined"});
  js(R"(var tools = M.addItem({label: 'Tools', keys: 'cmd+t'});
        var ping = tools.submenu.addItem({label: 'Ping', keys: 'cmd+shift+p'},
                                         function () { calls.push('ping'); });
        var first = tools.submenu.addItem({label: 'First', index: 0});
        var tray = M.create('Tray', 'statusbar');
        var plain = tray.addItem({label: 'Open'});
        var free = M.create('Free');
        var entry = free.addItem({label: 'Entry'});)");
  EXPECT_EQ(bar(), "_File[New Save As… - Close ] _Edit[] Tools[First Ping ] ");
  // Index 0 puts an item first; items of a submenu, and of a "statusbar", have no submenu; a
  // free-standing menu is a menu bar; the snapshot keeps what the wrapper saw; a bad index adds
  // nothing; no options add a menu labelled "".
  expectTrue({"tools.submenu.getItem(0) === first", "tools.submenu.getItem(1) === ping",
              "ping.submenu === undefined && first.submenu === undefined",
              "plain.submenu === undefined", "entry.submenu !== undefined",
              "tray.type === 'statusbar'", "M.menuItems.length === 2", "M.getItem(2) === tools",
              "M.addSeparator() === M",
              "tools.submenu.addItem({label: 'Bad', index: 9}) === undefined",
              "tools.submenu.addItem({label: 'Bad', index: -1}) === undefined",
              "M.addItem(null).submenu !== undefined", "ping.callback !== undefined",
              "ping.enabled === true"});
  EXPECT_EQ(bar().find("Bad"), std::string::npos);
  EXPECT_EQ(item("Tools", "Ping")->accelerator(), "<Primary><Shift>p");
  choose("Tools", "Ping");
  EXPECT_TRUE(waitFor([&] { return js("calls") == Json::array({"ping"}); }));
}

// Label, key, submenu, callback and enabled changes show in the rendered items; a disabled item
// calls nothing. Labels the page gives are titles as they stand: shown with their underscores
// (doubled in the model, which reads single ones as mnemonics) and found by them; the layout's own
// items keep their mnemonics. An item the page removes leaves no action behind, even while the page
// still holds its wrapper.
TEST_F(MenuObject, ItemChangesShowInTheModelAndRemovedItemsLeaveNoAction) {
  js(R"(var file = M.getItem('File').submenu; var close = file.getItem('Close');
        var n = file.getItem('New'); n.setLabel('New Mail'); n.setLabel();
        n.setKey('cmd+n'); file.getItem('Save As').addSubmenu('Formats');)");
  EXPECT_EQ(bar(), "_File[New Mail Save As…[] - Close ] _Edit[] ");
  EXPECT_EQ(item("File", "New Mail")->accelerator(), "<Primary>n");
  choose("File", "New Mail");  // an imported item keeps its own action until given a callback
  EXPECT_EQ(baseActivations, 1);
  expectTrue({"var s = file.getItem(1); s.addSubmenu('Other') === s.submenu",
              "s.submenu.menuItems.length === 0"});
  js("close.enabled = false; close.callback = function () { calls.push('close'); };");
  EXPECT_EQ(js("close.enabled"), false);
  const std::string closeAction = item("File", "Close")->detailedAction().substr(4);
  EXPECT_FALSE(g_action_group_get_action_enabled(G_ACTION_GROUP(group), closeAction.c_str()));
  js("close.enabled = true;");
  EXPECT_TRUE(g_action_group_get_action_enabled(G_ACTION_GROUP(group), closeAction.c_str()));
  choose("File", "Close");
  EXPECT_TRUE(waitFor([&] { return js("calls.length") == 1; }));
  EXPECT_EQ(baseActivations, 1);  // the callback replaced the item's own action
  // A callback that is not a function calls nothing; a removed item leaves the menu for good.
  js("close.callback = 42; close.remove(); close.remove(); close.setLabel('Gone');");
  EXPECT_EQ(bar(), "_File[New Mail Save As…[] - ] _Edit[] ");
  expectTrue({"close.callback === 42", "file.getItem('Close') === undefined",
              "file.getItem('Gone') === undefined"});
  auto itemActions = [this] {
    g_auto(GStrv) names = g_action_group_list_actions(G_ACTION_GROUP(group));
    return std::count_if(names, names + g_strv_length(names),
                         [](const char* name) { return g_str_has_prefix(name, "wd-item-"); });
  };
  const auto untouched = itemActions();  // New Mail's own, which carries its key
  js(R"(var tools = M.addItem({label: 'a_b'});
        var reply = tools.submenu.addItem({label: 'Reply'}, function () {});
        reply.setLabel('Reply_All');
        tools.submenu.addItem({label: '__x_', keys: 'cmd+x'});)");
  EXPECT_EQ(bar(), "_File[New Mail Save As…[] - ] _Edit[] a__b[Reply__All ____x__ ] ");
  expectTrue({"M.getItem('a_b') === tools", "M.getItem('ab') === undefined",
              "tools.submenu.getItem('Reply_All') === reply",
              "tools.submenu.getItem('ReplyAll') === undefined",
              "tools.submenu.getItem('__x_') === tools.submenu.getItem(1)"});
  const auto before = itemActions();
  js(R"(var kept = [];
        for (var i = 0; i < 20; ++i) {
          var it = tools.submenu.addItem({label: 'n' + i, keys: 'cmd+' + i}, function () {});
          it.addSubmenu('s').addItem({label: 'inner'}, function () {});
          kept.push(it);
        }
        kept.forEach(function (it) { it.remove(); it.setKey('cmd+y'); it.enabled = false; });)");
  EXPECT_EQ(itemActions(), before);
  js("tools.remove();");
  EXPECT_EQ(itemActions(), untouched);
  EXPECT_EQ(bar(), "_File[New Mail Save As…[] - ] _Edit[] ");
  // A full menu refuses items and separators until one of its items goes.
  auto edit = root->itemWithTitle("Edit")->submenu();
  for (auto n = edit->items().size(); n < NativeMenu::kMaxItems; ++n)
    ASSERT_TRUE(edit->insertItem("x", std::nullopt));
  expectTrue({"var edit = M.getItem('Edit').submenu; edit.addItem({label: 'y'}) === undefined",
              "edit.addSeparator() === edit"});
  EXPECT_EQ(edit->items().size(), NativeMenu::kMaxItems);
  edit->removeItem(edit->items().front());
  expectTrue({"edit.addItem({label: 'y'}) === edit.getItem(19999)"});
}

}  // namespace wd::test
