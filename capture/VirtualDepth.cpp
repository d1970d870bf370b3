#include "capture/VirtualDepth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace epipolar {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A point counts as seen when nothing lies in front of it by more than this (metres), which
// absorbs the rounding of a ray cast back onto its own surface.
constexpr double kVisibilitySlack = 1e-6;

using BallCentres = std::array<Vec3, VirtualScene::kBallCount>;

BallCentres ballCentres(const VirtualScene& scene, double seconds) {
  BallCentres centres;
  for (int i = 0; i < VirtualScene::kBallCount; ++i) centres[i] = scene.ballCentre(i, seconds);
  return centres;
}

// The first thing along a unit ray: distance t (infinite when nothing) and whether it is a ball.
struct FirstHit {
  double t = kInfinity;
  bool ball = false;
};

FirstHit castWithBalls(const VirtualScene& scene,
                       const Vec3& origin,
                       const Vec3& direction,
                       const BallCentres* balls) {
  FirstHit first;
  const Hit hit = scene.room().cast(origin, direction);
  if (hit.found()) first.t = hit.t;
  if (balls == nullptr) return first;
  for (int i = 0; i < VirtualScene::kBallCount; ++i) {
    const double t = sphereEntry(origin, direction, (*balls)[i], scene.ball(i).radius);
    if (t > 0 && t < first.t) first = {t, true};
  }
  return first;
}

DepthMap depthMap(const VirtualScene& scene, int index, const BallCentres* balls) {
  const PinholeCamera& camera = scene.camera(index);
  const Vec3& forward = camera.R[2];  // the optical axis in world coordinates
  DepthMap map{VirtualScene::kWidth, VirtualScene::kHeight, {}};
  map.z.resize(static_cast<std::size_t>(map.width) * map.height);
  for (int y = 0; y < map.height; ++y) {
    for (int x = 0; x < map.width; ++x) {
      const Vec3 d = camera.pixelRay(x, y);
      // Along the unit ray the depth grows by the cosine of its angle with the axis.
      const double t = castWithBalls(scene, camera.centre, d, balls).t;
      map.z[static_cast<std::size_t>(y) * map.width + x] = static_cast<float>(t * dot(forward, d));
    }
  }
  return map;
}

bool insidePicture(double x, double y) {
  return x >= 0 && y >= 0 && x <= VirtualScene::kWidth - 1 && y <= VirtualScene::kHeight - 1;
}

// Every pixel within `radius` (in x and in y) of a marked one, by two one-dimensional passes.
std::vector<std::uint8_t> dilate(const std::vector<std::uint8_t>& marked,
                                 int width,
                                 int height,
                                 int radius) {
  std::vector<std::uint8_t> across(marked.size(), 0), result(marked.size(), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int dx = std::max(0, x - radius); dx <= std::min(width - 1, x + radius); ++dx)
        across[static_cast<std::size_t>(y) * width + x] |=
            marked[static_cast<std::size_t>(y) * width + dx];
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int dy = std::max(0, y - radius); dy <= std::min(height - 1, y + radius); ++dy)
        result[static_cast<std::size_t>(y) * width + x] |=
            across[static_cast<std::size_t>(dy) * width + x];
  return result;
}

}  // namespace

DepthMap staticDepth(const VirtualScene& scene, int index) {
  return depthMap(scene, index, nullptr);
}

DepthMap frameDepth(const VirtualScene& scene, int index, double seconds) {
  const BallCentres balls = ballCentres(scene, seconds);
  return depthMap(scene, index, &balls);
}

TrueDisparity trueDisparity(const VirtualScene& scene,
                            const Mat3& H0,
                            const Mat3& H1,
                            int width,
                            int height,
                            double seconds) {
  if (width <= 0 || height <= 0) return {};
  const PinholeCamera& camera0 = scene.camera(0);
  const PinholeCamera& camera1 = scene.camera(1);
  const BallCentres balls = ballCentres(scene, seconds);
  const Mat3 unrectify0 = inverse(H0);
  const std::size_t count = static_cast<std::size_t>(width) * height;

  TrueDisparity truth{width, height, std::vector<float>(count, std::nanf("")), {}};
  // Per rectified pixel: inside picture 0, the camera-0 depth there (balls included), and
  // whether a static point seen by both cameras inside both pictures is there.
  std::vector<std::uint8_t> inside(count, 0), seen(count, 0);
  std::vector<double> depth(count, kInfinity);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      const Vec3 q = unrectify0 * Vec3{static_cast<double>(x), static_cast<double>(y), 1};
      const double x0 = q.x / q.z, y0 = q.y / q.z;
      if (!insidePicture(x0, y0)) continue;  // also false for NaN
      inside[at] = 1;
      const Vec3 ray0 = camera0.pixelRay(x0, y0);
      const FirstHit hit0 = castWithBalls(scene, camera0.centre, ray0, &balls);
      depth[at] = hit0.t * dot(camera0.R[2], ray0);
      if (hit0.ball || !std::isfinite(hit0.t)) continue;
      const Vec3 X = camera0.centre + ray0 * hit0.t;
      double x1, y1;
      if (!camera1.project(X, x1, y1) || !insidePicture(x1, y1)) continue;
      const Vec3 toX = X - camera1.centre;
      const double distance = norm(toX);
      if (castWithBalls(scene, camera1.centre, toX * (1 / distance), &balls).t <
          distance - kVisibilitySlack)
        continue;  // hidden from camera 1
      seen[at] = 1;
      const Vec3 r = H1 * Vec3{x1, y1, 1};
      truth.disparity[at] = static_cast<float>(x - r.x / r.z);
    }
  }

  // Depth edges between 4-neighbours inside picture 0; both sides are marked.
  std::vector<std::uint8_t> edge(count, 0);
  auto compare = [&](std::size_t a, std::size_t b) {
    if (!inside[a] || !inside[b]) return;
    const double near = std::min(depth[a], depth[b]), far = std::max(depth[a], depth[b]);
    const bool jump = std::isinf(far) ? !std::isinf(near) : far - near > kDepthEdgeRatio * near;
    if (jump || seen[a] != seen[b]) edge[a] = edge[b] = 1;
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      if (x + 1 < width) compare(at, at + 1);
      if (y + 1 < height) compare(at, at + width);
    }
  }
  const std::vector<std::uint8_t> nearEdge = dilate(edge, width, height, 2);
  truth.valid.resize(count);
  for (std::size_t at = 0; at < count; ++at) truth.valid[at] = seen[at] && !nearEdge[at];
  return truth;
}

}  // namespace epipolar
