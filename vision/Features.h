// Feature detection and mutual ratio-test matching between two pictures: the first stages of
// the automatic pairs (AutomaticPairs.h), exposed for tests and benchmarks. Part of vision/'s
// OpenCV side: include it only from vision/ and bench/.
//
// Units: keypoint positions in pixels, origin at the top-left pixel's centre, y down (OpenCV's
// keypoint convention, the same as Image's integer pixel positions).
// Threads: pure functions. detectFeaturePair runs the two pictures side by side through
// cv::parallel_for_ (on the caller's thread alone after prepareOpenCvThreads() under
// ThreadSanitizer).
// Failure: an empty or featureless picture gives no features, and then no matches.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <vector>

#include "vision/AutomaticPairs.h"

namespace epipolar {

struct Features {
  std::vector<cv::KeyPoint> keypoints;
  cv::Mat descriptors;  // one row per keypoint
};

// SIFT features of an 8-bit grey picture, with options.contrastThreshold and at most
// options.maxFeatures of the strongest. Descriptors are CV_8U rows of 128.
Features detectFeatures(const cv::Mat& gray, const AutomaticPairsOptions& options);

// Both pictures' features, computed side by side.
void detectFeaturePair(const cv::Mat& gray0,
                       const cv::Mat& gray1,
                       const AutomaticPairsOptions& options,
                       Features& features0,
                       Features& features1);

struct FeatureMatch {
  int index0 = 0;      // keypoint in picture 0
  int index1 = 0;      // keypoint in picture 1
  float ratio = 0.0f;  // best / second-best distance: lower is more distinctive
};

// Matches that pass the ratio test from picture 0 and whose partner in picture 1 has the
// picture-0 keypoint as its own nearest neighbour (the mutual check), in picture-0 order.
// Needs at least two descriptors in picture 1.
std::vector<FeatureMatch> matchFeatures(const cv::Mat& descriptors0,
                                        const cv::Mat& descriptors1,
                                        double ratio);

}  // namespace epipolar
