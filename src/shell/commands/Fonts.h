#pragma once
// MacGap.Fonts: the page lists the installed fonts and families, the members of a family (each as
// [font name, face name, weight, traits]) and measures a font's default line height. Unknown
// families and fonts give undefined. Backed by fontconfig and Pango (FontCatalog).
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class Fonts : public bridge::Command {
 public:
  explicit Fonts(std::weak_ptr<bridge::WindowHandle> window);
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  bridge::ValueArray availableFonts() const;
  bridge::ValueArray availableFontFamilies() const;
  bridge::Value availableMembersOfFontFamily(std::optional<std::string> family) const;
  bridge::Value defaultLineHeightForFont(std::optional<std::string> fontName, double size) const;
};

}  // namespace wd
