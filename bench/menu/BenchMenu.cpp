// Cost of adding and removing menu items, per item: 100, 1,000 and 10,000 items added to one
// menu of the menu bar (each with its own action, as a page's item with a callback has), then
// removed again, on the native menu the menu bar renders. With changes that touch only the
// item's section the cost per item stays flat; each line prints the growth per decade (time
// per item at this size over time per item at the size ten times smaller), the last line the
// largest: "growth_max <ratio>".
#include <gio/gio.h>

#include <algorithm>
#include <vector>

#include "Growth.h"
#include "shell/menu/NativeMenu.h"

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
  bench::GrowthTable table("items", "add ns/item", "remove ns/item", "growth_add", "growth_rm");
  for (std::size_t count : sizes) {
    const int rounds = static_cast<int>(std::max<std::size_t>(3, 100000 / count));
    double best[2] = {1e300, 1e300};
    for (int r = 0; r < rounds; ++r) {
      auto entry = bar->insertItem("Tools", std::nullopt);
      auto menu = NativeMenu::create(actions, "Tools");
      entry->setSubmenu(menu);
      menu->insertItem("First", std::nullopt);
      menu->addSeparator();  // the items go into the second section
      std::vector<std::shared_ptr<NativeMenuItem>> items;
      items.reserve(count);
      const double t0 = bench::cpuNowNs();
      for (std::size_t i = 0; i < count; ++i) {
        auto item = menu->insertItem("Item " + std::to_string(i), std::nullopt);
        item->setHandler([] {}, {});
        items.push_back(std::move(item));
      }
      const double t1 = bench::cpuNowNs();
      for (auto it = items.rbegin(); it != items.rend(); ++it) menu->removeItem(*it);
      const double t2 = bench::cpuNowNs();
      bar->removeItem(entry);
      best[0] = std::min(best[0], (t1 - t0) / double(count));
      best[1] = std::min(best[1], (t2 - t1) / double(count));
    }
    table.add(count, best);
  }
  g_object_unref(group);
  return changes > 0 ? 0 : 1;
}
