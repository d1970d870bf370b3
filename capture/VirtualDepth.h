// True depth of the virtual rig's pictures, and the true disparity of a rectified pair, for
// tests and benchmarks that compare a computed map with the truth.
//
// Depth is z in camera coordinates: metres along the optical axis to the surface seen through
// a pixel's centre, so the point is camera.backProject(x, y, depth) (PinholeCamera.h). It is
// +infinity where the ray meets nothing. The renderer averages 2x2 samples per pixel; depth
// is that of the single ray through the centre.
//
// Rectified pictures come from homographies H0, H1 (pixels to rectified pixels, row-major,
// for example Mat3::fromRowMajor of a 3x3 array): a rectified pixel p of view 0 shows the
// camera-0 position H0^-1 p. The true disparity there is
//     p.x - (H1 x1).x,
// where x1 is the projection into camera 1 of the 3D point seen at H0^-1 p, so that the match
// of p in rectified view 1 lies at p.x - disparity.
//
// Maps are row-major, top row first. Times are seconds after the rig started, as for frames.
// Threads: pure functions of an immutable scene; any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/VirtualScene.h"
#include "geometry/Vec3.h"

namespace epipolar {

struct DepthMap {
  int width = 0, height = 0;
  std::vector<float> z;  // metres; +infinity where nothing is hit
  float at(int x, int y) const { return z[static_cast<std::size_t>(y) * width + x]; }
};

// Depth of camera `index`'s static scene (balls ignored), kWidth x kHeight.
DepthMap staticDepth(const VirtualScene& scene, int index);
// Depth with the balls where they are at `seconds`.
DepthMap frameDepth(const VirtualScene& scene, int index, double seconds);

struct TrueDisparity {
  int width = 0, height = 0;
  // Pixels; NaN where the point is not seen by both cameras (or not inside both pictures).
  std::vector<float> disparity;
  // 1 where the disparity is a fair test of a matcher: seen by both cameras inside both
  // pictures, not on a ball, and not within 2 pixels of a depth edge of either camera (the
  // pixel beside an edge and 2 more, in x and in y, are left out). A depth edge lies between
  // 4-neighbours whose camera-0 depths differ by more than kDepthEdgeRatio of the nearer, or
  // of which camera 1 sees one and not the other.
  std::vector<std::uint8_t> valid;
  float at(int x, int y) const { return disparity[static_cast<std::size_t>(y) * width + x]; }
  bool isValid(int x, int y) const { return valid[static_cast<std::size_t>(y) * width + x] != 0; }
};

// Relative depth step between neighbouring pixels that counts as an edge. Smooth surfaces of
// the room change by under 4% from pixel to pixel even at the most grazing angle (a box side
// seen from camera 1), most by under 1%; the boxes' and balls' occluding edges jump by up to
// a third.
inline constexpr double kDepthEdgeRatio = 0.05;

// The true disparity of a width x height rectified pair made by H0 and H1, with the balls
// where they are at `seconds`. A singular H0 gives a map with nothing valid; a size without
// pixels gives empty maps.
TrueDisparity trueDisparity(const VirtualScene& scene,
                            const Mat3& H0,
                            const Mat3& H1,
                            int width,
                            int height,
                            double seconds);

}  // namespace epipolar
