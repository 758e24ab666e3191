#pragma once
// Exports a GMenuModel over D-Bus as a com.canonical.dbusmenu object, the menu protocol that
// StatusNotifierItem hosts (KDE Plasma, the GNOME AppIndicator extension, XFCE, Budgie) read.
// The model is flattened the way GTK renders it: sections become runs of items separated by
// separator items, submenus become items with children. Each item carries "label" (with its
// mnemonic underscore), "enabled" (its action exists and is enabled), "toggle-type" and
// "toggle-state" (a boolean-state action is a checkmark, a targeted stateful action a radio
// item), "shortcut" (from the item's "accel" attribute) and "children-display". A "clicked"
// event activates the item's action (with its target) on the action group given with the model:
// the full name ("app.quit") when the group has it, else the name without its prefix ("quit").
// A change of the model or of the actions bumps the layout revision and emits LayoutUpdated once
// until the host reads the layout again. Unknown item ids are refused with InvalidArgs.
#include <gio/gio.h>

#include <memory>

namespace wd {

class DBusMenuExporter {
 public:
  static constexpr const char* kInterface = "com.canonical.dbusmenu";

  // Registers the object at `path` on `connection` (with an empty menu).
  DBusMenuExporter(GDBusConnection* connection, const char* path);
  ~DBusMenuExporter();
  DBusMenuExporter(const DBusMenuExporter&) = delete;
  DBusMenuExporter& operator=(const DBusMenuExporter&) = delete;

  // The menu to export (references are taken); nullptr for an empty menu.
  void setMenu(GMenuModel* model, GActionGroup* actions);
  bool hasMenu() const;
  unsigned revision() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace wd
