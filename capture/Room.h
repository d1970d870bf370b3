// Where a ray meets the virtual rig's room: the static surfaces of SceneLayout (floor, walls,
// boxes), shadows toward the light, and the moving balls as spheres.
//
// Units: world metres (SceneLayout.h). Rays are origin + t * direction with a unit direction,
// so t is a distance in metres; hits closer than 1e-9 are ignored so that a ray leaving a
// surface does not meet that surface again.
// Threads: a Room is immutable after construction and may be shared by any threads.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "capture/SceneLayout.h"
#include "geometry/Vec3.h"

namespace epipolar {

// Which surface a ray met.
struct Surface {
  enum Kind : std::uint8_t { kNothing, kFloor, kBackWall, kLeftWall, kRightWall, kBoxFace };
  Kind kind = kNothing;
  int box = 0;   // kBoxFace: index into kBoxes
  int axis = 0;  // kBoxFace: the box's own axis across the face, 0 x, 1 y, 2 z (the top)
};

struct Hit {
  double t = 0;  // distance along the ray
  Surface surface;
  Vec3 point{};   // where the ray met the surface
  Vec3 normal{};  // unit outward normal there
  bool found() const { return surface.kind != Surface::kNothing; }
};

class Room {
 public:
  Room();

  // The nearest static surface along the ray; hit.found() is false when there is none.
  Hit cast(const Vec3& origin, const Vec3& direction) const;
  // True when a box stands between p and the light.
  bool shadowed(const Vec3& p) const;

  // Unit vector toward the (distant) light.
  const Vec3& light() const { return light_; }

  // Cosine and sine of box `index`'s yaw.
  double boxCos(int index) const { return boxTurn_[index].cos; }
  double boxSin(int index) const { return boxTurn_[index].sin; }

 private:
  // Replaces `hit` with the entry into box `index` when that is nearer (or `hit` is empty).
  bool hitBox(int index, const Vec3& origin, const Vec3& direction, Hit& hit) const;

  struct Turn {
    double cos = 1, sin = 0;
  };
  std::array<Turn, kBoxes.size()> boxTurn_;
  Vec3 light_;
};

// Distance at which the ray enters the sphere, the smaller root t of
// |origin + t d - centre|^2 = radius^2 with |d| = 1. Only t > 0 is a hit: the result is
// negative when the ray misses, and not positive when the sphere is behind or around the
// origin.
inline double sphereEntry(const Vec3& origin,
                          const Vec3& direction,
                          const Vec3& centre,
                          double radius) {
  const Vec3 oc = origin - centre;
  const double b = dot(oc, direction);
  const double disc = b * b - (dot(oc, oc) - radius * radius);
  if (disc < 0) return -1;
  return -b - std::sqrt(disc);
}

}  // namespace epipolar
