#include "shell/preferences/EmailFormatter.h"

#include <glib.h>

#include "core/I18n.h"

namespace wd {

const char* EmailFormatter::emailRegex() {
  return R"((?:[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+(?:\.[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))";
}

namespace {

// Compiled once; the whole text must match (anchored at both ends). PCRE's own limits make a
// pathological text fail to match instead of exhausting the stack.
GRegex* compiled() {
  static GRegex* regex = [] {
    const std::string whole = std::string(R"(\A(?:)") + EmailFormatter::emailRegex() + R"()\z)";
    return g_regex_new(whole.c_str(), GRegexCompileFlags(G_REGEX_OPTIMIZE | G_REGEX_CASELESS),
                       GRegexMatchFlags(0), nullptr);
  }();
  return regex;
}

}  // namespace

bool EmailFormatter::validateEmail(const std::string& text) {
  GRegex* regex = compiled();
  if (!regex || !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    return false;
  return g_regex_match_full(regex, text.data(), static_cast<gssize>(text.size()), 0,
                            GRegexMatchFlags(0), nullptr, nullptr);
}

std::optional<std::string> EmailFormatter::objectValueForString(const std::string& text,
                                                                std::string* errorDescription) {
  if (validateEmail(text)) return text;
  if (errorDescription) *errorDescription = _(kErrorMessage);
  return std::nullopt;
}

}  // namespace wd
