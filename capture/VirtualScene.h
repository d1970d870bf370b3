// The scene and calibration of the virtual stereo rig, and the renderer of its frames.
//
// Two pinhole cameras look at one small room: a checkered floor, a brick back wall with a
// four-colour poster, a plank wall on the left, a tiled wall on the right, three boxes with
// coloured faces, and an orange and a green ball that move slowly over the floor. The
// cameras converge, sit at different heights and differ in roll and intrinsics, so the pair
// is not rectified and its epipolar lines slant. Everything is known exactly: intrinsics,
// poses, projection matrices, the true fundamental matrix and named 3D landmarks with their
// projections, so the rig serves both new users without cameras and tests.
//
// Units and conventions:
//   world: metres; x to the right, y away from the cameras, z up; the floor is z = 0.
//   camera: x right, y down, z forward (the viewing direction); X_cam = R (X_world - C).
//   pixels: x counts columns from the left, y rows from the top; pixel (x, y) is the square
//   of side 1 centred on the whole-number position (x, y). P = K [R | -R C].
//   fundamental matrix: (x1, y1, 1) F (x0, y0, 1)^T = 0 for a point of camera 0 and its
//   image in camera 1, scaled to Frobenius norm 1 with F[2][2] >= 0.
//
// Rendering: the static part of each view is ray cast once (2x2 samples per pixel) when a
// VirtualView is made; each frame copies it, darkens the balls' floor shadows, ray casts
// only the pixels the balls cover and adds sensor noise from the view's own <random> engine.
//
// Threads: VirtualScene is immutable after construction and may be shared by any threads.
// A VirtualView is used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "imaging/Image.h"

namespace epipolar {

using Point3 = std::array<double, 3>;
using Matrix3 = std::array<std::array<double, 3>, 3>;
using Matrix34 = std::array<std::array<double, 4>, 3>;

struct PinholeCamera {
  Matrix3 K{};      // intrinsics: focal lengths and principal point in pixels
  Matrix3 R{};      // world-to-camera rotation
  Point3 centre{};  // optical centre in world coordinates
  Matrix34 P{};     // K [R | -R C]

  // Pixel position of world point X. Returns false (and leaves x, y alone) when X is not in
  // front of the camera.
  bool project(const Point3& X, double& x, double& y) const;
};

// A named 3D point visible in both views, with its exact projections: a place to click.
struct RigLandmark {
  std::string name;
  Point3 world{};
  double x0 = 0, y0 = 0;  // in camera 0
  double x1 = 0, y1 = 0;  // in camera 1
};

struct RigBall {
  std::string name;  // "orange" or "green"
  float r, g, b;     // base colour, fully saturated
  double radius;     // metres
};

class VirtualScene {
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 480;
  static constexpr int kFramesPerSecond = 30;
  static constexpr int kCameraCount = 2;
  static constexpr int kBallCount = 2;

  VirtualScene();

  // Camera 0 (left) or 1 (right).
  const PinholeCamera& camera(int index) const { return cameras_[index]; }

  // F with (x1, y1, 1) F (x0, y0, 1)^T = 0, Frobenius norm 1, F[2][2] >= 0.
  Matrix3 trueFundamental() const { return fundamental_; }

  // Pose of camera 1 relative to camera 0: X_cam1 = R X_cam0 + t.
  Matrix3 relativeRotation() const;
  Point3 relativeTranslation() const;

  // Box corners, poster corners and floor checker corners that both cameras see, at least
  // 8 pixels inside both pictures and not hidden by anything static. Balls are ignored.
  std::vector<RigLandmark> landmarks() const;

  const RigBall& ball(int index) const { return balls_[index]; }
  // Ball centre in world coordinates `seconds` after the rig started.
  Point3 ballCentre(int index, double seconds) const;

  // True when the static scene (balls ignored) hides no part of the segment from camera
  // `index`'s centre to X, short of X itself.
  bool visibleFrom(int index, const Point3& X) const;

