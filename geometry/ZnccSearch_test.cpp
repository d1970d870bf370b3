#include "geometry/ZnccSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "geometry/ZnccInternal.h"
#include "geometry/testing/StereoPair.h"

namespace epipolar {
namespace {

// A sub-pixel shift of a smooth texture is found to within this (pixels); the quadric fit
// on a piecewise-linear texture is good to a few hundredths.
constexpr double kSubPixelTolerance = 0.1;
// With the window cut to a quarter at a corner of the picture, and a half-pixel shift (the
// quadric's worst case), a little more.
constexpr double kCutWindowTolerance = 0.25;

// Colour texture that is continuous in (x, y): bilinear interpolation of random values on a
// grid of 3 px cells, averaged over 4x4 samples per pixel as a camera's pixel would.
// The texture at (x * stretchX + shiftX, y + shiftY) in pixel (x, y).
std::unique_ptr<Image> smoothTexture(
    int width, int height, double shiftX, double shiftY, double stretchX = 1.0) {
  auto grid = [](int gx, int gy, int c) {
    return static_cast<double>(testing::textureHash(gx, gy, 5 + c) & 0xFF);
  };
  auto value = [&](double x, double y, int c) {
    const double u = x / 3.0, v = y / 3.0;
    const double fu = std::floor(u), fv = std::floor(v);
    const int gx = static_cast<int>(fu), gy = static_cast<int>(fv);
    const double au = u - fu, av = v - fv;
    return (1 - av) * ((1 - au) * grid(gx, gy, c) + au * grid(gx + 1, gy, c)) +
           av * ((1 - au) * grid(gx, gy + 1, c) + au * grid(gx + 1, gy + 1, c));
  };
  auto image = Image::blank(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int sy = 0; sy < 4; ++sy)
          for (int sx = 0; sx < 4; ++sx)
            sum += value((x + (sx - 1.5) / 4) * stretchX + shiftX, y + shiftY + (sy - 1.5) / 4, c);
        image->row(y)[3 * x + c] = static_cast<std::uint8_t>(std::lround(sum / 16));
      }
    }
  }
  return image;
}

// B shows A's content moved by (dx, dy): A's point p is B's p + (dx, dy). F is the
// cross-product matrix of the translation, so the line of p in B passes through p + d
// along d.
struct ShiftedPair {
  std::unique_ptr<Image> a, b;
  Matrix3x3 F;
  double dx, dy;
};
ShiftedPair shiftedSmoothPair(int width, int height, double dx, double dy) {
  return {smoothTexture(width, height, 0, 0),
          smoothTexture(width, height, -dx, -dy),
          {0, 0, dy, 0, 0, -dx, -dy, dx, 0},
          dx,
          dy};
}

TEST(ZnccSearch, FindsSubPixelShiftsFromWholeAndFractionalSourcePoints) {
  for (const auto& [dx, dy] : {std::pair{-17.3, -6.6}, {9.45, 31.8}, {-3.7, 40.25}}) {
    const ShiftedPair pair = shiftedSmoothPair(320, 240, dx, dy);
    for (const ImagePosition source : {ImagePosition{160, 120},
                                       ImagePosition{100.4, 90.7},
                                       ImagePosition{210.5, 140.2},
                                       ImagePosition{60, 170}}) {
      SCOPED_TRACE(::testing::Message()
                   << "shift " << dx << ", " << dy << " source " << source.x << ", " << source.y);
      const ZnccMatch match = searchZnccAlongLine(*pair.a, *pair.b, source, pair.F, 20.0);
      ASSERT_TRUE(match.found);
      EXPECT_NEAR(match.position.x, source.x + dx, kSubPixelTolerance);
      EXPECT_NEAR(match.position.y, source.y + dy, kSubPixelTolerance);
      EXPECT_GT(match.score, 0.95);
      EXPECT_FALSE(match.uncertain);
      // The three-channel variant finds the same point.
      detail::ZnccSettings colourSettings;
      colourSettings.colour = true;
      const ZnccMatch colour =
          detail::searchZncc(*pair.a, *pair.b, source, pair.F, 20.0, colourSettings);
      EXPECT_NEAR(colour.position.x, match.position.x, kSubPixelTolerance);
      EXPECT_NEAR(colour.position.y, match.position.y, kSubPixelTolerance);
    }
  }
}

// The band bounds the distance of the candidates from the line: a match 5 px off the line is
// found with a band of 6 px, and not with 3 px, where the result stays within the band.
TEST(ZnccSearch, BandBoundsTheDistanceFromTheLine) {
  const ShiftedPair pair = shiftedSmoothPair(320, 240, 12, 5);
  const Matrix3x3 horizontal = {0, 0, 0, 0, 0, -12, 0, 12, 0};  // translation (12, 0)
  const ImagePosition source{150.3, 100.6};
  const ZnccMatch wide = searchZnccAlongLine(*pair.a, *pair.b, source, horizontal, 6.0);
  EXPECT_NEAR(wide.position.x, source.x + 12, kSubPixelTolerance);
  EXPECT_NEAR(wide.position.y, source.y + 5, kSubPixelTolerance);
  const ZnccMatch narrow = searchZnccAlongLine(*pair.a, *pair.b, source, horizontal, 3.0);
  ASSERT_TRUE(narrow.found);
  // The fit may step up to a pixel past the band edge toward the true peak.
  EXPECT_LE(std::fabs(narrow.position.y - source.y), 3.0 + 1.0);
  EXPECT_LT(narrow.score, wide.score);
}

