#include "shell/window/PageEvents.h"

#include "bridge/Event.h"
#include "bridge/ScriptPage.h"

namespace wd {

PageEvents::PageEvents(std::function<bridge::ScriptPage*()> page) : page_(std::move(page)) {}

void PageEvents::raise(const std::string& name, const std::optional<Json>& data,
                       const std::string& target) {
  bridge::ScriptPage* page = page_ ? page_() : nullptr;
  if (page) bridge::Event::triggerEvent(name, data, target, page);
}

void PageEvents::post(const std::string& name, const std::optional<Json>& data) {
  if (ready_) {
    raise(name, data);
    return;
  }
  held_[name] = data;
}

void PageEvents::runWhenReady(std::string script) {
  if (!ready_) {
    heldScript_ = std::move(script);
    return;
  }
  if (bridge::ScriptPage* page = page_ ? page_() : nullptr) page->evaluateScript(script);
}

void PageEvents::pageReady() {
  if (ready_) return;
  ready_ = true;
  // Take what is held first: a listener may raise new events while these are dispatched.
  auto events = std::move(held_);
  held_.clear();
  auto script = std::move(heldScript_);
  heldScript_.reset();
  for (const auto& [name, data] : events) raise(name, data);
  if (script) runWhenReady(std::move(*script));
}

}  // namespace wd
