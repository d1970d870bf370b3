#include "capture/Room.h"

#include <algorithm>
#include <utility>

namespace epipolar {
namespace {

// Ray origin + t direction along one axis meets the plane coordinate = plane at t > 1e-9.
bool hitPlane(double origin, double direction, double plane, double& t) {
  if (direction == 0) return false;
  t = (plane - origin) / direction;
  return t > 1e-9;
}

}  // namespace

Room::Room() : light_(normalized(kTowardLight)) {
  for (std::size_t i = 0; i < kBoxes.size(); ++i)
    boxTurn_[i] = {std::cos(kBoxes[i].yaw), std::sin(kBoxes[i].yaw)};
}

bool Room::hitBox(int index, const Vec3& o, const Vec3& d, Hit& hit) const {
  const BoxLayout& box = kBoxes[index];
  // Slab test in the box's own frame (centre at the origin, axes along its edges).
  const double c = boxTurn_[index].cos, s = boxTurn_[index].sin;
  const double px = o.x - box.centreX, py = o.y - box.centreY, pz = o.z - box.halfZ;
  const double lo[3] = {c * px + s * py, -s * px + c * py, pz};
  const double ld[3] = {c * d.x + s * d.y, -s * d.x + c * d.y, d.z};
  const double half[3] = {box.halfX, box.halfY, box.halfZ};
  double tNear = -1e300, tFar = 1e300;
  int axis = -1;
  double sign = 0;
  for (int k = 0; k < 3; ++k) {
    if (ld[k] == 0) {
      if (std::fabs(lo[k]) > half[k]) return false;
      continue;
    }
    double t0 = (-half[k] - lo[k]) / ld[k], t1 = (half[k] - lo[k]) / ld[k];
    double entrySign = -1;
    if (t0 > t1) {
      std::swap(t0, t1);
      entrySign = 1;
    }
    if (t0 > tNear) {
      tNear = t0;
      axis = k;
      sign = entrySign;
    }
    tFar = std::min(tFar, t1);
    if (tNear > tFar) return false;
  }
  if (tNear <= 1e-9 || axis < 0 || (hit.found() && tNear >= hit.t)) return false;
  hit.t = tNear;
  hit.point = o + d * tNear;
  Vec3 local{0, 0, 0};
  local[axis] = sign;
  hit.normal = {c * local.x - s * local.y, s * local.x + c * local.y, local.z};
  hit.surface = {.kind = Surface::kBoxFace, .box = index, .axis = axis};
  return true;
}

Hit Room::cast(const Vec3& o, const Vec3& d) const {
  Hit hit;
  auto consider = [&](Surface::Kind kind, double t, const Vec3& normal) {
    if (hit.found() && t >= hit.t) return;
    hit.t = t;
    hit.surface = {.kind = kind};
    hit.point = o + d * t;
    hit.normal = normal;
  };
  double t;
  if (hitPlane(o.z, d.z, 0.0, t)) {
    const double x = o.x + t * d.x, y = o.y + t * d.y;
    if (x >= kRoom.left && x <= kRoom.right && y >= kRoom.front && y <= kRoom.back)
      consider(Surface::kFloor, t, {0, 0, 1});
  }
  if (hitPlane(o.y, d.y, kRoom.back, t)) {
    const double x = o.x + t * d.x, z = o.z + t * d.z;
    if (x >= kRoom.left && x <= kRoom.right && z >= 0 && z <= kRoom.wallHeight)
      consider(Surface::kBackWall, t, {0, -1, 0});
  }
  if (hitPlane(o.x, d.x, kRoom.left, t)) {
    const double y = o.y + t * d.y, z = o.z + t * d.z;
    if (y >= kRoom.front && y <= kRoom.back && z >= 0 && z <= kRoom.wallHeight)
      consider(Surface::kLeftWall, t, {1, 0, 0});
  }
  if (hitPlane(o.x, d.x, kRoom.right, t)) {
    const double y = o.y + t * d.y, z = o.z + t * d.z;
    if (y >= kRoom.front && y <= kRoom.back && z >= 0 && z <= kRoom.wallHeight)
      consider(Surface::kRightWall, t, {-1, 0, 0});
  }
  for (int box = 0; box < static_cast<int>(kBoxes.size()); ++box) hitBox(box, o, d, hit);
  return hit;
}

bool Room::shadowed(const Vec3& p) const {
  Hit hit;
  for (int box = 0; box < static_cast<int>(kBoxes.size()); ++box)
    if (hitBox(box, p, light_, hit)) return true;
  return false;
}

}  // namespace epipolar