  // Intrinsics, poses, P0, P1, the relative pose, the true F, the epipoles and the landmarks,
  // as text.
  void print(std::ostream& out) const;

  // --- used by VirtualView ---
  struct Hit {
    double t = 0;      // distance along the unit ray
    int surface = -1;  // -1: nothing hit
    Point3 point{};
    Point3 normal{};
  };
  static constexpr int kFloor = 0;
  Hit castStatic(const Point3& origin, const Point3& direction) const;
  // Lit colour of a static hit, components in [0, 1].
  void shade(const Hit& hit, float& r, float& g, float& b) const;
  // Lit colour of ball `index` centred at `centre`, seen at surface point p, turned about
  // the vertical axis by the angle whose cosine and sine are given.
  void shadeBall(int index,
                 const Point3& centre,
                 const Point3& p,
                 double spinCos,
                 double spinSin,
                 float& r,
                 float& g,
                 float& b) const;
  // The static picture of camera `index` (no balls, no noise) with, per pixel, the nearest
  // static distance along the pixel's rays and the floor point where the floor shows. Ray
  // cast on first use (2x2 samples per pixel, tens of milliseconds) and then shared by every
  // view of that camera. Thread-safe.
  struct StaticView {
    std::unique_ptr<Image> background;
    std::vector<float> depth;         // 1e30 where nothing static is hit
    std::vector<std::uint8_t> floor;  // 1 where some sample hits the floor
    std::vector<float> floorXY;       // mean floor point (x, y) of those samples
  };
  const StaticView& staticView(int index) const;

  // Unit vector toward the (distant) light.
  const Point3& light() const { return light_; }
  // Unit direction from camera `index`'s centre through pixel position (x, y).
  Point3 pixelRay(int index, double x, double y) const;

 private:
  struct Box {
    double cx, cy;      // footprint centre on the floor
    double hx, hy, hz;  // half extents along the box's own axes
    double yaw;         // rotation about z, radians
    float top[3], sideX[3], sideY[3];
  };
  bool hitBox(const Box& box, const Point3& o, const Point3& d, Hit& hit) const;
  bool shadowed(const Point3& p) const;

  std::array<PinholeCamera, kCameraCount> cameras_;
  std::array<Matrix3, kCameraCount> inverseK_;
  std::array<Matrix3, kCameraCount> pixelToWorld_;  // R^T K^-1: pixel to ray direction
  Matrix3 fundamental_{};
  std::vector<Box> boxes_;
  std::array<RigBall, kBallCount> balls_;
  Point3 light_{};  // unit vector toward the light
  mutable std::array<std::once_flag, kCameraCount> staticOnce_;
  mutable std::array<std::unique_ptr<StaticView>, kCameraCount> static_;
};

// One camera's view of the scene: the pre-rendered static picture and the per-frame renderer.
class VirtualView {
 public:
  // A view of camera `index`; the first view of a camera ray casts its static picture.
  // `seed` starts the noise engine.
  VirtualView(std::shared_ptr<const VirtualScene> scene, int index, std::uint64_t seed);

  // The complete frame at `seconds` after the rig started: a 640x480 BMP block.
  std::unique_ptr<Image> renderFrame(double seconds);
  // The same without sensor noise; deterministic.
  std::unique_ptr<Image> renderClean(double seconds);

  // The static picture alone (no balls, no noise).
  const Image& background() const { return *static_->background; }

 private:
  void drawMoving(Image& frame, double seconds) const;

  std::shared_ptr<const VirtualScene> scene_;
  int index_;
  const VirtualScene::StaticView* static_;
  std::mt19937_64 engine_;
  std::vector<std::int8_t> noise_;  // sensor noise pattern, longer than a frame
};

// Writes the rig description of VirtualScene::print to `out`.
void printVirtualRig(std::ostream& out);

}  // namespace epipolar
