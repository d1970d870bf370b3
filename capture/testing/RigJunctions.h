// Test and benchmark helper: the virtual rig's landmarks that serve as sub-pixel ground
// truth for clicks.
//
// These are the planar X-junctions: the floor checker's corners and the poster's centre,
// each the meeting point of straight edges on one surface, so that the picture's corner is
// the geometric point in both views. Box corners sit on dark trims 2 to 3 px wide and on
// silhouettes whose background moves with the view, and the poster's outer corners touch
// mortar lines: there the picture's corner is not the geometric point (OpenCV's cornerSubPix
// started on the exact projection ends 1 to 5 px away). Junctions with a ball over them at
// `seconds`, or with another landmark within 10 px (a window's reach) in either view, are
// left out too.
#pragma once

#include <cmath>
#include <vector>

#include "capture/VirtualScene.h"
#include "capture/VirtualView.h"

namespace epipolar::testing {

inline bool isPlanarJunction(const RigLandmark& landmark) {
  return landmark.name.starts_with("floor corner") || landmark.name == "poster centre";
}

inline std::vector<RigLandmark> rigJunctions(const VirtualScene& scene, double seconds) {
  const std::vector<RigLandmark> all = scene.landmarks();
  std::vector<RigLandmark> chosen;
  for (const RigLandmark& l : all) {
    if (!isPlanarJunction(l)) continue;
    bool clear = true;
    for (int camera = 0; camera < VirtualScene::kCameraCount; ++camera) {
      const double x = camera == 0 ? l.x0 : l.x1, y = camera == 0 ? l.y0 : l.y1;
      const PinholeCamera& cam = scene.camera(camera);
      for (int i = 0; i < VirtualScene::kBallCount; ++i) {
        const Vec3 c = scene.ballCentre(i, seconds);
        double bx, by;
        if (!cam.project(c, bx, by)) continue;
        const double distance = norm(c - cam.centre);
        const double radius = cam.K[0][0] * scene.ball(i).radius / distance;
        clear = clear && std::hypot(x - bx, y - by) > radius + 12;
      }
      for (const RigLandmark& other : all) {
        const double ox = camera == 0 ? other.x0 : other.x1;
        const double oy = camera == 0 ? other.y0 : other.y1;
        clear = clear && (&other == &l || std::hypot(x - ox, y - oy) > 10);
      }
    }
    if (clear) chosen.push_back(l);
  }
  return chosen;
}

}  // namespace epipolar::testing
