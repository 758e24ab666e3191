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
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Fonts>("Fonts")
          .method("availableFonts", &Fonts::availableFonts)
          .method("availableFontFamilies", &Fonts::availableFontFamilies)
          .method("availableMembersOfFontFamily:", &Fonts::availableMembersOfFontFamily)
          .method("defaultLineHeightForFont:ofSize:__JS_EXPORT_AS__getLineHeight:",
                  &Fonts::defaultLineHeightForFont)
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
