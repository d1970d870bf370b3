#include "geometry/PreciseClick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "capture/VirtualScene.h"
#include "capture/testing/RigJunctions.h"
#include "geometry/testing/StereoPair.h"

namespace epipolar {
namespace {

// The rig's targets for refined clicks (pixels).
constexpr double kMedianTarget = 0.3;
constexpr double kWorstTarget = 1.0;
// Synthetic corners with exact edges are found to within these (pixels). On one-pixel steps,
// interpolated bilinearly, the gradient model is a little off: OpenCV's cornerSubPix with
// the same window ends 0.07 px from an X-junction and 0.17 px from an L corner.
constexpr double kJunctionTolerance = 0.1;
constexpr double kLCornerTolerance = 0.2;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Whole-pixel clicks within 2 px (in x and in y) of the exact projections of the rig's
// planar junctions (capture/testing/RigJunctions.h says why those), first in one picture,
// then in the other; both directions.
TEST(PreciseClick, RigJunctionsRefineToSubPixelFromClicksTwoPixelsOff) {
  auto scene = std::make_shared<const VirtualScene>();
  VirtualView view0(scene, 0, 21), view1(scene, 1, 22);
  const std::unique_ptr<Image> frames[2] = {view0.renderFrame(0.0), view1.renderFrame(0.0)};
  const std::vector<RigLandmark> junctions = testing::rigJunctions(*scene, 0.0);
  ASSERT_GE(junctions.size(), 12u);

  std::mt19937 engine(3);
  auto clickNear = [&](double truth) {
    std::uniform_int_distribution<int> pick(static_cast<int>(std::ceil(truth - 2)),
                                            static_cast<int>(std::floor(truth + 2)));
    return static_cast<double>(pick(engine));
  };
  std::vector<double> firstErrors, secondErrors;
  for (int from = 0; from < 2; ++from) {
    const Image& first = *frames[from];
    const Image& second = *frames[1 - from];
    for (const RigLandmark& l : junctions) {
      const ImagePosition truth0 =
          from == 0 ? ImagePosition{l.x0, l.y0} : ImagePosition{l.x1, l.y1};
      const ImagePosition truth1 =
          from == 0 ? ImagePosition{l.x1, l.y1} : ImagePosition{l.x0, l.y0};
      for (int trial = 0; trial < 3; ++trial) {
        SCOPED_TRACE(::testing::Message() << l.name << " from camera " << from);
        const RefinedClick a = snapToCorner(first, {clickNear(truth0.x), clickNear(truth0.y)});
        EXPECT_TRUE(a.refined);
        const RefinedClick b = refineMatchingClick(
            first, a.position, second, {clickNear(truth1.x), clickNear(truth1.y)});
        EXPECT_TRUE(b.refined);
        firstErrors.push_back(std::hypot(a.position.x - truth0.x, a.position.y - truth0.y));
        secondErrors.push_back(std::hypot(b.position.x - truth1.x, b.position.y - truth1.y));
      }
    }
  }
  for (const std::vector<double>* errors : {&firstErrors, &secondErrors}) {
    EXPECT_LE(median(*errors), kMedianTarget);
    EXPECT_LE(*std::max_element(errors->begin(), errors->end()), kWorstTarget);
  }
}

// Exact corners: an X-junction of a checkerboard and the corner of a bright square, each
// with its edges at a known fraction of a pixel and drawn with every pixel's covered area,
// are found from any click within 2 px; the matching click in a second picture, drawn with
// the corner elsewhere, lands on its corner too.
TEST(PreciseClick, SyntheticCornersAreFoundExactly) {
  const double cornerX = 40.3, cornerY = 30.65;
  // Share of pixel [p - 0.5, p + 0.5] below the edge at e.
  auto below = [](int p, double e) { return std::clamp(e - (p - 0.5), 0.0, 1.0); };
  auto draw = [&](double ex, double ey, bool checker) {
    auto image = Image::blank(80, 60);
    for (int y = 0; y < 60; ++y) {
      for (int x = 0; x < 80; ++x) {
        const double left = below(x, ex), top = below(y, ey);
        const double share = checker ? left * top + (1 - left) * (1 - top) : (1 - left) * (1 - top);
        const auto value = static_cast<std::uint8_t>(std::lround(30 + 190 * share));
        for (int c = 0; c < 3; ++c) image->row(y)[3 * x + c] = value;
      }
    }
    return image;
  };
  for (const bool checker : {true, false}) {
    SCOPED_TRACE(checker ? "X-junction" : "square corner");
    const double tolerance = checker ? kJunctionTolerance : kLCornerTolerance;
    const auto first = draw(cornerX, cornerY, checker);
    const auto second = draw(cornerX + 5.45, cornerY - 3.2, checker);
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        const RefinedClick a = snapToCorner(*first, {40.0 + dx, 31.0 + dy});
        ASSERT_TRUE(a.refined);
        EXPECT_NEAR(a.position.x, cornerX, tolerance);
        EXPECT_NEAR(a.position.y, cornerY, tolerance);
        const RefinedClick b =
            refineMatchingClick(*first, a.position, *second, {46.0 + dy, 27.0 + dx});
        ASSERT_TRUE(b.refined);
        EXPECT_NEAR(b.position.x, cornerX + 5.45, tolerance);
        EXPECT_NEAR(b.position.y, cornerY - 3.2, tolerance);
      }
    }
  }
}

