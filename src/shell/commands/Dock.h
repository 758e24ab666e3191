#pragma once
// MacGap.Dock: the text badge on the application's launcher icon, set, cleared and read back
// through the context's badge service (on the desktop, the launcher-entry count; see
// LauncherBadge for how text that is not a number is shown).
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class ShellContext;

class Dock : public bridge::Command {
 public:
  Dock(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context);
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // Sets the badge; no text (or empty text) clears it.
  void addBadge(std::optional<std::string> text);
  void removeBadge();
  // The badge's text, undefined when there is none.
  bridge::Value badge() const;

 private:
  ShellContext& context_;
};

}  // namespace wd
