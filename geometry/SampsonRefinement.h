// Final refinement of a fundamental matrix: Levenberg-Marquardt on the sum of squared Sampson
// distances (geometry/Residuals.h, in pixels) over the given pairs, keeping rank 2.
//
// Parametrisation (Bartoli and Sturm, "Non-linear estimation of the fundamental matrix with
// minimal parameters", 2004): in coordinates normalised per picture (Hartley),
// Fn = U diag(1, sigma, 0) V^T with rotations U, V; a step turns U and V by small rotations
// (three parameters each, applied by Rodrigues' formula) and moves sigma, seven parameters
// for F's seven degrees of freedom, so every iterate has rank 2 exactly. The residual is the
// Sampson distance of the pixel pairs, computed from the normalised ones with the
// normalisation's scales, so the minimum is the pixel one.
//
// Our own small solver rather than GSL's multifit: the normal equations are accumulated as a
// 9x9 matrix in the entries of Fn and reduced to 7x7 through the parametrisation's Jacobian,
// one pass over the pairs per iteration and no allocation (bench/accurate_bench.cpp compares
// the two).
//
// Threads: pure function. Failure: fewer than 8 pairs, or non-finite input, return F as given.
#pragma once

#include <span>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/Residuals.h"

namespace epipolar {

struct SampsonRefinement {
  Matrix3x3 F{};             // unit Frobenius norm, rank 2
  double initialCost = 0.0;  // sum of squared Sampson distances before, pixels^2
  double finalCost = 0.0;    // and after (never above initialCost)
  int iterations = 0;        // accepted steps
};

// With `cutoff` > 0 the squares give way to Tukey's biweight with that cutoff (pixels): pairs
// beyond it count a constant and pull nothing, pairs near it little; the costs reported are
// then the biweight's.
SampsonRefinement refineSampson(const Matrix3x3& F,
                                std::span<const Correspondence> pairs,
                                int maxIterations = 50,
                                double cutoff = 0.0);

// The leverage of each pair at F (a minimum of the Sampson error over `pairs`): h_i =
// J_i^T (J^T J)^-1 J_i in the seven parameters, between 0 and 1, summing to 7. A pair's
// Sampson distance under F refitted without it is, to first order, r_i / (1 - h_i): a pair
// alone in its part of the geometry pulls F onto itself, with a small residual and a high
// leverage. +infinity where it cannot be computed.
std::vector<double> leverages(const Matrix3x3& F, std::span<const Correspondence> pairs);

}  // namespace epipolar
