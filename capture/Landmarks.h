// Named 3D points of the virtual rig that both cameras see, with their exact projections:
// places to click, and ground truth for tests. Box corners, poster corners and centre, and
// every other floor checker corner over the middle of the floor, kept when they lie at least
// 8 pixels inside both pictures and nothing static hides them. The balls are ignored.
//
// Units: world metres (SceneLayout.h), pixels with the origin top-left and y down.
// Threads: pure; the scene is only read.
#pragma once

#include <string>
#include <vector>

#include "geometry/Vec3.h"

namespace epipolar {

class VirtualScene;

struct RigLandmark {
  std::string name;
  Vec3 world{};
  double x0 = 0, y0 = 0;  // in camera 0
  double x1 = 0, y1 = 0;  // in camera 1
};

// In a fixed order: box corners (top, then bottom, per box), the poster, the floor.
std::vector<RigLandmark> findLandmarks(const VirtualScene& scene);

}  // namespace epipolar
