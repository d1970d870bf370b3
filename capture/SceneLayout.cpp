#include "capture/SceneLayout.h"

#include <cmath>

namespace epipolar {

Vec3 ballCentre(int index, double seconds) {
  constexpr double kPi = std::numbers::pi;
  if (index == 0) {
    const double w = 2 * kPi / 16;
    return {-0.40 + 0.30 * std::cos(w * seconds),
            1.05 + 0.22 * std::sin(w * seconds),
            kBalls[0].radius};
  }
  const double w = 2 * kPi / 11, bounce = 2 * kPi / 3.2;
  return {0.45 + 0.25 * std::sin(w * seconds),
          1.35 + 0.15 * std::cos(w * seconds),
          kBalls[1].radius + 0.20 * std::fabs(std::sin(bounce * seconds))};
}

}  // namespace epipolar