// Where B sees the surface stretched along the line (here by 1.25), the plain window
// comparison scores the true match low and off by a fraction of a pixel; the warped
// re-ranking recovers both.
TEST(ZnccSearch, WarpedWindowsFollowAStretchAlongTheLine) {
  constexpr double kStretch = 1.25;
  const auto a = smoothTexture(320, 240, 0, 0);
  // B's pixel x shows A's x / 1.25 - 20: A's point p is B's 1.25 (p + 20).
  const auto b = smoothTexture(320, 240, -20, 0, 1.0 / kStretch);
  const Matrix3x3 horizontal = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  for (const ImagePosition source : {ImagePosition{100.4, 90.7}, ImagePosition{150, 170.25}}) {
    const ZnccMatch match = searchZnccAlongLine(*a, *b, source, horizontal, 20.0);
    ASSERT_TRUE(match.found);
    EXPECT_NEAR(match.position.x, kStretch * (source.x + 20), kSubPixelTolerance);
    EXPECT_NEAR(match.position.y, source.y, kSubPixelTolerance);
    EXPECT_GT(match.score, 0.95);
    detail::ZnccSettings plain;
    plain.peaks = 0;
    EXPECT_LT(detail::searchZncc(*a, *b, source, horizontal, 20.0, plain).score, 0.9);
  }
}

// A source window without structure grows until it has some: a point on a flat surface 10 px
// from a textured patch is still matched.
TEST(ZnccSearch, FlatSurroundingsGrowTheWindow) {
  const auto textured = smoothTexture(200, 150, 0, 0);
  auto patchAt = [&](int left) {
    auto image = Image::blank(200, 150);
    for (int y = 0; y < 150; ++y)
      for (int x = 0; x < 200; ++x)
        for (int c = 0; c < 3; ++c)
          image->row(y)[3 * x + c] = x >= left && x < left + 30 && y >= 60 && y < 90
                                         ? textured->row(y)[3 * (x - left) + c]
                                         : 128;
    return image;
  };
  const auto a = patchAt(80), b = patchAt(95);
  const Matrix3x3 horizontal = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  const ZnccMatch match = searchZnccAlongLine(*a, *b, {70, 75.5}, horizontal, 20.0);
  ASSERT_TRUE(match.found);
  EXPECT_NEAR(match.position.x, 85, kSubPixelTolerance);
  EXPECT_NEAR(match.position.y, 75.5, kSubPixelTolerance);
  detail::ZnccSettings fixed;
  fixed.largestWindow = kZnccWindowSize;
  EXPECT_FALSE(detail::searchZncc(*a, *b, {70, 75.5}, horizontal, 20.0, fixed).found);
}

// A copy of the source's window pasted elsewhere on the line, into other surroundings, scores
// higher than the true match (which carries a little noise): the window alone picks the copy;
// the context of the surroundings picks the true match and reports the near tie; a wider
// window asked for then, which takes in the copy's different surroundings, settles it.
TEST(ZnccSearch, SurroundingsDecideBetweenLookAlikeWindows) {
  const auto a = smoothTexture(320, 240, 0, 0);
  const auto b = smoothTexture(320, 240, -20, 0);  // A's point p is B's p + (20, 0)
  const ImagePosition source{100, 120}, copy{210, 120};
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 3 * 320; ++x) {
      const int px = x / 3;
      std::uint8_t& value = b->row(y)[x];
      if (std::abs(px - copy.x) <= 9 && std::abs(y - copy.y) <= 9) {
        value = a->row(y)[x - 3 * static_cast<int>(copy.x - source.x)];
      } else {
        value = static_cast<std::uint8_t>(std::clamp(
            value + static_cast<int>(testing::textureHash(px, y, x % 3) % 17) - 8, 0, 255));
      }
    }
  }
  const Matrix3x3 horizontal = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  const ZnccMatch match = searchZnccAlongLine(*a, *b, source, horizontal, 20.0);
  ASSERT_TRUE(match.found);
  EXPECT_NEAR(match.position.x, source.x + 20, 0.3);
  EXPECT_NEAR(match.position.y, source.y, 0.3);
  EXPECT_TRUE(match.uncertain);
  detail::ZnccSettings settings;
  settings.uncertainWindow = 27;
  const ZnccMatch wider = detail::searchZncc(*a, *b, source, horizontal, 20.0, settings);
  EXPECT_NEAR(wider.position.x, source.x + 20, 0.3);
  EXPECT_FALSE(wider.uncertain);
  settings.uncertainWindow = 0;
  settings.contextReach = 0;
  const ZnccMatch alone = detail::searchZncc(*a, *b, source, horizontal, 20.0, settings);
  EXPECT_NEAR(alone.position.x, copy.x, 0.3);
}

