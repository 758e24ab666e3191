// FontCatalog on fontconfig (listing) and PangoFT2 (metrics). Lists are read from fontconfig's
// current configuration each time; the Pango font map is made once, on first use, and kept for
// the process (main thread only).
#include "shell/media/FontCatalog.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangofc-fontmap.h>
#include <pango/pangoft2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

namespace wd::fonts {

namespace {

struct PatternFree {
  void operator()(FcPattern* p) const {
    if (p) FcPatternDestroy(p);
  }
};
struct ObjectSetFree {
  void operator()(FcObjectSet* s) const {
    if (s) FcObjectSetDestroy(s);
  }
};
struct FontSetFree {
  void operator()(FcFontSet* s) const {
    if (s) FcFontSetDestroy(s);
  }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternFree>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, ObjectSetFree>;
using FontSetPtr = std::unique_ptr<FcFontSet, FontSetFree>;

// The installed fonts matching `pattern`, with the listed properties.
template <class... Objects>
FontSetPtr list(FcPattern* pattern, Objects... objects) {
  ObjectSetPtr set(FcObjectSetBuild(objects..., static_cast<char*>(nullptr)));
  return FontSetPtr(FcFontList(nullptr, pattern, set.get()));
}

std::optional<std::string> stringOf(FcPattern* font, const char* object) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(font, object, 0, &value) != FcResultMatch || !value) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(value));
}

int intOf(FcPattern* font, const char* object, int fallback) {
  int value = fallback;
  return FcPatternGetInteger(font, object, 0, &value) == FcResultMatch ? value : fallback;
}

std::optional<std::string> nameOf(FcPattern* font) {
  if (auto name = stringOf(font, FC_POSTSCRIPT_NAME); name && !name->empty()) return name;
  return stringOf(font, FC_FULLNAME);
}

std::vector<std::string> sortedNames(const char* object, bool fontName) {
  PatternPtr all(FcPatternCreate());
  FontSetPtr fonts =
      fontName ? list(all.get(), FC_POSTSCRIPT_NAME, FC_FULLNAME) : list(all.get(), object);
  std::set<std::string> names;
  for (int i = 0; fonts && i < fonts->nfont; ++i) {
    auto name = fontName ? nameOf(fonts->fonts[i]) : stringOf(fonts->fonts[i], object);
    if (name && !name->empty()) names.insert(std::move(*name));
  }
  return {names.begin(), names.end()};
}

// The first installed font whose `object` is `value`.
PatternPtr findFont(const char* object, const std::string& value) {
  PatternPtr pattern(FcPatternCreate());
  FcPatternAddString(pattern.get(), object, reinterpret_cast<const FcChar8*>(value.c_str()));
  FontSetPtr fonts = list(pattern.get(), FC_FAMILY, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH);
  if (!fonts || fonts->nfont == 0) return nullptr;
  FcPatternReference(fonts->fonts[0]);
  return PatternPtr(fonts->fonts[0]);
}

PangoContext* metricsContext() {
  struct Holder {
    PangoFontMap* map = pango_ft2_font_map_new();
    PangoContext* context = pango_font_map_create_context(map);
  };
  static const Holder holder;  // the process's; never freed
  return holder.context;
}

}  // namespace

int appKitWeight(int fontconfigWeight) {
  static constexpr std::array<std::pair<int, int>, 12> kScale{{
      {FC_WEIGHT_THIN, 1},
      {FC_WEIGHT_EXTRALIGHT, 2},
      {FC_WEIGHT_LIGHT, 3},
      {FC_WEIGHT_DEMILIGHT, 3},
      {FC_WEIGHT_BOOK, 4},
      {FC_WEIGHT_REGULAR, 5},
      {FC_WEIGHT_MEDIUM, 6},
      {FC_WEIGHT_DEMIBOLD, 8},
      {FC_WEIGHT_BOLD, 9},
      {FC_WEIGHT_EXTRABOLD, 10},
      {FC_WEIGHT_BLACK, 11},
      {FC_WEIGHT_EXTRABLACK, 13},
  }};
  int best = kScale[0].second;
  int distance = std::abs(fontconfigWeight - kScale[0].first);
  for (const auto& [fc, appKit] : kScale) {
    if (std::abs(fontconfigWeight - fc) < distance) {
      distance = std::abs(fontconfigWeight - fc);
      best = appKit;
    }
  }
  return best;
}

