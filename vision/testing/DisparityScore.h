// Test and bench helper: how a disparity map compares with the virtual rig's true disparity,
// over the pixels where the truth is a fair test (TrueDisparity::valid).
#pragma once

#include <cmath>
#include <cstddef>

#include "capture/VirtualDepth.h"
#include "geometry/Vec3.h"
#include "vision/Disparity.h"
#include "vision/Rectification.h"
#include "vision/testing/RigPair.h"

namespace epipolar::testing {

struct DisparityScore {
  long counted = 0;  // pixels where the truth is a fair test
  long valid = 0;    // of those, marked valid in the map
  long good = 0;     // of those, within the tolerance of the truth
  double validShare() const { return counted > 0 ? double(valid) / double(counted) : 0.0; }
  double goodShare() const { return valid > 0 ? double(good) / double(valid) : 0.0; }
};

// The map and the truth must cover the same rectified picture (same width and height).
inline DisparityScore scoreDisparity(const DisparityMap& map,
                                     const TrueDisparity& truth,
                                     double tolerancePx) {
  DisparityScore score;
  for (std::size_t k = 0; k < truth.valid.size() && k < map.disparity.size(); ++k) {
    if (!truth.valid[k]) continue;
    ++score.counted;
    if (std::isnan(map.disparity[k])) continue;
    ++score.valid;
    if (std::fabs(map.disparity[k] - truth.disparity[k]) <= tolerancePx) ++score.good;
  }
  return score;
}

// The map, computed for rectification `r` of the rig's frame pair, against the rig's truth.
inline DisparityScore scoreOnRig(const DisparityMap& map,
                                 const RigPair& rig,
                                 const Rectification& r,
                                 double tolerancePx) {
  const TrueDisparity truth = trueDisparity(*rig.scene,
                                            Mat3::fromRowMajor(r.H0),
                                            Mat3::fromRowMajor(r.H1),
                                            r.width,
                                            r.height,
                                            rig.seconds);
  return scoreDisparity(map, truth, tolerancePx);
}

}  // namespace epipolar::testing
