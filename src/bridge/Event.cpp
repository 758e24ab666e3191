#include "bridge/Event.h"

namespace wd::bridge {

std::string Event::script(const std::string& name, const std::optional<Json>& data,
                          const std::string& target) {
  std::string json = "(null)";
  if (data)
    if (auto text = JSONString(*data)) json = std::move(*text);
  return "var e = document.createEvent('Events'); e.initEvent('" + name +
         "', true, false);  e.data=" + json + "; " + target + ".dispatchEvent(e);";
}

void Event::triggerEvent(const std::string& name, ScriptPage* page) {
  triggerEvent(name, Json::object(), "document", page);
}

void Event::triggerEvent(const std::string& name, const std::optional<Json>& data,
                         ScriptPage* page) {
  triggerEvent(name, data, "document", page);
}

void Event::triggerEvent(const std::string& name, const std::optional<Json>& data,
                         const std::string& target, ScriptPage* page) {
  if (page) page->evaluateScript(script(name, data, target));
}

}  // namespace wd::bridge
