// Cost of adding and removing menu items, per item: 100, 1,000 and 10,000 items added to one
// menu of the menu bar (each with its own action, as a page's item with a callback has), then
// removed again, on the native menu the menu bar renders. With changes that touch only the
// item's section the cost per item stays flat; each line prints the growth per decade (time
// per item at this size over time per item at the size ten times smaller), the last line the
// largest: "growth_max <ratio>".
#include <gio/gio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "shell/menu/NativeMenu.h"

namespace {

// Processor time of this process, not wall time: the machine may be shared, and a long run is
// interrupted more often than a short one, which would show as growth that is not the code's.
double nowNs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  // Sizes may be given on the command line (to profile one of them); the default is all three.
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {100, 1000, 10000};
  using namespace wd;
  GSimpleActionGroup* group = g_simple_action_group_new();
  auto actions = std::make_shared<MenuActions>(G_ACTION_MAP(group));
  auto bar = NativeMenu::create(actions, "");
  // A listener on the rendered model, as a menu bar has.
  int changes = 0;
  g_signal_connect(
      bar->model(), "items-changed",
      G_CALLBACK(+[](GMenuModel*, gint, gint, gint, gpointer n) { ++*static_cast<int*>(n); }),
      &changes);
  double growthMax = 0;
  double previous[2] = {0, 0};
  std::printf("%8s %14s %14s %10s %10s\n", "items", "add ns/item", "remove ns/item", "growth_add",
              "growth_rm");
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
      const double t0 = nowNs();
      for (std::size_t i = 0; i < count; ++i) {
        auto item = menu->insertItem("Item " + std::to_string(i), std::nullopt);
        item->setHandler([] {}, {});
        items.push_back(std::move(item));
      }
      const double t1 = nowNs();
      for (auto it = items.rbegin(); it != items.rend(); ++it) menu->removeItem(*it);
      const double t2 = nowNs();
      bar->removeItem(entry);
      best[0] = std::min(best[0], (t1 - t0) / double(count));
      best[1] = std::min(best[1], (t2 - t1) / double(count));
    }
    double growth[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      if (previous[k] > 0) growth[k] = best[k] / previous[k];
      growthMax = std::max(growthMax, growth[k]);
      previous[k] = best[k];
    }
    std::printf("%8zu %14.0f %14.0f %10.2f %10.2f\n", count, best[0], best[1], growth[0],
                growth[1]);
  }
  std::printf("growth_max %.2f\n", growthMax);
  g_object_unref(group);
  return changes > 0 ? 0 : 1;
}
