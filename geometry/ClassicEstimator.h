// The described estimator's parts for the shared loop (geometry/Ransac.h): the normalised
// eight-point method (Hartley) with rank-2 enforcement inside a RANSAC loop.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 for a correspondence (x0, y0, x1, y1),
// pixels, origin top-left, y pointing down. Matrices are row-major.
//
//   sampler    ShuffleSampler: each run shuffles a copy of all correspondences with 100
//              random swaps drawn from a RandSequence and takes the first eight;
//   solver     NormalisedEightPoint: the eight-point fit in coordinates normalised by the
//              sample's own similarities T0, T1, then F = T1^T * Fn * T0;
//   scorer     NormalisedLineScorer: residuals on epipolar lines divided by the norm of all
//              three components (not a pixel distance), inliers strictly below 0.25, error the
//              mean of d0^2 + d1^2 over the inliers;
//   run limit  ClassicRunLimit: 7024 runs at first, then the confidence formula at the best
//              run's inlier fraction, bounded by a work limit;
//   log        ClassicRunLog: "trying N runs", one "Run i: Error: e, with k inliers" line per
//              run, then "Best error: e, with k inliers" (DebugStream).
//
// Everything here is bit-for-bit the arithmetic of the plain Matrix versions in
// geometry/FundamentalReference.h; tests compare the two.
//
// Threads: the parts are used by one thread at a time. Failure: a degenerate sample (eight
// coincident points in one image) gives a non-finite model that finds no inliers.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/RandSequence.h"
#include "geometry/Ransac.h"
#include "geometry/Residuals.h"

namespace epipolar {

inline constexpr int kSampleSize = 8;
inline constexpr double kConfidence = 0.99;
inline constexpr double kAssumedInlierFraction = 0.4;
inline constexpr int kSwapsPerSample = 100;
inline constexpr double kInlierThreshold = 0.25;

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

struct EpipolarErrorResult {
  double error;  // mean of d0^2 + d1^2 over the inliers; +infinity when there is none
  int inliers;
};

// A run replaces the best so far when it has more inliers, or as many with a strictly smaller
// error: of equally good runs the first is kept.
bool isBetterRun(const EpipolarErrorResult& run, const EpipolarErrorResult& best);

// Scores F on every correspondence: d1 = |l1 . (x1, y1, 1)| with l1 = F * (x0, y0, 1) divided
// by its norm, d0 likewise with transpose(F) and the camera-1 point. A correspondence is an
// inlier when both are strictly below kInlierThreshold. Two correspondences at a time and
// without allocating; bit-identical to epipolarErrorReference.
EpipolarErrorResult epipolarError(const Matrix3x3& F,
                                  std::span<const Correspondence> correspondences);

// Similarity that moves the centroid of the camera-`camera` points (0: x0, y0; 1: x1, y1) of
// the first eight records to the origin and scales their mean distance from it to sqrt(2):
// rows (s, 0, -s*cx), (0, s, -s*cy), (0, 0, 1), with cx, cy and the mean distance taken as
// 1/8 of their sums. Coincident points give a non-finite s.
Matrix3x3 normalisingTransform(std::span<const Correspondence> records, int camera);

// One described model: F in pixels and the normalising similarities of its sample.
struct ClassicModel {
  Matrix3x3 F{};
  Matrix3x3 T0{};
  Matrix3x3 T1{};
};

class ShuffleSampler {
 public:
  ShuffleSampler(std::span<const Correspondence> correspondences, RandSequence& random);
  // The first eight records of a copy shuffled by 100 swaps of records a and b, with
  // a = next() mod n drawn before b = next() mod n (a == b allowed).
  void draw(std::array<Correspondence, kSampleSize>& sample);

 private:
  RandSequence& random_;
  // One persistent copy whose swaps are undone after reading the sample, which leaves exactly
  // the first eight records a fresh shuffled copy would have.
  std::vector<Correspondence> work_;
  std::uint64_t n_;
  std::uint64_t reciprocal_;  // for x mod n without a division
};

class NormalisedEightPoint {
 public:
  static constexpr int kSampleSize = epipolar::kSampleSize;
  static constexpr int kMaxModels = 1;
  using Model = ClassicModel;

  NormalisedEightPoint();
  ~NormalisedEightPoint();
  // False when GSL could not allocate its work space (GSL has logged it).
  bool ok() const;
  // Always one model. T0, T1 move the centroid of each picture's sample points to the origin
  // and their mean distance from it to sqrt(2); Fn is the null vector of the 9x9 design
  // matrix (row 8 zero) with its smallest singular value set to zero and the others divided
  // by the largest; F = T1^T * Fn * T0.
  int fit(const std::array<Correspondence, kSampleSize>& sample,
          std::array<ClassicModel, kMaxModels>& models);

 private:
  struct Decompositions;
  std::unique_ptr<Decompositions> svd_;
};

class NormalisedLineScorer {
 public:
  using Score = EpipolarErrorResult;
  static Score worst();
  Score score(const ClassicModel& model,
              std::span<const Correspondence> data,
              const Score& /*best*/) const {
    return epipolarError(model.F, data);
  }
  static bool better(const Score& a, const Score& b) { return isBetterRun(a, b); }
  static int inliers(const Score& s) { return s.inliers; }
  static void improved(const Score&, int) {}
  // The pairs epipolarError counts as inliers.
  static std::vector<bool> inlierMask(const Matrix3x3& F, std::span<const Correspondence> data);
};

struct ClassicRunLimit {
  static int initial(int n) { return ransacRunLimit(kAssumedInlierFraction, n); }
  // All correspondences inliers: one run is enough.
  static int afterImprovement(int inliers, int n);
};

struct ClassicRunLog {
  void start(int limit);
  void model(int run, const EpipolarErrorResult& score);
  void end(const EpipolarErrorResult& best);
};

// The described estimator on `correspondences` (at least 8; fewer give no model and no log),
// drawing its samples from `random`.
RansacResult<ClassicModel, EpipolarErrorResult> estimateClassic(
    std::span<const Correspondence> correspondences, RandSequence& random);

}  // namespace epipolar