// A pattern that repeats along the line has a second peak as high as the first.
TEST(ZnccSearch, RepeatedPatternIsUncertain) {
  auto stripes = [](int shift) {
    auto image = Image::blank(320, 240);
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) {
        const int phase = (x + shift) % 24;
        const std::uint8_t value = static_cast<std::uint8_t>(phase < 12 ? 40 + 10 * (y % 5) : 200);
        for (int c = 0; c < 3; ++c) image->row(y)[3 * x + c] = value;
      }
    return image;
  };
  const auto a = stripes(0), b = stripes(7);
  const Matrix3x3 horizontal = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  const ZnccMatch match = searchZnccAlongLine(*a, *b, {150, 100}, horizontal, 20.0);
  ASSERT_TRUE(match.found);
  EXPECT_GT(match.score, 0.9);
  EXPECT_GT(match.next, 0.9 * match.score);
  EXPECT_TRUE(match.uncertain);
}

// Pictures without structure, points at and beyond the edges, lines that miss the picture
// and non-finite input give an uncertain result and never a crash (the sanitizers watch).
TEST(ZnccSearch, DegenerateInputIsUncertain) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const ShiftedPair pair = shiftedSmoothPair(160, 120, 6.5, 2.5);
  auto filled = [](std::uint8_t value) {
    auto image = Image::blank(160, 120);
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 3 * 160; ++x) image->row(y)[x] = value;
    return image;
  };
  const auto black = filled(0), white = filled(255), grey = filled(128);
  for (const Image* flat : {black.get(), white.get(), grey.get()}) {
    EXPECT_FALSE(searchZnccAlongLine(*flat, *pair.b, {80, 60}, pair.F, 20).found);
    const ZnccMatch into = searchZnccAlongLine(*pair.a, *flat, {80, 60}, pair.F, 20);
    EXPECT_FALSE(into.found);
    EXPECT_TRUE(into.uncertain);
  }
  const Matrix3x3 missing = {0, 0, 0, 0, 0, -1, 0, 1, 500};  // y = 500 + y_s: below B
  const Matrix3x3 zero{};
  const Matrix3x3 notFinite = {kNaN, 0, 0, 0, kInf, 0, 0, 0, 1};
  struct Case {
    ImagePosition source;
    Matrix3x3 M;
    double band;
  };
  for (const Case& c : {Case{{80, 60}, missing, 20},
                        Case{{80, 60}, zero, 20},
                        Case{{80, 60}, notFinite, 20},
                        Case{{kNaN, 60}, pair.F, 20},
                        Case{{80, kInf}, pair.F, 20},
                        Case{{-3, 60}, pair.F, 20},
                        Case{{80, 1e300}, pair.F, 20},
                        Case{{80, 60}, pair.F, kNaN},
                        Case{{80, 60}, pair.F, -1},
                        Case{{80, 60}, pair.F, kInf}}) {
    const ZnccMatch match = searchZnccAlongLine(*pair.a, *pair.b, c.source, c.M, c.band);
    EXPECT_FALSE(match.found);
    EXPECT_TRUE(match.uncertain);
  }
  // Corners of the picture: the source window is cut to A and still finds its match, as
  // uncertain.
  for (const ImagePosition source : {ImagePosition{0, 0}, ImagePosition{2.4, 1.2}}) {
    const ZnccMatch match = searchZnccAlongLine(*pair.a, *pair.b, source, pair.F, 20);
    ASSERT_TRUE(match.found);
    EXPECT_NEAR(match.position.x, source.x + 6.5, kCutWindowTolerance);
    EXPECT_NEAR(match.position.y, source.y + 2.5, kCutWindowTolerance);
    EXPECT_TRUE(match.uncertain);
  }
  // A match that would lie beyond B's far corner is not found there; whatever is found is
  // inside B.
  const ZnccMatch corner = searchZnccAlongLine(*pair.a, *pair.b, {159, 119}, pair.F, 20);
  if (corner.found) {
    EXPECT_TRUE(pair.b->containsPoint(corner.position.x, corner.position.y));
  }
}

TEST(ZnccSearch, BandFollowsTheCalibrationAndLogLineHasItsForm) {
  EXPECT_EQ(znccBand(std::numeric_limits<double>::quiet_NaN()), 20.0);
  EXPECT_EQ(znccBand(std::numeric_limits<double>::infinity()), 20.0);
  EXPECT_EQ(znccBand(0.2), 3.0);
  EXPECT_EQ(znccBand(2.5), 7.5);
  EXPECT_EQ(znccBand(9.0), 20.0);

  ZnccMatch match;
  match.found = true;
  match.position = {352.414, 80.556};
  match.score = 0.96249;
  match.next = 0.4121;
  match.uncertain = false;
  EXPECT_EQ(formatMatchLine(1, match), "Match in (1): 352.41, 80.56 (score 0.962, next 0.412)");
  match.uncertain = true;
  EXPECT_EQ(formatMatchLine(0, match),
            "Match in (0): 352.41, 80.56 (score 0.962, next 0.412) uncertain");
}

}  // namespace
}  // namespace epipolar
