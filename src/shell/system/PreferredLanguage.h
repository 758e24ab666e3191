#pragma once
// The user's language as a bare language code ("en", "de", "pt"): the first of the user's
// preferred languages (LANGUAGE, else the locale of LC_ALL, LC_MESSAGES, LANG), reduced to its
// language part.
#include <string>

namespace wd::locale {

// The language part of a locale name: "pt_BR.UTF-8" and "pt-BR" are "pt", "sr@latin" is "sr",
// upper case is lowered; the C and POSIX locales (and names without a language) mean English.
std::string languageCode(const std::string& localeName);

// The language code of the user's first preferred language.
std::string preferredLanguageCode();

}  // namespace wd::locale
