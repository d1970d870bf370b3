#include "vision/Disparity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/core.hpp>

#include "vision/testing/RigPair.h"

namespace epipolar {
namespace {

constexpr PictureSize kVga{640, 480};
// Targets on the rig, over the pixels both cameras see (2 px from depth edges and the balls
// left out): at least 70% marked valid, and of those at least 80% within 1 px of the truth.
constexpr double kMinValidShare = 0.70;
constexpr double kMinGoodShare = 0.80;
constexpr double kGoodPx = 1.0;

// The true disparity of every rectified pixel of picture 0 and whether it counts: the static
// scene point seen there, projected into camera 1 and rectified; counted when camera 1 sees
// it too, no ball is near either line of sight, and the truth is smooth within 2 px.
struct TrueDisparity {
  std::vector<float> disparity;
  std::vector<std::uint8_t> counted;
};

TrueDisparity trueDisparity(const VirtualScene& scene, const Rectification& r, double seconds) {
  const size_t size = static_cast<size_t>(r.width) * r.height;
  TrueDisparity truth{std::vector<float>(size, std::numeric_limits<float>::quiet_NaN()),
                      std::vector<std::uint8_t>(size, 0)};
  std::vector<std::uint8_t> seen(size, 0);
  const cv::Matx33d inverse = cv::Matx33d(r.H0.data()).inv();
  Matrix3x3 back{};
  for (int i = 0; i < 9; ++i) back[i] = inverse.val[i];
  const auto nearBall = [&](const Point3& from, const Point3& to) {
    for (int b = 0; b < VirtualScene::kBallCount; ++b) {
      const Point3 c = scene.ballCentre(b, seconds);
      const double reach = scene.ball(b).radius + 0.03;
      const Point3 d{to[0] - from[0], to[1] - from[1], to[2] - from[2]};
      const double along =
          std::clamp(((c[0] - from[0]) * d[0] + (c[1] - from[1]) * d[1] + (c[2] - from[2]) * d[2]) /
                         (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]),
                     0.0,
                     1.0);
      const double dx = from[0] + along * d[0] - c[0], dy = from[1] + along * d[1] - c[1],
                   dz = from[2] + along * d[2] - c[2];
      if (dx * dx + dy * dy + dz * dz < reach * reach) return true;
    }
    return false;
  };
  for (int v = 0; v < r.height; ++v) {
    for (int u = 0; u < r.width; ++u) {
      double x = 0, y = 0, x1 = 0, y1 = 0, u1 = 0, v1 = 0;
      if (!applyHomography(back, u, v, x, y) || x < 0 || y < 0 || x > kVga.width - 1 ||
          y > kVga.height - 1) {
        continue;
      }
      const Point3 origin = scene.camera(0).centre;
      const VirtualScene::Hit hit = scene.castStatic(origin, scene.pixelRay(0, x, y));
      if (hit.surface < 0 || !scene.camera(1).project(hit.point, x1, y1) || x1 < 0 || y1 < 0 ||
          x1 > kVga.width - 1 || y1 > kVga.height - 1 || !applyHomography(r.H1, x1, y1, u1, v1)) {
        continue;
      }
      const size_t k = static_cast<size_t>(v) * r.width + u;
      truth.disparity[k] = static_cast<float>(u - u1);
      seen[k] = scene.visibleFrom(1, hit.point) && !nearBall(origin, hit.point) &&
                        !nearBall(scene.camera(1).centre, hit.point)
                    ? 1
                    : 2;
    }
  }
  for (int v = 2; v < r.height - 2; ++v) {
    for (int u = 2; u < r.width - 2; ++u) {
      const size_t k = static_cast<size_t>(v) * r.width + u;
      bool smooth = seen[k] == 1;
      for (int dv = -2; dv <= 2 && smooth; ++dv) {
        for (int du = -2; du <= 2 && smooth; ++du) {
          const size_t n = k + static_cast<std::ptrdiff_t>(dv) * r.width + du;
          smooth = seen[n] == 1 && std::fabs(truth.disparity[n] - truth.disparity[k]) <= 1.0f;
        }
      }
      truth.counted[k] = smooth ? 1 : 0;
    }
  }
  return truth;
}

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
  const TrueDisparity truth = trueDisparity(*rig.scene, r, rig.seconds);
  long counted = 0, valid = 0, good = 0;
  for (size_t k = 0; k < truth.counted.size(); ++k) {
    if (!truth.counted[k]) continue;
    ++counted;
    if (std::isnan(map.disparity[k])) continue;
    ++valid;
    if (std::fabs(map.disparity[k] - truth.disparity[k]) <= kGoodPx) ++good;
  }
  ASSERT_GT(counted, 100000);  // most of a 640x480 picture
  EXPECT_GE(valid, kMinValidShare * counted);
  EXPECT_GE(good, kMinGoodShare * valid);

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

TEST(DisparityTest, FileAndDisplayEncodingsMarkInvalidPixels) {
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
