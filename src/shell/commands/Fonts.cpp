// MacGap.Fonts over FontCatalog: converts the catalog's answers into page values.
#include "shell/commands/Fonts.h"

#include "bridge/Exports.h"
#include "shell/media/FontCatalog.h"

namespace wd {

namespace {

bridge::ValueArray toArray(std::vector<std::string> names) {
  bridge::ValueArray out;
  out.reserve(names.size());
  for (auto& n : names) out.emplace_back(std::move(n));
  return out;
}

}  // namespace

Fonts::Fonts(std::weak_ptr<bridge::WindowHandle> window) : bridge::Command(std::move(window)) {}

const bridge::ClassInfo& Fonts::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Fonts::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Fonts>("Fonts")
          .summary("The installed fonts (fontconfig) and their line heights (Pango).")
          .method("availableFonts", &Fonts::availableFonts)
          .doc({.summary = "The PostScript names of the installed fonts, sorted.",
                .result = "string[]"})
          .method("availableFontFamilies", &Fonts::availableFontFamilies)
          .doc({.summary = "The names of the installed font families, sorted.",
                .result = "string[]"})
          .method("availableMembersOfFontFamily:", &Fonts::availableMembersOfFontFamily)
          .doc({.summary =
                    "A family's fonts, lightest first, as [name, style, weight 0-15, traits].",
                .params = {"family"},
                .result = "[string, string, number, number][] | undefined",
                .refused = "undefined"})
          .method("defaultLineHeightForFont:ofSize:__JS_EXPORT_AS__getLineHeight:",
                  &Fonts::defaultLineHeightForFont)
          .doc({.summary = "The default line height of the font (PostScript, full or family name) "
                           "at the size.",
                .params = {"fontName", "size"},
                .result = "number | undefined",
                .refused = "undefined for unknown fonts; a size of 0 or less is 12"})
          .build();
  return info;
}

bridge::ValueArray Fonts::availableFonts() const {
  return toArray(fonts::fontNames());
}

bridge::ValueArray Fonts::availableFontFamilies() const {
  return toArray(fonts::familyNames());
}

bridge::Value Fonts::availableMembersOfFontFamily(std::optional<std::string> family) const {
  if (!family) return {};
  auto members = fonts::membersOfFamily(*family);
  if (!members) return {};
  bridge::ValueArray out;
  out.reserve(members->size());
  for (auto& m : *members)
    out.emplace_back(bridge::ValueArray{bridge::Value(std::move(m.name)),
                                        bridge::Value(std::move(m.face)), bridge::Value(m.weight),
                                        bridge::Value(m.traits)});
  return bridge::Value(std::move(out));
}

bridge::Value Fonts::defaultLineHeightForFont(std::optional<std::string> fontName,
                                              double size) const {
  if (!fontName) return {};
  if (auto height = fonts::lineHeight(*fontName, size)) return bridge::Value(*height);
  return {};
}

}  // namespace wd
