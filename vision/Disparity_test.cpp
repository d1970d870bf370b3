#include "vision/Disparity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/core.hpp>

#include "vision/testing/DisparityScore.h"
#include "vision/testing/RigPair.h"

namespace epipolar {
namespace {

constexpr PictureSize kVga{640, 480};
// Targets on the rig, over the pixels both cameras see (2 px from depth edges and the balls
// left out): at least 70% marked valid, and of those at least 80% within 1 px of the truth.
constexpr double kMinValidShare = 0.70;
constexpr double kMinGoodShare = 0.80;
constexpr double kGoodPx = 1.0;

TEST(DisparityTest, RigMapCoversWhatBothCamerasSeeAndMatchesTheTruth) {
  const testing::RigPair& rig = testing::rigPair();
  ASSERT_EQ(rig.automatic.outcome, AutomaticPairsOutcome::kFound);
  const RectificationResult rectified = rectify(rig.automatic.F, rig.automatic.pairs, kVga, kVga);
  ASSERT_EQ(rectified.outcome, RectificationOutcome::kRectified) << rectified.message;
  const Rectification& r = rectified.rectification;

  DisparityMatcher matcher(r, kVga, kVga);
  const DisparityMap map = matcher.compute(*rig.frame0, *rig.frame1);
  ASSERT_EQ(map.width, r.width);
  ASSERT_EQ(map.height, r.height);
  const testing::DisparityScore score = testing::scoreOnRig(map, rig, r, kGoodPx);
  ASSERT_GT(score.counted, 100000);  // most of a 640x480 picture
  EXPECT_GE(score.validShare(), kMinValidShare);
  EXPECT_GE(score.goodShare(), kMinGoodShare);

  // Nothing is claimed outside picture 0, or against picture 1's black surround.
  const cv::Matx33d inverse0 = cv::Matx33d(r.H0.data()).inv();
  const cv::Matx33d inverse1 = cv::Matx33d(r.H1.data()).inv();
  const auto inside = [](const cv::Matx33d& H, double u, double v) {
    const cv::Vec3d p = H * cv::Vec3d(u, v, 1.0);
    const double x = p[0] / p[2], y = p[1] / p[2];
    return p[2] > 0 && x > -0.5 && y > -0.5 && x < kVga.width - 0.5 && y < kVga.height - 0.5;
  };
  for (int v = 0; v < map.height; ++v) {
    for (int u = 0; u < map.width; ++u) {
      const float d = map.at(u, v);
      if (std::isnan(d)) continue;
      ASSERT_TRUE(inside(inverse0, u, v)) << u << ", " << v;
      ASSERT_TRUE(inside(inverse1, u - d, v)) << u << ", " << v << " disparity " << d;
      ASSERT_GE(d, map.minDisparity);
      ASSERT_LE(d, map.maxDisparity);
    }
  }
  const std::unique_ptr<Image> shown0 = matcher.rectified(0);
  ASSERT_NE(shown0, nullptr);
  EXPECT_EQ(shown0->width, r.width);
  EXPECT_TRUE(matcher.compute(*Image::blank(320, 240), *rig.frame1).empty());
}

TEST(DisparityTest, AnEmptyRectificationGivesNothingAndEncodingsMarkInvalidPixels) {
  const Rectification none;  // as a refused rectify() leaves it
  DisparityMatcher matcher(none, kVga, kVga);
  const auto frame = Image::blank(kVga.width, kVga.height);
  EXPECT_TRUE(matcher.compute(*frame, *frame).empty());
  EXPECT_EQ(matcher.rectified(0), nullptr);
  EXPECT_EQ(RectifyingWarp(none, 1, kVga).apply(*frame), nullptr);

  DisparityMap map;
  map.width = 4;
  map.height = 1;
  map.minDisparity = 0.0;
  map.maxDisparity = 63.0;
  map.disparity = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 12.3125f, 300.0f};
  const std::vector<std::uint16_t> raw = disparityTimes256(map);
  // Invalid 0; a valid 0 px still reads as valid (1/256 px); 12.3125 * 256 exactly; beyond
  // 255.996 px saturates.
  EXPECT_EQ(raw, (std::vector<std::uint16_t>{0, 1, 3152, 65535}));
  const std::unique_ptr<Image> colour = colourDisparity(map);
  ASSERT_NE(colour, nullptr);
  const std::uint8_t* invalid = colour->row(0);
  EXPECT_EQ(invalid[0] + invalid[1] + invalid[2], 0);
  const std::uint8_t* nearest = colour->row(0) + 9;
  EXPECT_GT(nearest[0] + nearest[1] + nearest[2], 0);
}

}  // namespace
}  // namespace epipolar
