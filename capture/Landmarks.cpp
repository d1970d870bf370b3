#include "capture/Landmarks.h"

#include <cstdio>
#include <utility>

#include "capture/VirtualScene.h"

namespace epipolar {

std::vector<RigLandmark> findLandmarks(const VirtualScene& scene) {
  std::vector<std::pair<std::string, Vec3>> candidates;
  for (std::size_t i = 0; i < kBoxes.size(); ++i) {
    const BoxLayout& box = kBoxes[i];
    const double c = scene.room().boxCos(static_cast<int>(i));
    const double s = scene.room().boxSin(static_cast<int>(i));
    for (int level = 0; level < 2; ++level) {
      for (int corner = 0; corner < 4; ++corner) {
        // Corners 0 to 3 counter-clockwise in the box's own frame from (-x, -y).
        const double lx = (corner == 0 || corner == 3) ? -box.halfX : box.halfX;
        const double ly = corner < 2 ? -box.halfY : box.halfY;
        const Vec3 X = {box.centreX + c * lx - s * ly,
                        box.centreY + s * lx + c * ly,
                        level == 0 ? 2 * box.halfZ : 0.0};
        candidates.emplace_back(std::string(box.name) + (level == 0 ? " top " : " bottom ") +
                                    "corner " + std::to_string(corner),
                                X);
      }
    }
  }
  candidates.emplace_back("poster top-left", Vec3{kPoster.left, kRoom.back, kPoster.top});
  candidates.emplace_back("poster top-right", Vec3{kPoster.right, kRoom.back, kPoster.top});
  candidates.emplace_back("poster bottom-left", Vec3{kPoster.left, kRoom.back, kPoster.bottom});
  candidates.emplace_back("poster bottom-right", Vec3{kPoster.right, kRoom.back, kPoster.bottom});
  candidates.emplace_back("poster centre", Vec3{kPoster.middleX(), kRoom.back, kPoster.middleZ()});
  for (int k = -4; k <= 4; k += 2) {
    for (int m = -2; m <= 10; m += 2) {
      char name[64];
      std::snprintf(
          name, sizeof name, "floor corner (%.1f, %.1f)", k * kCheckerSide, m * kCheckerSide);
      candidates.emplace_back(name, Vec3{k * kCheckerSide, m * kCheckerSide, 0.0});
    }
  }

  const double margin = 8;
  auto inside = [&](double x, double y) {
    return x >= margin && y >= margin && x <= VirtualScene::kWidth - 1 - margin &&
           y <= VirtualScene::kHeight - 1 - margin;
  };
  std::vector<RigLandmark> result;
  for (const auto& [name, X] : candidates) {
    RigLandmark landmark{name, X};
    if (!scene.camera(0).project(X, landmark.x0, landmark.y0) ||
        !scene.camera(1).project(X, landmark.x1, landmark.y1))
      continue;
    if (!inside(landmark.x0, landmark.y0) || !inside(landmark.x1, landmark.y1)) continue;
    if (!scene.visibleFrom(0, X) || !scene.visibleFrom(1, X)) continue;
    result.push_back(landmark);
  }
  return result;
}

}  // namespace epipolar
