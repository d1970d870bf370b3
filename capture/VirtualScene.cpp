#include "capture/VirtualScene.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <string>

namespace epipolar {

VirtualScene::VirtualScene() {
  constexpr double kPi = std::numbers::pi;
  // Left camera: 560 px focal length (60 degrees across), looking down at the room centre.
  cameras_[0] =
      PinholeCamera::lookingAt(560, 320, 240, {-0.20, -1.60, 1.35}, {0.05, 1.60, 0.45}, 0.0);
  // Right camera: 0.45 m to the right, 0.25 m forward, 0.10 m higher, turned inward and
  // rolled by 3 degrees, with a longer lens and an off-centre principal point.
  cameras_[1] = PinholeCamera::lookingAt(
      575, 318, 236, {0.25, -1.35, 1.45}, {-0.10, 1.65, 0.50}, 3.0 * kPi / 180.0);

  // F = K1^-T [t]x R K0^-1 with X_cam1 = R X_cam0 + t.
  const Mat3 R = relativeRotation();
  const Vec3 t = relativeTranslation();
  const Mat3 tx = {{{0, -t.z, t.y}, {t.z, 0, -t.x}, {-t.y, t.x, 0}}};
  Mat3 F = (transposed(cameras_[1].inverseK) * (tx * R)) * cameras_[0].inverseK;
  double norm = 0;
  for (const Vec3& row : F.rows)
    for (int j = 0; j < 3; ++j) norm += row[j] * row[j];
  norm = std::sqrt(norm) * (F[2][2] < 0 ? -1 : 1);
  for (Vec3& row : F.rows) row = {row.x / norm, row.y / norm, row.z / norm};
  fundamental_ = F;
}

Mat3 VirtualScene::relativeRotation() const { return cameras_[1].R * transposed(cameras_[0].R); }

Vec3 VirtualScene::relativeTranslation() const {
  return cameras_[1].R * (cameras_[0].centre - cameras_[1].centre);
}

bool VirtualScene::visibleFrom(int index, const Vec3& X) const {
  const Vec3 toPoint = X - cameras_[index].centre;
  const double distance = std::sqrt(dot(toPoint, toPoint));
  const Hit hit = room_.cast(cameras_[index].centre, toPoint * (1 / distance));
  return !hit.found() || hit.t >= distance - 1e-6;
}

const StaticView& VirtualScene::staticView(int index) const {
  std::call_once(staticOnce_[index],
                 [this, index] { static_[index] = renderStaticView(*this, index); });
  return *static_[index];
}

void VirtualScene::print(std::ostream& out) const {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  auto row = [&](const char* label, std::initializer_list<double> values) {
    text << label;
    for (double v : values) {
      char number[32];
      std::snprintf(number, sizeof number, " %14.8g", v);
      text << number;
    }
    text << '\n';
  };
  auto rows = [&](const Mat3& m) {
    for (const Vec3& r : m.rows) row("  ", {r.x, r.y, r.z});
  };
  text << "Virtual stereo rig: two pinhole cameras, " << kWidth << "x" << kHeight << " pixels, "
       << kFramesPerSecond << " frames per second.\n"
       << "World: metres, x right, y away from the cameras, z up; the floor is z = 0.\n"
       << "Pixels: x right, y down, pixel centres at whole numbers.\n"
       << "Camera: X_cam = R (X_world - C), P = K [R | -R C].\n";
  for (int i = 0; i < kCameraCount; ++i) {
    const PinholeCamera& cam = cameras_[i];
    text << "\nCamera " << i << (i == 0 ? " (left)" : " (right)") << "\n";
    text << "K" << i << " =\n";
    rows(cam.K);
    text << "R" << i << " =\n";
    rows(cam.R);
    const std::string centreLabel = "C" + std::to_string(i) + " =";
    row(centreLabel.c_str(), {cam.centre.x, cam.centre.y, cam.centre.z});
    text << "P" << i << " =\n";
    for (const auto& r : cam.P) row("  ", {r[0], r[1], r[2], r[3]});
  }
  text << "\nRelative pose: X_cam1 = R X_cam0 + t\nR =\n";
  rows(relativeRotation());
  const Vec3 t = relativeTranslation();
  row("t =", {t.x, t.y, t.z});
  text << "\nTrue fundamental matrix, (x1, y1, 1) F (x0, y0, 1)' = 0, Frobenius norm 1:\nF =\n";
  rows(fundamental_);
  // Epipoles: the image of the other camera's centre (which may lie behind the camera).
  for (int i = 0; i < kCameraCount; ++i) {
    const Vec3 h = cameras_[i].projectHomogeneous(cameras_[1 - i].centre);
    const std::string label = "Epipole in camera " + std::to_string(i) + ":";
    row(label.c_str(), {h.x / h.z, h.y / h.z});
  }
  text << "\nLandmarks seen by both cameras (world x y z; camera 0 x y; camera 1 x y):\n";
  for (const RigLandmark& landmark : landmarks()) {
    char line[200];
    std::snprintf(line,
                  sizeof line,
                  "  %-32s %7.3f %7.3f %7.3f  %9.3f %9.3f  %9.3f %9.3f\n",
                  landmark.name.c_str(),
                  landmark.world.x,
                  landmark.world.y,
                  landmark.world.z,
                  landmark.x0,
                  landmark.y0,
                  landmark.x1,
                  landmark.y1);
    text << line;
  }
  out << text.str();
}

void printVirtualRig(std::ostream& out) { VirtualScene().print(out); }

}  // namespace epipolar
