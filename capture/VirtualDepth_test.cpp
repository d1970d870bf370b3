#include "capture/VirtualDepth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "capture/VirtualView.h"

namespace epipolar {
namespace {

// Depth maps hold floats: about 7 significant digits.
constexpr double kFloatRelative = 1e-6;
// Rounding a landmark to its nearest pixel moves the depth by under 1% on these surfaces.
constexpr double kNearestPixelRelative = 0.01;
// ... and the disparity by well under a pixel, while a wrong or swapped homography moves it by
// 15 pixels or more.
constexpr double kNearestPixelDisparity = 0.75;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Depth through pixel (x, y) of the plane n . (X - onPlane) = 0, in closed form: the ray
// C + s R^T K^-1 (x, y, 1) has camera z = s.
double planeDepth(const PinholeCamera& camera, int x, int y, const Vec3& n, const Vec3& onPlane) {
  const Vec3 d = camera.rayOf * Vec3{static_cast<double>(x), static_cast<double>(y), 1};
  return dot(n, onPlane - camera.centre) / dot(n, d);
}

TEST(VirtualDepth, StaticDepthIsTheCameraZOfTheFloorAndTheBackWall) {
  const VirtualScene scene;
  for (int index = 0; index < VirtualScene::kCameraCount; ++index) {
    const PinholeCamera& camera = scene.camera(index);
    const DepthMap depth = staticDepth(scene, index);
    ASSERT_EQ(depth.width, 640);
    ASSERT_EQ(depth.height, 480);
    int checked = 0;
    for (const RigLandmark& l : scene.landmarks()) {
      const bool floor = startsWith(l.name, "floor corner");
      if (!floor && !startsWith(l.name, "poster")) continue;
      const int x = static_cast<int>(std::lround(index == 0 ? l.x0 : l.x1));
      const int y = static_cast<int>(std::lround(index == 0 ? l.y0 : l.y1));
      const double plane = floor ? planeDepth(camera, x, y, {0, 0, 1}, {0, 0, 0})
                                 : planeDepth(camera, x, y, {0, 1, 0}, {0, kRoom.back, 0});
      EXPECT_NEAR(depth.at(x, y), plane, kFloatRelative * plane) << l.name << ", camera " << index;
      const double z = camera.projectHomogeneous(l.world).z;
      EXPECT_NEAR(depth.at(x, y), z, kNearestPixelRelative * z) << l.name << ", camera " << index;
      ++checked;
    }
    EXPECT_GE(checked, 10);
  }
}

TEST(VirtualDepth, FrameDepthHasTheBallsExactlyWhereTheRendererDrawsThem) {
  const VirtualScene scene;
  const double seconds = 2.5;
  for (int index = 0; index < VirtualScene::kCameraCount; ++index) {
    const DepthMap still = staticDepth(scene, index), frame = frameDepth(scene, index, seconds);
    const std::vector<std::uint8_t> covered = ballCoverage(scene, index, seconds);
    int changed = 0, uncovered = 0;
    for (std::size_t at = 0; at < frame.z.size(); ++at) {
      if (frame.z[at] == still.z[at]) continue;
      EXPECT_LT(frame.z[at], still.z[at]);
      ++changed;
      uncovered += !covered[at];
    }
    EXPECT_GT(changed, 500) << "camera " << index;
    EXPECT_EQ(uncovered, 0) << "camera " << index;
    // Through the projected centre the ray meets the ball's front, one radius nearer.
    for (int ball = 0; ball < VirtualScene::kBallCount; ++ball) {
      const Vec3 centre = scene.ballCentre(ball, seconds);
      double x, y;
      ASSERT_TRUE(scene.camera(index).project(centre, x, y));
      const double z = scene.camera(index).projectHomogeneous(centre).z - scene.ball(ball).radius;
      EXPECT_NEAR(
          frame.at(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))), z, 0.01)
          << scene.ball(ball).name << ", camera " << index;
    }
  }
}