// Without a corner (flat, black, saturated pictures, a straight edge), at and beyond the
// picture's edges and for non-finite clicks, the click stays as it was.
TEST(PreciseClick, ClicksWithoutStructureStay) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  auto picture = [](auto shade) {
    auto image = Image::blank(64, 48);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        for (int c = 0; c < 3; ++c) image->row(y)[3 * x + c] = shade(x, y);
    return image;
  };
  const auto black = picture([](int, int) { return std::uint8_t{0}; });
  const auto white = picture([](int, int) { return std::uint8_t{255}; });
  const auto edge = picture([](int x, int) { return std::uint8_t(x < 30 ? 20 : 220); });
  const auto texture =
      picture([](int x, int y) { return std::uint8_t(testing::textureHash(x, y, 9) & 0xFF); });
  for (const Image* image : {black.get(), white.get(), edge.get()}) {
    for (const ImagePosition click : {ImagePosition{30, 24}, ImagePosition{0, 0}}) {
      const RefinedClick snapped = snapToCorner(*image, click);
      EXPECT_FALSE(snapped.refined);
      EXPECT_EQ(snapped.position, click);
      const RefinedClick matched = refineMatchingClick(*image, click, *texture, click);
      EXPECT_FALSE(matched.refined);
      EXPECT_EQ(matched.position, click);
    }
  }
  for (const ImagePosition click : {ImagePosition{-5, 3},
                                    ImagePosition{64, 10},
                                    ImagePosition{kNaN, 3},
                                    ImagePosition{3, 1e300}}) {
    EXPECT_FALSE(snapToCorner(*texture, click).refined);
    EXPECT_FALSE(refineMatchingClick(*texture, {20, 20}, *texture, click).refined);
    EXPECT_FALSE(refineMatchingClick(*texture, click, *texture, {20, 20}).refined);
  }
  // Corners of the picture: whatever is found stays inside it.
  for (const ImagePosition click : {ImagePosition{0, 0}, ImagePosition{63, 47}}) {
    const RefinedClick snapped = snapToCorner(*texture, click);
    EXPECT_TRUE(texture->containsPoint(snapped.position.x, snapped.position.y));
    const RefinedClick matched = refineMatchingClick(*texture, click, *texture, click);
    EXPECT_TRUE(texture->containsPoint(matched.position.x, matched.position.y));
  }
}

TEST(PreciseClick, LogLineHasItsForm) {
  EXPECT_EQ(formatRefinedClickLine(1, {352, 81}, {352.414, 80.556}),
            "Refined click in (1): 352, 81 -> 352.41, 80.56");
  EXPECT_EQ(formatRefinedClickLine(0, {12.5, 7}, {12.25, 7.75}),
            "Refined click in (0): 12.50, 7 -> 12.25, 7.75");
}

}  // namespace
}  // namespace epipolar
