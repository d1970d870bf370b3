// Fundamental-matrix estimation: the normalised eight-point method (Hartley) with rank-2
// enforcement inside a RANSAC loop.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 for a correspondence (x0, y0, x1, y1),
// pixels, y pointing down.
//
// Each run shuffles a copy of all correspondences with 100 random swaps, fits F to the first
// eight, and scores it on all of them. Samples are drawn from the sequence of the C runtime's
// unseeded rand(), held in a private generator so that no other rand() user in the process
// changes the samples, and every start of the program draws the same ones.
//
// The residual of a correspondence is taken after dividing each epipolar line (a, b, c) by the
// norm of all three components, so the 0.25 inlier bound is not a pixel distance. The logs,
// inlier counts and chosen F all depend on this residual.
//
// Logging (DebugStream): "trying N runs", one "Run i: Error: e, with k inliers" line per run,
// then "Best error: e, with k inliers".
//
// Threads: estimateFundamental blocks its caller until the loop ends; calls from several
// threads are serialised on the shared generator. Failure: a degenerate sample (eight
// coincident points in one image) gives a non-finite model that finds no inliers; when no run
// finds an inlier the outputs keep the caller's values.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <span>
#include <vector>

#include "geometry/Matrix.h"

namespace epipolar {

inline constexpr int kSampleSize = 8;
inline constexpr double kConfidence = 0.99;
inline constexpr double kAssumedInlierFraction = 0.4;
inline constexpr int kSwapsPerSample = 100;
inline constexpr double inlierThreshold = 0.25;

// Produces the sequence of glibc's rand() as it runs without srand(). The table is the one
// initstate_r(1, state, 128) leaves (an additive feedback generator of degree 31, separation
// 3); next() then takes the step random_r takes, without its call and type dispatch (a
// calibration draws 200 values per run). Each instance starts the sequence afresh.
class RandSequence {
 public:
  RandSequence();
  RandSequence(const RandSequence&) = delete;
  RandSequence& operator=(const RandSequence&) = delete;
  // The next value in [0, RAND_MAX].
  int next() {
    // Unsigned arithmetic: the sum wraps modulo 2^32 as random_r's does.
    const std::uint32_t value = table_[front_] += table_[rear_];
    front_ = front_ + 1 == kDegree ? 0 : front_ + 1;
    rear_ = rear_ + 1 == kDegree ? 0 : rear_ + 1;
    return static_cast<int>(value >> 1);
  }

 private:
  static constexpr int kDegree = 31;
  std::array<std::uint32_t, kDegree> table_{};
  int front_ = 0;
  int rear_ = 0;
};

// The generator estimateFundamental draws from when none is given. Its position carries over
// between calls, so a later calibration in the same process draws different samples.
RandSequence& processRandSequence();

// Copy of `correspondences` in list order, then 100 swaps of records a and b with
// a = next() mod n drawn before b = next() mod n (a == b allowed).
std::vector<Correspondence> shuffledSample(std::span<const Correspondence> correspondences,
                                           RandSequence& random);

// Similarity that moves the centroid of the camera-`camera` points (0: x0, y0; 1: x1, y1) of
// the first eight records to the origin and scales their mean distance from it to sqrt(2).
// Rows (s, 0, -s*cx), (0, s, -s*cy), (0, 0, 1). Coincident points give a non-finite s.
Matrix normalisingTransform(std::span<const Correspondence> records, int camera);

// Rank-2 F from the first eight normalised pairs (first: camera 0, second: camera 1): the
// null vector of the 9x9 design matrix (row 8 zero), then the smallest singular value of that
// 3x3 matrix set to zero and the others divided by the largest.
Matrix eightPoint(const std::vector<VectorPair>& pairs);

struct EpipolarErrorResult {
  double error;  // mean of d0^2 + d1^2 over the inliers; +infinity when there is none
  int inliers;
};

// Scores F on every correspondence: d1 = |l1 . (x1, y1, 1)| with l1 = F * (x0, y0, 1) divided
// by its norm, d0 likewise with transpose(F) and the camera-1 point. A correspondence is an
// inlier when both are strictly below inlierThreshold.
EpipolarErrorResult epipolarError(const Matrix& F, std::span<const Correspondence> correspondences);
// The same score for a row-major 3x3 F, two correspondences at a time and without allocating:
// bit-identical to epipolarError. The estimation loop uses it.
EpipolarErrorResult epipolarErrorFast(const std::array<double, 9>& F,
                                      std::span<const Correspondence> correspondences);

// A run replaces the best so far when it has more inliers, or as many with a strictly smaller
// error: of equally good runs the first is kept.
bool isBetterRun(const EpipolarErrorResult& run, const EpipolarErrorResult& best);

// Runs needed for confidence 0.99 with eight-point samples at the given inlier fraction,
// trunc(ln(1 - 0.99) / ln(1 - fraction^8)), capped by the work bound kRunWorkBound
// below. `count` is the number of correspondences each run scores. Never below the
// uncapped value when that is at most kMinRunCap (7024, the limit for the assumed fraction).
int ransacRunLimit(double inlierFraction, int count);

inline constexpr int kMinRunCap = 7024;
// Total work allowed for one estimation, in runs times correspondences scored (at least 64
// counted per run). Calibration blocks the UI thread, and a point set with few inliers makes
// the adaptive limit enormous (beyond the int range below about 8% inliers). On the
// development machine a run costs about 12 us at 64 correspondences and 90 us at 10,000 (its
// log line written included); the cost per correspondence falls as n grows, so the longest
// case is at 64 or fewer: 9e6 / 64 = 140,625 runs, about 1.7 s. From 1,282 correspondences
// on the floor of kMinRunCap runs applies instead (7,024 runs at 10,000: about 0.6 s).
inline constexpr double kRunWorkBound = 9.0e6;

// Estimates F from `correspondences` (at least 8). On return F is the best model in pixel
// coordinates and T0, T1 are the normalising transforms of its sample (all 3x3), unless no
// run found an inlier, in which case all three keep their values. With fewer than 8
// correspondences nothing is logged or changed (callers refuse such sets themselves).
// The overloads without a generator draw from processRandSequence() under a lock.
void estimateFundamental(std::span<const Correspondence> correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F,
                         RandSequence& random);
void estimateFundamental(std::span<const Correspondence> correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F);
// For callers that keep their correspondences in a list: copies them to an array first.
void estimateFundamental(const std::list<Correspondence>& correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F);

}  // namespace epipolar
