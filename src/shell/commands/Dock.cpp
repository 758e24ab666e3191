#include "shell/commands/Dock.h"

#include "bridge/Exports.h"
#include "shell/ShellContext.h"
#include "shell/system/Badge.h"

namespace wd {

Dock::Dock(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context)
    : bridge::Command(std::move(window)), context_(context) {}

const bridge::ClassInfo& Dock::scriptClass() const {
  static const bridge::ClassInfo& info = bridge::ClassBuilder<Dock>("Dock")
                                             .method("addBadge:", &Dock::addBadge)
                                             .method("removeBadge", &Dock::removeBadge)
                                             .property("badge", &Dock::badge)
                                             .build();
  return info;
}

void Dock::addBadge(std::optional<std::string> text) {
  context_.badge().setLabel(text.value_or(""));
}

void Dock::removeBadge() {
  context_.badge().setLabel("");
}

bridge::Value Dock::badge() const {
  if (auto label = context_.badge().label()) return bridge::Value(*label);
  return {};
}

}  // namespace wd
