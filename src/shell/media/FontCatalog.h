#pragma once
// The installed fonts as the page's Fonts object describes them, read from fontconfig, and a
// font's default line height measured with Pango.
//
// A font's name is its PostScript name (the full name when it has none); a family's name is the
// family's first (default-language) name. Weights are given on the 0-15 scale the page expects
// (5 regular, 9 bold; appKitWeight has the mapping) and traits as that scale's trait mask.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wd::fonts {

// Trait bits of a family member.
inline constexpr unsigned kItalicTrait = 0x1;
inline constexpr unsigned kBoldTrait = 0x2;
inline constexpr unsigned kExpandedTrait = 0x20;
inline constexpr unsigned kCondensedTrait = 0x40;
inline constexpr unsigned kFixedPitchTrait = 0x400;

struct FamilyMember {
  std::string name;  // the font's name
  std::string face;  // its style within the family ("Bold Oblique")
  int weight = 5;
  unsigned traits = 0;
};

// Every installed font's name, sorted, each once.
std::vector<std::string> fontNames();
// Every installed family's name, sorted, each once.
std::vector<std::string> familyNames();
// The members of the family named `family` (matched as fontconfig matches families: case and
// spaces aside), lightest first; none for a family that is not installed.
std::optional<std::vector<FamilyMember>> membersOfFamily(std::string_view family);
// The default line height, in points, of the font named `fontName` (a font name, else a full
// name, else a family) at `size` points (0 or less, or not a number: 12 points): ascent, descent
// and line gap as Pango gives them. None for a font that is not installed or a size above 10000.
std::optional<double> lineHeight(std::string_view fontName, double size);

// A fontconfig weight (FC_WEIGHT_*) on the 0-15 scale: the nearest of thin 1, extra-light 2,
// light and semi-light 3, book 4, regular 5, medium 6, semibold 8, bold 9, extra-bold 10,
// black 11, extra-black 13.
int appKitWeight(int fontconfigWeight);

}  // namespace wd::fonts
