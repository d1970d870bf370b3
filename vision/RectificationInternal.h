// vision/'s OpenCV side of Rectification.h: the remap tables of a RectifyingWarp, for the
// disparity computation and tests. Include only from vision/ and bench/.
#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <vector>

#include "vision/Rectification.h"

namespace epipolar {

struct RectifyingWarp::Maps {
  cv::Mat xy;        // CV_16SC2 integer sample positions
  cv::Mat fraction;  // CV_16UC1 interpolation table indices
};

// The remap tables of H (picture to rectified, w > 0 in front of the picture) for the
// rectified pixels from (left, top), width x height of them. H must be invertible.
RectifyingWarp::Maps warpMaps(const Matrix3x3& H, int left, int top, int width, int height);

// Warps `picture` (any type remap takes) with the tables: bilinear, black outside.
void remapPicture(const cv::Mat& picture, const RectifyingWarp::Maps& maps, cv::Mat& out);

// The epipoles of F as homogeneous 3-vectors: F e0 = 0 and e1^T F = 0. False for a zero or
// non-finite F.
bool epipoles(const Matrix3x3& F, std::array<double, 3>& e0, std::array<double, 3>& e1);

// True when the epipole `e` lies inside a picture of `size` (its outer edges); x and y get its
// position when it is finite.
bool epipoleInside(const std::array<double, 3>& e, PictureSize size, double& x, double& y);

// The disparity range the pairs show. A wrong match on repeated texture (bricks, tiles) can
// agree with F and still be off along the row by whole periods of the texture: it stands
// apart from the rest by a jump, where real surfaces give disparities that run on without
// one. Within the lowest and the highest 5% of the sorted values, everything beyond the
// jump nearest the bulk of more than max(8 px, 15% of the 5th-95th percentile spread) is
// dropped. Only among many pairs (automatic ones): in a few dozen pairs clicked by hand a
// jump is just sparse sampling, and nothing is dropped.
inline constexpr size_t kMinPairsForStrays = 100;
struct DisparitySpan {
  double lowest = 0.0;
  double highest = 0.0;
  int dropped = 0;
};
DisparitySpan disparitySpan(std::vector<double> disparities);

}  // namespace epipolar
