// Fundamental-matrix estimation: one entry point, an options struct in and a report out.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 for a correspondence (x0, y0, x1, y1),
// pixels, origin top-left, y pointing down; F is row-major.
//
// Every method is a configuration of the one robust loop in geometry/Ransac.h, with its parts
// in a header of its own:
//   kClassic   the described estimator (geometry/ClassicEstimator.h): normalised eight-point
//              samples drawn from the unseeded rand() sequence, a residual on lines scaled by
//              their full norm with a 0.25 bound, and one log line per run;
//   kAccurate  LO-RANSAC on the Sampson distance in pixels (geometry/AccurateEstimator.h):
//              7-point samples from a seeded generator on pairs normalised once, truncated
//              (MSAC) scoring behind Wald's sequential test, local optimisation (least
//              squares on random subsets of the inliers, then reweighted least squares)
//              started from every sample that beats the best sampled model so far, adaptive
//              stopping at the confidence under a work bound; then Levenberg-Marquardt on the
//              Sampson error (geometry/SampsonRefinement.h) over the final inliers, a check
//              for pairs that pull F onto themselves, and a last fit with Tukey's biweight;
//              and warnings for degenerate input. It logs nothing: the calibration driver
//              reports it.
//
// Threads: the classic method draws from processRandSequence() under processRandMutex()
// unless the options name a generator of their own; the accurate method shares nothing.
// Failure: with fewer than 8 correspondences, or when no model is found, `found` is false and
// F is all zeros (the accurate method then says why in `warnings`).
#pragma once

#include <cstdint>
#include <list>
#include <span>
#include <string>
#include <vector>

#include "geometry/ClassicEstimator.h"
#include "geometry/Matrix.h"
#include "geometry/RandSequence.h"
#include "geometry/Residuals.h"

namespace epipolar {

enum class FundamentalMethod { kClassic, kAccurate };

// The accurate method's minimal solver. Seven points: measured on the shared scenes with
// everything else equal, it needs half the samples of eight for the same confidence (3,424
// against 6,890 on library, 55% outliers; w^7 against w^8 all-inlier samples) and is cheaper
// per sample (0.6 us, its spurious roots mostly dropped by the orientation check), for the
// same accuracy: 2.8 ms against 8.8 ms on library, 7.3 against 12.6 on hartley
// (bench/README.md). Eight points stays selectable for comparison.
enum class MinimalSolver { kSevenPoint, kEightPoint };

struct FundamentalOptions {
  FundamentalMethod method = FundamentalMethod::kClassic;

  // kClassic: the generator its samples come from; null for the process-wide sequence.
  RandSequence* random = nullptr;

  // kAccurate:
  double inlierThreshold = 1.0;  // Sampson distance bound, pixels (inliers strictly below)
  double confidence = 0.999;     // of having drawn one all-inlier sample
  int maxRuns = 10000;           // samples at most (the work bound may allow fewer)
  std::uint64_t seed = 0x5eed;   // the same seed and pairs give the same F
  MinimalSolver solver = MinimalSolver::kSevenPoint;

  // Empty when the options can be used, otherwise what is wrong with them.
  std::string check() const;
};

// Samples times pairs that one accurate estimation may spend, so that a call never blocks the
// user interface for long: from 2,000 pairs on, fewer than 10,000 samples (2,000 at 10,000
// pairs). Measured on the development machine (bench/accurate_bench.cpp): pure noise takes
// 7 ms at 64 or 1,000 pairs and 3 ms at 10,000; 10,000 pairs of one clean scene take 34 ms,
// most of it the final refinement.
inline constexpr double kAccurateWorkBound = 2.0e7;

struct FundamentalReport {
  bool found = false;
  Matrix3x3 F{};                 // row-major, pixels; kAccurate: unit Frobenius norm
  std::vector<bool> inlierMask;  // one entry per correspondence, in order
  int inlierCount = 0;
  // The method's own error. kClassic: the mean of d0^2 + d1^2 over the inliers on lines scaled
  // by their full norm (+infinity without inliers). kAccurate: rmsSampson.
  double error = 0.0;
  int runs = 0;
  // Over the inliers, pixels: the root mean square Sampson distance and the mean of
  // (d0 + d1) / 2, the distances of each point from its epipolar line. NaN without inliers.
  double rmsSampson = 0.0;
  double meanSymmetric = 0.0;
  double timeMs = 0.0;  // wall-clock time of the call
  // kAccurate: degenerate input, one short sentence each.
  std::vector<std::string> warnings;
  // kClassic: the normalising similarities of the winning sample.
  Matrix3x3 T0{};
  Matrix3x3 T1{};
};

FundamentalReport estimateFundamental(std::span<const Correspondence> correspondences,
                                      const FundamentalOptions& options = {});

// The described estimator with Matrix outputs: on return F is the best model in pixel
// coordinates and T0, T1 are the normalising transforms of its sample (all 3x3), unless no
// run found an inlier, in which case all three keep their values. With fewer than 8
// correspondences nothing is logged or changed (callers refuse such sets themselves).
// The overloads without a generator draw from processRandSequence() under its lock.
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
