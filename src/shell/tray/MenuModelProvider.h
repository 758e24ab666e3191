#pragma once
// What a native menu object offers to the tray: its GMenuModel and the action group its items
// activate. The page's Menu wrapper implements it; the status item exports whatever provider
// the page assigns to its `menu`.
#include <gio/gio.h>

namespace wd {

class MenuModelProvider {
 public:
  virtual ~MenuModelProvider() = default;
  // The menu (nullptr: none). Owned by the provider.
  virtual GMenuModel* menuModel() const = 0;
  // The actions the items name (nullptr: none). Owned by the provider.
  virtual GActionGroup* menuActions() const = 0;
};

}  // namespace wd
