#include "shell/commands/Dock.h"

#include "bridge/Exports.h"
#include "shell/ShellContext.h"
#include "shell/system/Badge.h"

namespace wd {

Dock::Dock(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context)
    : bridge::Command(std::move(window)), context_(context) {}

const bridge::ClassInfo& Dock::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Dock::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Dock>("Dock")
          .summary("The badge on the application's launcher icon.")
          .method("addBadge:", &Dock::addBadge)
          .doc({.summary = "Shows the text as the badge (a whole number as the count).",
                .params = {"text"},
                .refused = "the badge is removed"})
          .method("removeBadge", &Dock::removeBadge)
          .doc({.summary = "Removes the badge."})
          .property("badge", &Dock::badge)
          .doc({.summary = "The badge's text; undefined when there is none.",
                .result = "string | undefined"})
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