TEST(VirtualDepth, TrueDisparityFollowsBothHomographiesAndLeavesOutWhatOneCameraCannotSee) {
  const VirtualScene scene;
  const double seconds = 4.0;
  // Near-identity homographies with a shear, a slight perspective and different shifts.
  const Mat3 H0 = {{{1.02, 0.03, -10}, {-0.02, 1.01, 6}, {1e-5, 2e-5, 1}}};
  const Mat3 H1 = {{{0.99, -0.02, 5}, {0.01, 1.0, -4}, {-1e-5, 1e-5, 1}}};
  const int width = 640, height = 480;
  const TrueDisparity truth = trueDisparity(scene, H0, H1, width, height, seconds);
  ASSERT_EQ(truth.disparity.size(), 640u * 480u);
  ASSERT_EQ(truth.valid.size(), 640u * 480u);
  auto rectify = [](const Mat3& H, double x, double y, double& rx, double& ry) {
    const Vec3 r = H * Vec3{x, y, 1};
    rx = r.x / r.z, ry = r.y / r.z;
  };
  auto nearest = [&](double x, double y, int& px, int& py) {
    px = static_cast<int>(std::lround(x)), py = static_cast<int>(std::lround(y));
    return px >= 0 && py >= 0 && px < width && py < height;
  };

  int checked = 0;
  for (const RigLandmark& l : scene.landmarks()) {
    if (!startsWith(l.name, "floor corner") && !startsWith(l.name, "poster")) continue;
    double r0x, r0y, r1x, r1y;
    rectify(H0, l.x0, l.y0, r0x, r0y);
    rectify(H1, l.x1, l.y1, r1x, r1y);
    int px, py;
    if (!nearest(r0x, r0y, px, py) || !truth.isValid(px, py)) continue;
    EXPECT_NEAR(truth.at(px, py), r0x - r1x, kNearestPixelDisparity) << l.name;
    ++checked;
  }
  EXPECT_GE(checked, 10);

  // Floor points both pictures hold: those the boxes hide from camera 1 have no disparity,
  // the others have one. Rounding to a pixel at an occlusion's rim, or a ball, may cross over;
  // but a hidden point never lands on a valid pixel, as the rim is left out.
  int hidden = 0, hiddenAgree = 0, hiddenValid = 0, shown = 0, shownAgree = 0;
  for (double wx = -1.7; wx <= 1.7; wx += 0.04) {
    for (double wy = 0.3; wy <= 3.1; wy += 0.04) {
      const Vec3 X{wx, wy, 0};
      double x0, y0, x1, y1, rx, ry;
      int px, py;
      if (!scene.camera(0).project(X, x0, y0) || !scene.camera(1).project(X, x1, y1)) continue;
      if (x1 < 2 || y1 < 2 || x1 > 637 || y1 > 477 || !scene.visibleFrom(0, X)) continue;
      rectify(H0, x0, y0, rx, ry);
      if (!nearest(rx, ry, px, py) || rx < 2 || ry < 2 || rx > 637 || ry > 477) continue;
      const bool hasDisparity = !std::isnan(truth.at(px, py));
      if (scene.visibleFrom(1, X)) {
        ++shown;
        shownAgree += hasDisparity;
      } else {
        ++hidden;
        hiddenAgree += !hasDisparity;
        hiddenValid += truth.isValid(px, py);
      }
    }
  }
  EXPECT_GT(hidden, 30);
  EXPECT_GT(hiddenAgree, 0.9 * hidden);
  EXPECT_EQ(hiddenValid, 0);
  EXPECT_GT(shownAgree, 0.95 * shown);

  for (int ball = 0; ball < VirtualScene::kBallCount; ++ball) {
    double x, y, rx, ry;
    int px, py;
    ASSERT_TRUE(scene.camera(0).project(scene.ballCentre(ball, seconds), x, y));
    rectify(H0, x, y, rx, ry);
    ASSERT_TRUE(nearest(rx, ry, px, py));
    EXPECT_TRUE(std::isnan(truth.at(px, py)) && !truth.isValid(px, py)) << scene.ball(ball).name;
  }

  int valid = 0;
  for (std::uint8_t v : truth.valid) valid += v;
  EXPECT_GT(valid, width * height / 2);

  // A singular H0 maps no pixel into camera 0.
  const TrueDisparity none = trueDisparity(scene, Mat3{}, H1, width, height, seconds);
  EXPECT_EQ(std::count(none.valid.begin(), none.valid.end(), 1), 0);
}

}  // namespace
}  // namespace epipolar
