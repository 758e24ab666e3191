#include "shell/commands/Notify.h"

#include "bridge/Exports.h"
#include "shell/ShellContext.h"
#include "shell/commands/NotificationPosting.h"
#include "shell/window/WebWindow.h"

namespace wd {

Notify::Notify(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context)
    : bridge::Command(std::move(window)), context_(context) {}

const bridge::ClassInfo& Notify::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Notify::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Notify>("Notify")
          .summary("Desktop notifications, as `MacGap.notify` posts them, withdrawn by id.")
          .method("notify:", &Notify::notify)
          .doc({.summary = "Posts a desktop notification, or with type \"sheet\" shows an alert on "
                           "this window.",
                .params =
                    {"options: { type?: \"sheet\" | string; id?: string | number; title?: string; "
                     "content?: string; subtitle?: string; sound?: boolean | string }"},
                .refused = "nothing is posted without options"})
          .method("close:", &Notify::close)
          .doc({.summary = "Withdraws the delivered notifications posted with this id (\"*\": all "
                           "of them).",
                .params = {"id"},
                .refused = "nothing happens"})
          .property("notifications", &Notify::notifications)
          .doc({.summary =
                    "Always undefined: this object keeps no list (see `MacGap.notifications`).",
                .result = "undefined"})
          .build();
  return info;
}

void Notify::notify(std::optional<bridge::Dictionary> options) {
  auto window = std::dynamic_pointer_cast<WebWindow>(windowController());
  notifications::post(options, context_.notifications(), window ? window->gtkWindow() : nullptr);
}

void Notify::close(std::optional<std::string> id) {
  if (id) notifications::withdraw(context_.notifications(), *id);
}

}  // namespace wd
