#pragma once
// Dispatching a named DOM event with a JSON payload into a page.
#include <optional>
#include <string>

#include "bridge/ScriptPage.h"
#include "core/Json.h"

namespace wd::bridge {

struct Event {
  // On `document` with an empty object as data.
  static void triggerEvent(const std::string& name, ScriptPage* page);
  // On `document`; data none (or unserialisable) gives null.
  static void triggerEvent(const std::string& name, const std::optional<Json>& data,
                           ScriptPage* page);
  // On the global `target` ("document" or "window").
  static void triggerEvent(const std::string& name, const std::optional<Json>& data,
                           const std::string& target, ScriptPage* page);
  // The event script: "var e = document.createEvent('Events'); e.initEvent('<name>', true,
  // false);  e.data=<pretty JSON or (null)>; <target>.dispatchEvent(e);". Quotes, backslashes
  // and line breaks in the name are escaped (ordinary names are inserted as they are); a target
  // that is not a plain global name gives an empty script, and nothing is dispatched.
  static std::string script(const std::string& name, const std::optional<Json>& data,
                            const std::string& target);
};

}  // namespace wd::bridge
