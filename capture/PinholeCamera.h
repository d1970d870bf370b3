// An ideal pinhole camera: intrinsics, pose and projection, without lens distortion.
//
// Units and conventions:
//   world: metres; camera: x right, y down, z forward (the viewing direction);
//   X_cam = R (X_world - C); P = K [R | -R C].
//   pixels: x counts columns from the left, y rows from the top; pixel (x, y) is the square of
//   side 1 centred on the whole-number position (x, y).
// Threads: plain values.
#pragma once

#include <array>

#include "geometry/Vec3.h"

namespace epipolar {

using Matrix34 = std::array<std::array<double, 4>, 3>;

struct PinholeCamera {
  Mat3 K{};         // intrinsics: focal lengths and principal point in pixels
  Mat3 R{};         // world-to-camera rotation
  Vec3 centre{};    // optical centre in world coordinates
  Matrix34 P{};     // K [R | -R C]
  Mat3 inverseK{};  // K^-1
  Mat3 rayOf{};     // R^T K^-1: a pixel (x, y, 1) to a world direction

  // A camera with focal length f and principal point (cx, cy), both in pixels, at `centre`
  // looking at `target` with the world's z axis up, turned by `roll` radians about its
  // viewing direction.
  static PinholeCamera lookingAt(
      double f, double cx, double cy, const Vec3& centre, const Vec3& target, double roll);

  // Pixel position of world point X. Returns false (and leaves x, y alone) when X is not in
  // front of the camera.
  bool project(const Vec3& X, double& x, double& y) const;

  // Homogeneous image of world point X: P (X, 1). Its third component is the depth of X, z in
  // camera coordinates, in metres.
  Vec3 projectHomogeneous(const Vec3& X) const;

  // The world point at `depth` metres (z in camera coordinates) through pixel position (x, y):
  // C + depth R^T K^-1 (x, y, 1). The inverse of project for points in front of the camera.
  Vec3 backProject(double x, double y, double depth) const {
    return centre + (rayOf * Vec3{x, y, 1}) * depth;
  }

  // Unit direction from the centre through pixel position (x, y). Inline: the renderer calls
  // it for every sample.
  Vec3 pixelRay(double x, double y) const { return normalized(rayOf * Vec3{x, y, 1}); }
};

}  // namespace epipolar
