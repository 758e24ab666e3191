#include "bridge/Event.h"

#include <cctype>

namespace wd::bridge {

namespace {

// The name as the body of a single-quoted script string. Ordinary names come out unchanged; a
// quote, backslash or line break cannot end the string and run the rest as script.
std::string quotedBody(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == '\\' || c == '\'') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char* hex = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else if (c == 0xE2 && i + 2 < name.size() && name[i + 1] == '\x80' &&
               (name[i + 2] == '\xA8' || name[i + 2] == '\xA9')) {
      out += name[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";  // line terminators
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A plain global name such as "document" or "window".
bool isGlobalName(const std::string& target) {
  if (target.empty() || std::isdigit(static_cast<unsigned char>(target[0]))) return false;
  for (char c : target)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$') return false;
  return true;
}

}  // namespace

std::string Event::script(const std::string& name, const std::optional<Json>& data,
                          const std::string& target) {
  if (!isGlobalName(target)) return {};
  std::string json = "(null)";
  if (data)
    if (auto text = JSONString(*data)) json = std::move(*text);
  return "var e = document.createEvent('Events'); e.initEvent('" + quotedBody(name) +
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
  if (!page) return;
  const std::string text = script(name, data, target);
  if (!text.empty()) page->evaluateScript(text);
}

}  // namespace wd::bridge
