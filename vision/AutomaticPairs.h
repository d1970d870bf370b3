// Automatic pairs: point correspondences between two pictures of one scene, found without
// clicks. SIFT features are detected in both pictures, matched by descriptor with Lowe's ratio
// test and a mutual nearest-neighbour check, and the matches are verified by the accurate
// estimator (geometry/Fundamental.h): only pairs that agree with its F (Sampson distance below
// the inlier bound) are returned.
//
//   AutomaticPairsResult result = findAutomaticPairs(frame0, frame1);
//   if (result.outcome == AutomaticPairsOutcome::kFound) add(result.pairs);
//   logLine(automaticPairsLogText(added, result.matches, result.milliseconds));
//
// Units: pixels, origin at the top-left pixel's centre, x right, y down; F row-major with
// (x1, y1, 1) F (x0, y0, 1)^T = 0 for (x0, y0) in picture 0. The pictures may differ in size.
// Threads: a pure function, safe from any thread; it blocks its caller for the whole search
// (about 150 ms for two 640x480 frames on two cores), so interactive callers run it off the
// UI thread. OpenCV's own thread pool does the parallel parts (see OpenCvThreads.h).
// Failure: never throws for any picture; the outcome says what went wrong and `message` says
// it in one sentence.
#pragma once

#include <string>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/Residuals.h"
#include "imaging/Image.h"

namespace epipolar {

struct AutomaticPairsOptions {
  // SIFT's contrast threshold; OpenCV's default (0.04) finds too few pairs in the virtual
  // rig's frames.
  double contrastThreshold = 0.01;
  // The strongest features kept per picture (0: all).
  int maxFeatures = 2000;
  // Pictures longer than this (pixels, either side) are searched for features at this size
  // and the positions scaled back (0: never): SIFT works on the picture doubled, so a
  // 12-megapixel photograph would need over 2 GB for its first octave alone.
  int maxDetectionSide = 2048;
  // Lowe's ratio test bound on best / second-best descriptor distance.
  double ratio = 0.8;
  // Sampson distance (pixels) below which a match agrees with the fitted F. Tighter than the
  // calibration's 1 px: wrong matches along an epipolar line (repeated texture) that still
  // pass pull F aside. Measured over ten rig frame pairs, F's mean distance from the truth
  // over the landmarks is 0.154 px (worst 0.285) at 1 px, 0.077 (worst 0.177) at 0.7 px and
  // 0.060 (0.113) at 0.5 px, with 269, 255 and 248 pairs at least; on merton, library and
  // hartley every bound gives F within 0.1 to 0.24 px of the reference. 0.5 px would drop
  // more true pairs of noisier cameras.
  double inlierThresholdPx = 0.7;
  // At most this many pairs are returned, the most distinctive first (0: all).
  int maxPairs = 0;
};

enum class AutomaticPairsOutcome {
  kFound,          // pairs holds the verified pairs (at least kMinVerifiedPairs)
  kTooFewMatches,  // fewer than kMinVerifiedPairs matches to verify
  kNoModel,        // no F fits at least kMinVerifiedPairs of the matches
};

// Any eight matches fit some fundamental matrix exactly, and a further one or two agree with
// it by chance even between unrelated pictures (measured: 7 of 9 random matches); twelve
// verified pairs are the least that show the pictures really share a view.
inline constexpr int kMinVerifiedPairs = 12;

struct AutomaticPairsResult {
  AutomaticPairsOutcome outcome = AutomaticPairsOutcome::kTooFewMatches;
  // Verified pairs, most distinctive (lowest descriptor distance ratio) first; empty unless
  // the outcome is kFound. No two share a point in either picture.
  std::vector<Correspondence> pairs;
  Matrix3x3 F{};              // the verifying model (kFound only), Frobenius norm 1
  int features0 = 0;          // features detected in picture 0
  int features1 = 0;          // and in picture 1
  int matches = 0;            // M: matches that passed the ratio test and mutual check
  int verified = 0;           // verified pairs before the maxPairs cut
  double milliseconds = 0.0;  // wall-clock time of the whole search
  std::string message;        // one sentence for a failed outcome; empty for kFound
  // The verifying estimator's warnings about degenerate input (most pairs on one plane, the
  // points nearly on a line), one short sentence each; the program logs each as
  // "Warning: " and the text.
  std::vector<std::string> warnings;
};

AutomaticPairsResult findAutomaticPairs(const Image& picture0,
                                        const Image& picture1,
                                        const AutomaticPairsOptions& options = {});

// "Automatic pairs: K added from M matches in T ms", T with one decimal.
std::string automaticPairsLogText(int added, int matches, double milliseconds);

}  // namespace epipolar
