#include "shell/system/PreferredLanguage.h"

#include <glib.h>

namespace wd::locale {

std::string languageCode(const std::string& localeName) {
  std::string code;
  for (char c : localeName) {
    if (!g_ascii_isalpha(c)) break;  // "_" territory, "-" region, "." codeset, "@" modifier
    code += g_ascii_tolower(c);
  }
  // "c" (C, C.UTF-8) and "posix" are the untranslated locale: its texts are English.
  if (code.empty() || code == "c" || code == "posix") return "en";
  return code;
}

std::string preferredLanguageCode() {
  const gchar* const* names = g_get_language_names();
  return languageCode(names && names[0] ? names[0] : "");
}

}  // namespace wd::locale
