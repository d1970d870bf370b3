// Fundamental-matrix estimation: one entry point, an options struct in and a report out.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 for a correspondence (x0, y0, x1, y1),
// pixels, origin top-left, y pointing down; F is row-major.
//
// Every method is a configuration of the one robust loop in geometry/Ransac.h, with its parts
// in a header of its own:
//   kClassic   the described estimator (geometry/ClassicEstimator.h): normalised eight-point
//              samples drawn from the unseeded rand() sequence, a residual on lines scaled by
//              their full norm with a 0.25 bound, and one log line per run.
//
// Threads: the classic method draws from processRandSequence() under processRandMutex()
// unless the options name a generator of their own. Failure: with fewer than 8
// correspondences, or when no run finds an inlier, `found` is false and F is all zeros.
#pragma once

#include <list>
#include <span>
#include <vector>

#include "geometry/ClassicEstimator.h"
#include "geometry/Matrix.h"
#include "geometry/RandSequence.h"
#include "geometry/Residuals.h"

namespace epipolar {

enum class FundamentalMethod { kClassic };

struct FundamentalOptions {
  FundamentalMethod method = FundamentalMethod::kClassic;
  // kClassic: the generator its samples come from; null for the process-wide sequence.
  RandSequence* random = nullptr;
};

struct FundamentalReport {
  bool found = false;
  Matrix3x3 F{};
  std::vector<bool> inlierMask;  // one entry per correspondence, in order
  int inlierCount = 0;
  // kClassic: the mean of d0^2 + d1^2 over the inliers on lines scaled by their full norm
  // (+infinity without inliers).
  double error = 0.0;
  int runs = 0;
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
