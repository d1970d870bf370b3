#include "imaging/Colour.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace epipolar {
namespace {

struct Hsv {
  float h, s, v;
};
Hsv hsv(const Colour& c) {
  Hsv out;
  c.toHsv(out.h, out.s, out.v);
  return out;
}
std::string text(const Colour& c) {
  std::ostringstream out;
  out << c;
  return out.str();
}
void expectRgb(const Colour& c, float r, float g, float b) {
  constexpr float kTolerance = 1e-6f;  // a few float steps near 1
  EXPECT_NEAR(c.r, r, kTolerance);
  EXPECT_NEAR(c.g, g, kTolerance);
  EXPECT_NEAR(c.b, b, kTolerance);
}

TEST(Colour, HueSectorsTiesBlackAndGrey) {
  EXPECT_EQ(hsv(Colour(1, 0, 0)).h, 0.0f);
  EXPECT_EQ(hsv(Colour(0, 1, 0)).h, 120.0f);
  EXPECT_EQ(hsv(Colour(0, 0, 1)).h, 240.0f);
  EXPECT_EQ(hsv(Colour(1, 0, 0.5f)).h, 330.0f);
  EXPECT_EQ(hsv(Colour(0, 0, 1)).s, 1.0f);
  EXPECT_EQ(hsv(Colour(0, 0, 1)).v, 1.0f);
  // Two components share the maximum: red wins over green, green over blue.
  EXPECT_EQ(hsv(Colour(1, 1, 0)).h, 60.0f);
  EXPECT_EQ(hsv(Colour(0, 1, 1)).h, 180.0f);
  EXPECT_EQ(hsv(Colour(1, 0, 1)).h, 300.0f);

  const Hsv black = hsv(Colour());
  EXPECT_EQ(black.h, -1.0f);
  EXPECT_EQ(black.s, 0.0f);
  EXPECT_EQ(black.v, 0.0f);
  EXPECT_EQ(text(Colour()), "(-1, 0, 0)");
  EXPECT_EQ(text(Colour(1, 0, 0)), "(0, 1, 1)");

  // Greys other than black get hue 0, never NaN.
  const Hsv grey = hsv(Colour(0.5f, 0.5f, 0.5f));
  EXPECT_EQ(grey.h, 0.0f);
  EXPECT_EQ(grey.s, 0.0f);
  EXPECT_EQ(grey.v, 0.5f);
  EXPECT_EQ(text(Colour(1, 1, 1)), "(0, 0, 1)");
}

TEST(Colour, FromHsvRowsIncludingOutOfRangeHues) {
  Colour c;
  c.fromHsv(200, 0, 0.25f);
  expectRgb(c, 0.25f, 0.25f, 0.25f);
  // h = 30: sector 0 with f = 0.5 gives (v, t, p).
  c.fromHsv(30, 1, 1);
  expectRgb(c, 1, 0.5f, 0);
  c.fromHsv(120, 1, 1);
  expectRgb(c, 0, 1, 0);
  c.fromHsv(240, 1, 1);
  expectRgb(c, 0, 0, 1);
  // Sector 4 with f = 0.5, where t and p differ: (t, p, v).
  c.fromHsv(270, 1, 1);
  expectRgb(c, 0.5f, 0, 1);
  // h = 360 is sector 6 and takes the last row (v, p, q) with f = 0.
  c.fromHsv(360, 1, 1);
  expectRgb(c, 1, 0, 1);
  c.fromHsv(-30, 1, 1);  // sector -1: last row, f = 0.5
  expectRgb(c, 1, 0, 0.5f);
  c.fromHsv(std::numeric_limits<float>::quiet_NaN(), 1, 1);
  EXPECT_EQ(c.r, 1.0f);
  // A hue far beyond 360 whose sector still fits an int keeps its fraction (0 here): the
  // last row with q = v, not a fraction measured from a substitute sector.
  c.fromHsv(1.2e11f, 0.5f, 1);
  expectRgb(c, 1, 0.5f, 1);

  // Round trip through HSV for the primaries and a mixed colour.
  for (const Colour& start :
       {Colour(1, 0, 0), Colour(0.2f, 0.4f, 0.8f), Colour(0.9f, 0.3f, 0.6f)}) {
    const Hsv h = hsv(start);
    Colour back;
    back.fromHsv(h.h, h.s, h.v);
    EXPECT_NEAR(back.r, start.r, 1e-6f);
    EXPECT_NEAR(back.g, start.g, 1e-6f);
    EXPECT_NEAR(back.b, start.b, 1e-6f);
  }
}

TEST(Colour, DifferenceSquaresTheHsvDifferencesWithoutWrappingHue) {
  for (const Colour& c : {Colour(), Colour(1, 0, 0), Colour(0.3f, 0.6f, 0.2f), Colour(1, 1, 1)}) {
    expectRgb(c.difference(c), 0, 0, 0);
  }
  // Red (0, 1, 1) against mid grey (0, 0, 0.5): hue 0, saturation 1, value 0.25.
  expectRgb(Colour(1, 0, 0).difference(Colour(0.5f, 0.5f, 0.5f)), 0.25f, 0, 0);
  // White against black: hues 0 and -1 give the hue 1/360; saturation 0 makes it grey.
  expectRgb(Colour(1, 1, 1).difference(Colour()), 1, 1, 1);
  // Hues 350 and 10 differ by 340, not 20: hue 340^2/360 = 321.1, sector 5 (v, p, q).
  Colour a, b;
  a.fromHsv(350, 1, 1);
  b.fromHsv(10, 0.5f, 1);
  const Colour d = a.difference(b);  // saturation 0.25, value 0
  expectRgb(d, 0, 0, 0);
  b.fromHsv(10, 0.5f, 0.5f);
  const Colour e = a.difference(b);  // saturation 0.25, value 0.25
  const Hsv eh = hsv(e);
  EXPECT_NEAR(eh.h, 340.0f * 340.0f / 360.0f, 0.01f);
}

TEST(Colour, StoredPixelsAndComponents) {
  const std::uint8_t bgr[3] = {0, 128, 255};
  const Colour c(bgr);
  float r, g, b;
  c.components(r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 128 * kByteScale);
  EXPECT_EQ(b, 0.0f);
}

}  // namespace
}  // namespace epipolar
