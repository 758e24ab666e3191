// Cost of adding and removing menu items, per item: 100, 1,000 and 10,000 items added to one
// menu of the menu bar (each with its own action, as a page's item with a callback has), then
// removed again, on the native menu the menu bar renders. With changes that touch only the
// item's section the cost per item stays flat; each line prints the growth per decade (time
// per item at this size over time per item at the size ten times smaller), the last line the
// largest: "growth_max <ratio>". The platform columns are the same work done on GLib's menu model
// and action group alone (an item with a label and its action in the second section, added and
// removed in the same order), the floor any menu built on them has.
#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Growth.h"
#include "shell/menu/NativeMenu.h"

namespace {

// The best time per item of adding and of removing `count` items on GLib's objects alone.
std::array<double, 2> platformCost(std::size_t count, int rounds, GActionMap* map) {
  std::array<double, 2> best = {1e300, 1e300};
  GMenu* bar = g_menu_new();
  int changes = 0;
  g_signal_connect(bar, "items-changed", G_CALLBACK(+[](GMenuModel*, gint, gint, gint, gpointer n) {
                     ++*static_cast<int*>(n);
                   }),
                   &changes);
  std::vector<std::string> names(count);
  for (std::size_t i = 0; i < count; ++i) names[i] = "platform-item-" + std::to_string(i);
  for (int r = 0; r < rounds; ++r) {
    GMenu* menu = g_menu_new();
    GMenu* sections[2] = {g_menu_new(), g_menu_new()};
    g_menu_append(sections[0], "First", nullptr);
    for (GMenu* section : sections) g_menu_append_section(menu, nullptr, G_MENU_MODEL(section));
    g_menu_append_submenu(bar, "Tools", G_MENU_MODEL(menu));
    const double t0 = wd::bench::lap(nullptr, count);
    for (std::size_t i = 0; i < count; ++i) {
      GSimpleAction* action = g_simple_action_new(names[i].c_str(), nullptr);
      g_signal_connect(action, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer) {}),
                       nullptr);
      g_action_map_add_action(map, G_ACTION(action));
      g_object_unref(action);
      const std::string label = "Item " + std::to_string(i), detailed = "app." + names[i];
      GMenuItem* item = g_menu_item_new(label.c_str(), detailed.c_str());
      g_menu_insert_item(sections[1], static_cast<gint>(i), item);
      g_object_unref(item);
    }
    const double t1 = wd::bench::lap("platform_add", count);
    for (std::size_t i = count; i-- > 0;) {
      g_action_map_remove_action(map, names[i].c_str());
      g_menu_remove(sections[1], static_cast<gint>(i));
    }
    const double t2 = wd::bench::lap("platform_remove", count);
    g_menu_remove(bar, 0);
    for (GMenu* section : sections) g_object_unref(section);
    g_object_unref(menu);
    best[0] = std::min(best[0], (t1 - t0) / double(count));
    best[1] = std::min(best[1], (t2 - t1) / double(count));
  }
  g_object_unref(bar);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace wd;
  const auto sizes = bench::sizesFrom(argc, argv, {100, 1000, 10000});
  GSimpleActionGroup* group = g_simple_action_group_new();
  auto actions = std::make_shared<MenuActions>(G_ACTION_MAP(group));
  auto bar = NativeMenu::create(actions, "");
  // A listener on the rendered model, as a menu bar has.
  int changes = 0;
  g_signal_connect(
      bar->model(), "items-changed",
      G_CALLBACK(+[](GMenuModel*, gint, gint, gint, gpointer n) { ++*static_cast<int*>(n); }),
      &changes);
  bench::GrowthTable table("items", "add ns/item", "remove ns/item", "growth_add", "growth_rm",
                           true);
  for (std::size_t count : sizes) {
    const int rounds = bench::roundsFor(static_cast<int>(std::max<std::size_t>(3, 100000 / count)));
    double best[2] = {1e300, 1e300};
    for (int r = 0; r < rounds; ++r) {
      auto entry = bar->insertItem("Tools", std::nullopt);
      auto menu = NativeMenu::create(actions, "Tools");
      entry->setSubmenu(menu);
      menu->insertItem("First", std::nullopt);
      menu->addSeparator();  // the items go into the second section
      std::vector<std::shared_ptr<NativeMenuItem>> items;
      items.reserve(count);
      const double t0 = bench::lap(nullptr, count);
      for (std::size_t i = 0; i < count; ++i) {
        auto item = menu->insertItem("Item " + std::to_string(i), std::nullopt);
        item->setHandler([] {}, {});
        items.push_back(std::move(item));
      }
      const double t1 = bench::lap("add", count);
      for (auto it = items.rbegin(); it != items.rend(); ++it) menu->removeItem(*it);
      const double t2 = bench::lap("remove", count);
      bar->removeItem(entry);
      best[0] = std::min(best[0], (t1 - t0) / double(count));
      best[1] = std::min(best[1], (t2 - t1) / double(count));
    }
    table.add(count, best, platformCost(count, rounds, G_ACTION_MAP(group)));
  }
  g_object_unref(group);
  return changes > 0 ? 0 : 1;
}
