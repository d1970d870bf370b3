// Test and benchmark helper: the true disparity of the virtual rig's rectified frame pair.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <opencv2/core.hpp>
#include <vector>

#include "capture/VirtualScene.h"
#include "vision/Rectification.h"

namespace epipolar::testing {

// The true disparity of every rectified pixel of picture 0 and whether it counts: the static
// scene point seen there, projected into camera 1 and rectified; counted when camera 1 sees
// it too, no ball is near either line of sight, and the truth is smooth within 2 px.
struct TrueDisparity {
  std::vector<float> disparity;
  std::vector<std::uint8_t> counted;
};

inline TrueDisparity trueDisparity(const VirtualScene& scene,
                                   const Rectification& r,
                                   double seconds) {
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
      if (!applyHomography(back, u, v, x, y) || x < 0 || y < 0 || x > VirtualScene::kWidth - 1 ||
          y > VirtualScene::kHeight - 1) {
        continue;
      }
      const Point3 origin = scene.camera(0).centre;
      const VirtualScene::Hit hit = scene.castStatic(origin, scene.pixelRay(0, x, y));
      if (hit.surface < 0 || !scene.camera(1).project(hit.point, x1, y1) || x1 < 0 || y1 < 0 ||
          x1 > VirtualScene::kWidth - 1 || y1 > VirtualScene::kHeight - 1 ||
          !applyHomography(r.H1, x1, y1, u1, v1)) {
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

}  // namespace epipolar::testing
