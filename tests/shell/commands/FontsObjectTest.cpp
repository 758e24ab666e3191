// MacGap.Fonts from real JavaScript in the headless page, against the DejaVu fonts installed on
// the machine: the lists, the members of a family, line heights, and the weight scale.
#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/Fonts.h"
#include "shell/media/FontCatalog.h"

namespace wd::test {
namespace {

class FontsObject : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<FakeWindow>();
    window->page.install(
        {std::make_shared<DesktopCommand>(window), {{"Fonts", std::make_shared<Fonts>(window)}}});
    js("window.F = MacGap.Fonts");
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  std::shared_ptr<FakeWindow> window;
};

TEST_F(FontsObject, ListsInstalledFontsAndFamiliesSortedOnce) {
  for (const char* list : {"F.availableFonts()", "F.availableFontFamilies()"}) {
    SCOPED_TRACE(list);
    const Json names = js(list);
    ASSERT_TRUE(names.is_array());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  }
  EXPECT_EQ(js("['DejaVuSans', 'DejaVuSans-Bold', 'DejaVuSansMono-Oblique'].map("
               "  function (n) { return F.availableFonts().indexOf(n) >= 0; })"),
            Json::parse("[true, true, true]"));
  EXPECT_EQ(js("['DejaVu Sans', 'DejaVu Sans Mono', 'DejaVu Serif', 'DejaVu Sans Condensed'].map("
               "  function (n) { return F.availableFontFamilies().indexOf(n) >= 0; })"),
            Json::parse("[true, true, true, false]"));
}

TEST_F(FontsObject, MembersOfAFamilyGiveNameFaceWeightAndTraits) {
  EXPECT_EQ(js("F.availableMembersOfFontFamily('DejaVu Sans Mono')"), Json::parse(R"([
      ["DejaVuSansMono", "Book", 5, 1024],
      ["DejaVuSansMono-Oblique", "Oblique", 5, 1025],
      ["DejaVuSansMono-Bold", "Bold", 9, 1026],
      ["DejaVuSansMono-BoldOblique", "Bold Oblique", 9, 1027]])"));
  // The condensed faces count as narrow members of their family; the light one as light.
  EXPECT_EQ(js("F.availableMembersOfFontFamily('DejaVu Sans').filter(function (m) {"
               "  return m[0] === 'DejaVuSansCondensed-Bold' || m[0] === 'DejaVuSans-ExtraLight';"
               "})"),
            Json::parse(R"([["DejaVuSans-ExtraLight", "ExtraLight", 2, 0],
                            ["DejaVuSansCondensed-Bold", "Condensed Bold", 9, 66]])"));
  for (const char* family : {"'No Such Family'", "''", "null", "'DejaVu Sans\\u0000Mono'"})
    EXPECT_EQ(js("typeof F.availableMembersOfFontFamily(" + std::string(family) + ")"),
              Json("undefined"))
        << family;
}

TEST_F(FontsObject, LineHeightFollowsTheFontsMetrics) {
  const Json h12 = js("F.getLineHeight('DejaVuSans', 12)");
  ASSERT_TRUE(h12.is_number());
  EXPECT_GE(h12.get<double>(), 13);  // ascent 0.93 em + descent 0.24 em
  EXPECT_LE(h12.get<double>(), 15);
  const double h48 = js("F.getLineHeight('DejaVuSans', 48)").get<double>();
  EXPECT_NEAR(h48, 4 * h12.get<double>(), 4);
  // A full or family name finds the font too; a size of 0 or none is the default 12 points.
  for (const char* same : {"F.getLineHeight('DejaVu Sans', 12)", "F.getLineHeight('DejaVuSans', 0)",
                           "F.getLineHeight('DejaVuSans')"})
    EXPECT_EQ(js(same), h12) << same;
  for (const char* none :
       {"F.getLineHeight('NoSuchFont-Bold', 12)", "F.getLineHeight(null, 12)",
        "F.getLineHeight('DejaVuSans', 1e9)", "F.getLineHeight('DejaVuSans', Infinity)"})
    EXPECT_EQ(js("typeof " + std::string(none)), Json("undefined")) << none;
}

TEST(FontWeights, FontconfigWeightsMapOntoTheZeroToFifteenScale) {
  const std::pair<int, int> cases[] = {
      // Anchors, a weight between two named ones, and weights outside the range.
      {FC_WEIGHT_REGULAR, 5}, {FC_WEIGHT_BOLD, 9}, {90, 5}, {120, 6}, {-5, 1}, {1000, 13},
  };
  for (const auto& [fc, expected] : cases) EXPECT_EQ(fonts::appKitWeight(fc), expected) << fc;
}

}  // namespace
}  // namespace wd::test
