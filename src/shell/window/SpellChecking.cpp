#include "shell/window/SpellChecking.h"

#include <glib.h>

#include <algorithm>

#include "core/UserDefaults.h"

namespace wd::spelling {

namespace {

// "de_DE.UTF-8@euro" -> "de_DE"; none for C, POSIX and anything that is not a language tag
// (letters, then optionally "_" or "-" and letters or digits).
std::optional<std::string> tagOf(std::string name) {
  name = name.substr(0, name.find_first_of(".@"));
  auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
  while (!name.empty() && isSpace(name.front())) name.erase(name.begin());
  while (!name.empty() && isSpace(name.back())) name.pop_back();
  if (name.empty() || name == "C" || name == "POSIX" || name.size() > 32) return std::nullopt;
  const auto separator = name.find_first_of("_-");
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto isAlnum = [&](char c) { return isAlpha(c) || (c >= '0' && c <= '9'); };
  const std::string language = name.substr(0, separator);
  if (language.size() < 2 || !std::all_of(language.begin(), language.end(), isAlpha))
    return std::nullopt;
  if (separator != std::string::npos) {
    const std::string region = name.substr(separator + 1);
    if (region.empty() || !std::all_of(region.begin(), region.end(), isAlnum)) return std::nullopt;
    name[separator] = '_';
  }
  return name;
}

void addTag(std::vector<std::string>& out, const std::string& name) {
  if (auto tag = tagOf(name); tag && std::find(out.begin(), out.end(), *tag) == out.end())
    out.push_back(*tag);
}

}  // namespace

std::vector<std::string> languages(const std::optional<Json>& setting,
                                   const std::vector<std::string>& localeNames) {
  std::vector<std::string> out;
  if (setting && setting->is_string()) {
    std::string text = setting->get<std::string>();
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == ';' || c == ':'; }, ',');
    std::size_t start = 0;
    while (start <= text.size()) {
      const auto end = std::min(text.find(',', start), text.size());
      addTag(out, text.substr(start, end - start));
      start = end + 1;
    }
  } else if (setting && setting->is_array()) {
    for (const auto& item : *setting)
      if (item.is_string()) addTag(out, item.get<std::string>());
  }
  if (!out.empty()) return out;
  for (const auto& name : localeNames) addTag(out, name);
  return out;
}

std::vector<std::string> languages(const UserDefaults& defaults) {
  std::vector<std::string> locale;
  for (const gchar* const* n = g_get_language_names(); n && *n; ++n) locale.emplace_back(*n);
  return languages(defaults.objectForKey(kLanguagesKey), locale);
}

}  // namespace wd::spelling
