// Disparity by semi-global matching (OpenCV's StereoSGBM, Hirschmüller 2008) on a rectified
// pair, with a colour-mapped picture for display and a 16-bit raw map for files.
//
//   DisparityMatcher matcher(rectification, size0, size1);
//   DisparityMap map = matcher.compute(frame0, frame1);   // warps both, then matches
//   std::unique_ptr<Image> shown = colourDisparity(map);
//   std::vector<std::uint16_t> raw = disparityTimes256(map);
//
// Units: pixels. The map lies on rectified picture 0 (rectification.width x .height, origin
// at the top-left pixel's centre, y down); its value at (x, y) is the disparity x - x1 where
// (x1, y) is the same scene point in rectified picture 1. Disparities are positive: the
// rectification places the pictures so (Rectification.h).
// Threads: a DisparityMatcher is used by one thread at a time (it keeps the matcher's working
// buffers); the other functions are pure. OpenCV's thread pool does the parallel parts.
// Failure: pictures of other sizes than the matcher was made for, or memory running out,
// give an empty map; pixels without a reliable match are invalid (NaN), never guessed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/Image.h"
#include "vision/Rectification.h"

namespace epipolar {

// Matching settings, chosen by measurement on the virtual rig (bench/README.md). One set
// serves the accuracy and the speed figures.
struct DisparityOptions {
  int blockSize = 5;               // matching window side, odd
  int uniquenessRatio = 10;        // percent by which the best cost must beat the second best
  int speckleWindowSize = 100;     // connected regions smaller than this (pixels) are invalidated
  int speckleRange = 2;            // ... when their disparities vary by at most this (pixels)
  int maxLeftRightDifference = 1;  // left-right consistency bound, pixels
};

struct DisparityMap {
  int width = 0;
  int height = 0;
  std::vector<float> disparity;  // row-major, pixels; NaN where invalid
  double minDisparity = 0.0;     // the searched range
  double maxDisparity = 0.0;

  float at(int x, int y) const { return disparity[static_cast<size_t>(y) * width + x]; }
  bool empty() const { return disparity.empty(); }
};

class DisparityMatcher {
 public:
  DisparityMatcher(const Rectification& rectification,
                   PictureSize picture0,
                   PictureSize picture1,
                   const DisparityOptions& options = {});
  ~DisparityMatcher();
  DisparityMatcher(const DisparityMatcher&) = delete;
  DisparityMatcher& operator=(const DisparityMatcher&) = delete;

  // Rectifies both pictures and matches them; empty when a picture has the wrong size.
  DisparityMap compute(const Image& picture0, const Image& picture1);

  // The rectified pictures of the last compute() (for display), or nullptr before it.
  std::unique_ptr<Image> rectified(int index) const;

  const Rectification& rectification() const { return rectification_; }

  struct State;  // OpenCV objects, kept out of this header

 private:
  Rectification rectification_;
  std::unique_ptr<State> state_;
};

// The map in colour (OpenCV's turbo map: far blue, near red) over its searched range;
// invalid pixels black.
std::unique_ptr<Image> colourDisparity(const DisparityMap& map);

// Disparity x 256, rounded, as unsigned 16-bit, row-major: 0 is invalid, valid values are at
// least 1 and saturate at 65535 (disparities up to 256 px are exact to 1/256 px).
std::vector<std::uint16_t> disparityTimes256(const DisparityMap& map);

}  // namespace epipolar
