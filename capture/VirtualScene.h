// The virtual stereo rig: two pinhole cameras looking at one small room, and its exact
// geometry.
//
// The room (SceneLayout.h): a checkered floor, a brick back wall with a four-colour poster, a
// plank wall on the left, a tiled wall on the right, three boxes with coloured faces, and an
// orange and a green ball that move slowly over the floor. The cameras converge, sit at
// different heights and differ in roll and intrinsics, so the pair is not rectified and its
// epipolar lines slant. Everything is known exactly: intrinsics, poses, projection matrices,
// the true fundamental matrix and named 3D landmarks with their projections, so the rig serves
// both new users without cameras and tests.
//
// Where the parts live: the room's contents in SceneLayout.h, ray casting in Room.h, colours in
// Shading.h, the landmarks in Landmarks.h, the still picture in StaticView.h, the per-frame
// renderer (balls, shadows, noise) in VirtualView.h, and true depth and disparity in
// VirtualDepth.h.
//
// Units and conventions:
//   world: metres; x to the right, y away from the cameras, z up; the floor is z = 0.
//   camera and pixels: PinholeCamera.h; X_cam = R (X_world - C), P = K [R | -R C].
//   fundamental matrix: (x1, y1, 1) F (x0, y0, 1)^T = 0 for a point of camera 0 and its
//   image in camera 1, scaled to Frobenius norm 1 with F[2][2] >= 0.
//
// Threads: VirtualScene is immutable after construction (its static views are made once,
// under a lock) and may be shared by any threads.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

#include "capture/Landmarks.h"
#include "capture/PinholeCamera.h"
#include "capture/Room.h"
#include "capture/SceneLayout.h"
#include "capture/Shading.h"
#include "capture/StaticView.h"
#include "geometry/Vec3.h"

namespace epipolar {

class VirtualScene {
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 480;
  static constexpr int kFramesPerSecond = 30;
  static constexpr int kCameraCount = 2;
  static constexpr int kBallCount = static_cast<int>(kBalls.size());

  VirtualScene();

  // Camera 0 (left) or 1 (right).
  const PinholeCamera& camera(int index) const { return cameras_[index]; }

  // F with (x1, y1, 1) F (x0, y0, 1)^T = 0, Frobenius norm 1, F[2][2] >= 0.
  const Mat3& trueFundamental() const { return fundamental_; }

  // Pose of camera 1 relative to camera 0: X_cam1 = R X_cam0 + t.
  Mat3 relativeRotation() const;
  Vec3 relativeTranslation() const;

  // Box corners, poster corners and floor checker corners that both cameras see, at least
  // 8 pixels inside both pictures and not hidden by anything static. Balls are ignored.
  std::vector<RigLandmark> landmarks() const { return findLandmarks(*this); }

  const RigBall& ball(int index) const { return kBalls[index]; }
  // Ball centre in world coordinates `seconds` after the rig started.
  Vec3 ballCentre(int index, double seconds) const { return epipolar::ballCentre(index, seconds); }

  // True when the static scene (balls ignored) hides no part of the segment from camera
  // `index`'s centre to X, short of X itself.
  bool visibleFrom(int index, const Vec3& X) const;

  // Intrinsics, poses, P0, P1, the relative pose, the true F, the epipoles and the landmarks,
  // as text.
  void print(std::ostream& out) const;

  const Room& room() const { return room_; }
  const Shader& shader() const { return shader_; }

  // The static picture of camera `index`, ray cast on first use (tens of milliseconds) and
  // then shared by every view of that camera. Thread-safe.
  const StaticView& staticView(int index) const;

 private:
  std::array<PinholeCamera, kCameraCount> cameras_;
  Mat3 fundamental_{};
  Room room_;
  Shader shader_{room_};
  mutable std::array<std::once_flag, kCameraCount> staticOnce_;
  mutable std::array<std::unique_ptr<StaticView>, kCameraCount> static_;
};

// Writes the rig description of VirtualScene::print to `out`.
void printVirtualRig(std::ostream& out);

}  // namespace epipolar