std::vector<std::string> fontNames() {
  return sortedNames(FC_POSTSCRIPT_NAME, true);
}

std::vector<std::string> familyNames() {
  return sortedNames(FC_FAMILY, false);
}

std::optional<std::vector<FamilyMember>> membersOfFamily(std::string_view family) {
  if (family.empty() || family.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string name(family);
  PatternPtr pattern(FcPatternCreate());
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FontSetPtr fonts = list(pattern.get(), FC_POSTSCRIPT_NAME, FC_FULLNAME, FC_STYLE, FC_WEIGHT,
                          FC_SLANT, FC_WIDTH, FC_SPACING);
  if (!fonts || fonts->nfont == 0) return std::nullopt;
  std::vector<FamilyMember> members;
  std::set<std::string> seen;
  for (int i = 0; i < fonts->nfont; ++i) {
    FcPattern* font = fonts->fonts[i];
    auto fontName = nameOf(font);
    if (!fontName || !seen.insert(*fontName).second) continue;
    FamilyMember m;
    m.name = *fontName;
    m.face = stringOf(font, FC_STYLE).value_or("Regular");
    const int weight = intOf(font, FC_WEIGHT, FC_WEIGHT_REGULAR);
    m.weight = appKitWeight(weight);
    if (weight >= FC_WEIGHT_BOLD) m.traits |= kBoldTrait;
    if (intOf(font, FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN) m.traits |= kItalicTrait;
    const int width = intOf(font, FC_WIDTH, FC_WIDTH_NORMAL);
    if (width < FC_WIDTH_NORMAL) m.traits |= kCondensedTrait;
    if (width > FC_WIDTH_NORMAL) m.traits |= kExpandedTrait;
    const int spacing = intOf(font, FC_SPACING, FC_PROPORTIONAL);
    if (spacing == FC_MONO || spacing == FC_CHARCELL) m.traits |= kFixedPitchTrait;
    members.push_back(std::move(m));
  }
  std::sort(members.begin(), members.end(), [](const FamilyMember& a, const FamilyMember& b) {
    return std::tie(a.weight, a.traits, a.name) < std::tie(b.weight, b.traits, b.name);
  });
  return members;
}

std::optional<double> lineHeight(std::string_view fontName, double size) {
  if (fontName.empty() || fontName.find('\0') != std::string_view::npos) return std::nullopt;
  if (std::isnan(size) || size <= 0) size = 12;
  if (size > 10000) return std::nullopt;
  const std::string name(fontName);
  PatternPtr font = findFont(FC_POSTSCRIPT_NAME, name);
  if (!font) font = findFont(FC_FULLNAME, name);
  if (!font) font = findFont(FC_FAMILY, name);
  if (!font) return std::nullopt;

  PangoFontDescription* description = pango_fc_font_description_from_pattern(font.get(), FALSE);
  std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> owned(
      description, pango_font_description_free);
  // Absolute size: device units, which for this font map are points.
  pango_font_description_set_absolute_size(description, size * PANGO_SCALE);
  PangoContext* context = metricsContext();
  g_autoptr(PangoFont) loaded = pango_context_load_font(context, description);
  if (!loaded) return std::nullopt;
  PangoFontMetrics* metrics = pango_font_get_metrics(loaded, nullptr);
  std::unique_ptr<PangoFontMetrics, decltype(&pango_font_metrics_unref)> ownedMetrics(
      metrics, pango_font_metrics_unref);
  int height = pango_font_metrics_get_height(metrics);
  if (height <= 0)
    height = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
  return static_cast<double>(height) / PANGO_SCALE;
}

}  // namespace wd::fonts
