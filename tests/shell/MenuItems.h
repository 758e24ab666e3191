#pragma once
// The action and accelerator of the item labelled `label` in a menu model, depth first.
#include <gio/gio.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wd::test {

inline std::optional<std::pair<std::string, std::string>> findMenuItem(
    GMenuModel* model, const std::string& label, std::vector<GMenuModel*>* seen = nullptr) {
  // A remote model is filled only while someone listens: `seen` keeps each one visited with a
  // listener, so that its items arrive on the loop (the caller unrefs them).
  if (seen && std::find(seen->begin(), seen->end(), model) == seen->end()) {
    seen->push_back(G_MENU_MODEL(g_object_ref(model)));
    g_signal_connect(model, "items-changed", G_CALLBACK(+[] {}), nullptr);
  }
  for (int i = 0; i < g_menu_model_get_n_items(model); ++i) {
    g_autofree gchar *text = nullptr, *action = nullptr, *accel = nullptr;
    if (g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &text) &&
        label == text) {
      g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
      g_menu_model_get_item_attribute(model, i, "accel", "s", &accel);
      return std::make_pair(std::string(action ? action : ""), std::string(accel ? accel : ""));
    }
    g_autoptr(GMenuLinkIter) links = g_menu_model_iterate_item_links(model, i);
    GMenuModel* child = nullptr;
    while (g_menu_link_iter_get_next(links, nullptr, &child)) {
      auto found = findMenuItem(child, label, seen);
      g_object_unref(child);
      if (found) return found;
    }
  }
  return std::nullopt;
}

}  // namespace wd::test
