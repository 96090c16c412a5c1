// Golden images of text at four angles, with and without smoothing, in
// every direct depth. The font is the IPA gothic file placed in the game's
// fonts folder, so the images do not depend on fontconfig's choices.
// TALVEN_UPDATE_GOLDEN=1 rewrites them.
#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "graphics/graphics_test_util.h"
#include "graphics/text/text.h"
#include "graphics/text/text_builtins.h"

namespace talven::graphics {
namespace {

namespace fs = std::filesystem;

class TextGolden : public test::GraphicsTest,
                   public ::testing::WithParamInterface<std::tuple<bool, int>> {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    saved_palette_ = DisplayPalette();  // tests change entries; others must not see it
    const char* font = TALVEN_TEST_DATA "/fonts/ipag.ttf";
    if (!fs::exists(font)) GTEST_SKIP() << "the tests' IPA gothic font is missing";
    fs::create_directories(dir_ / "fonts");
    fs::copy_file(font, dir_ / "fonts" / "ipag.ttf");
    fonts_start(nullptr);
  }
  void TearDown() override {
    DisplayPalette() = saved_palette_;
    fonts_release();
    GraphicsTest::TearDown();
  }
  std::array<std::uint8_t, 1024> saved_palette_{};
};

TEST_P(TextGolden, FourAngles) {
  const auto [smooth, bpp] = GetParam();
  Plane* p = test::make_plane(1, 150, 150, bpp);
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x)
      test::set_raw(*p, x, y, bpp == 8 ? 0u : bpp == 16 ? 0x0842u : 0xFF204060u);
  // Text colour: palette entry 250, a light yellow; background 4.
  DisplayPalette()[4 * 250 + 0] = 60;
  DisplayPalette()[4 * 250 + 1] = 230;
  DisplayPalette()[4 * 250 + 2] = 250;
  const std::int32_t angles[4] = {0, 900, 2700, 450};
  const std::int32_t at[4][2] = {{4, 2}, {4, 40}, {120, 30}, {40, 70}};
  for (int i = 0; i < 4; ++i) {
    FontRecord desc;
    std::strcpy(desc.face, "IPAGothic");
    desc.height = 18;
    desc.angle = angles[i];
    desc.style = (smooth ? kStyleSmooth : 0) | (i == 3 ? kStyleUnderline : 0);
    ASSERT_TRUE(font_set(i, desc));
    std::uint32_t colour = 250 | (i == 1 ? kTextOpaque | 4u << 8 : 0);
    EXPECT_EQ(draw_text(p, i, at[i][0], at[i][1], colour, "A\x82\xA0\x8A\xBFg"), 1) << angles[i];
  }
  test::expect_golden(
      *p, "text/" + std::string(smooth ? "smooth" : "plain") + "_" + std::to_string(bpp) + ".png");
}

// Bold (weight + 300), italic, underline and strike-out, plain and smoothed,
// and an opaque background, on one 32-bit plane.
TEST_F(TextGolden, Styles) {
  Plane* p = test::make_plane(1, 200, 120, 32);
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) test::set_raw(*p, x, y, 0xFF102030u);
  DisplayPalette()[4 * 250 + 0] = 255;
  DisplayPalette()[4 * 250 + 1] = 255;
  DisplayPalette()[4 * 250 + 2] = 255;
  DisplayPalette()[4 * 4 + 2] = 160;  // background: dark red
  const std::int32_t styles[4] = {kStyleBold, kStyleItalic, kStyleUnderline | kStyleStrikeOut,
                                  kStyleBold | kStyleItalic};
  for (int i = 0; i < 8; ++i) {
    FontRecord desc;
    std::strcpy(desc.face, "IPAGothic");
    desc.height = 16;
    desc.style = styles[i % 4] | (i >= 4 ? kStyleSmooth : 0);
    ASSERT_TRUE(font_set(i, desc));
    std::uint32_t colour = 250 | (i == 7 ? kTextOpaque | 4u << 8 : 0);
    EXPECT_EQ(draw_text(p, i, 4 + (i / 4) * 100, 4 + (i % 4) * 28, colour, "Ag\x82\xA0\x8A\xBF"), 1)
        << i;
  }
  test::expect_golden(*p, "text/styles_32.png");
}

INSTANTIATE_TEST_SUITE_P(Depths, TextGolden,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(8, 16, 24, 32)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "Smooth" : "Plain") +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace talven::graphics
