#include "capture/PinholeCamera.h"

#include <cmath>

namespace epipolar {
namespace {

// Inverse of an upper-triangular intrinsic matrix [fx s cx; 0 fy cy; 0 0 1].
Mat3 inverseIntrinsics(const Mat3& K) {
  const double fx = K[0][0], s = K[0][1], cx = K[0][2], fy = K[1][1], cy = K[1][2];
  return {
      {{1 / fx, -s / (fx * fy), (s * cy - cx * fy) / (fx * fy)}, {0, 1 / fy, -cy / fy}, {0, 0, 1}}};
}

}  // namespace

PinholeCamera PinholeCamera::lookingAt(
    double f, double cx, double cy, const Vec3& centre, const Vec3& target, double roll) {
  PinholeCamera camera;
  camera.K = {{{f, 0, cx}, {0, f, cy}, {0, 0, 1}}};
  const Vec3 forward = normalized(target - centre);
  const Vec3 right = normalized(cross(forward, {0, 0, 1}));
  const Vec3 down = cross(forward, right);
  const double c = std::cos(roll), s = std::sin(roll);
  camera.R = {{right * c + down * s, right * -s + down * c, forward}};
  camera.centre = centre;
  const Mat3 KR = camera.K * camera.R;
  const Vec3 translation = (KR * centre) * -1;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) camera.P[i][j] = KR[i][j];
    camera.P[i][3] = translation[i];
  }
  camera.inverseK = inverseIntrinsics(camera.K);
  camera.rayOf = transposed(camera.R) * camera.inverseK;
  return camera;
}

Vec3 PinholeCamera::projectHomogeneous(const Vec3& X) const {
  Vec3 h;
  for (int i = 0; i < 3; ++i) h[i] = P[i][0] * X.x + P[i][1] * X.y + P[i][2] * X.z + P[i][3];
  return h;
}

bool PinholeCamera::project(const Vec3& X, double& x, double& y) const {
  const Vec3 h = projectHomogeneous(X);
  if (h.z <= 0) return false;
  x = h.x / h.z;
  y = h.y / h.z;
  return true;
}

}  // namespace epipolar
