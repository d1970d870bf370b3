// Solvers for two-view models from point pairs, used by the accurate estimator: the 7-point
// and least-squares 8-point fundamental matrix, and the 4-point and least-squares homography.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 and (x1, y1, 1) ~ H * (x0, y0, 1)^T, with
// (x0, y0) in picture 0; pixels, origin top-left, y down; matrices row-major.
//
// All but the 7-point solver normalise internally (Hartley, "In defense of the eight-point
// algorithm", 1997): each picture's points are moved so their centroid is the origin and
// their mean distance from it is sqrt(2), the model is fitted there and mapped back, so
// callers pass and receive the same coordinates (pixels, or already normalised ones).
//
// Threads: pure functions. Failure: degenerate input (coincident points, too few pairs, a
// rank-deficient system) gives `false` or no models; never a trap.
#pragma once

#include <array>
#include <span>

#include "geometry/Correspondence.h"
#include "geometry/Residuals.h"

namespace epipolar {

// x_hat = s * (x - cx), y_hat = s * (y - cy).
struct Similarity {
  double s = 0.0, cx = 0.0, cy = 0.0;
  Matrix3x3 matrix() const { return {s, 0, -s * cx, 0, s, -s * cy, 0, 0, 1}; }
  Matrix3x3 inverse() const { return {1 / s, 0, cx, 0, 1 / s, cy, 0, 0, 1}; }
};

// The similarity that moves picture `picture`'s points (0: x0, y0; 1: x1, y1) of `pairs` to
// centroid 0 and mean distance sqrt(2) from it. False for coincident points or none.
bool normalisingSimilarity(std::span<const Correspondence> pairs, int picture, Similarity& t);

// The 7-point method (Hartley and Zisserman, Multiple View Geometry, 11.1.2): the two-
// dimensional null space F1, F2 of the seven equations x1^T F x0 = 0, then the real roots of
// det(a F1 + (1 - a) F2) = 0. Each root gives a rank-2 F through all seven pairs; roots whose
// F breaks the oriented epipolar constraint on the sample are dropped. Returns the number of
// models written (0 to 3).
//
// Unlike the other solvers it does not normalise: it runs for every RANSAC sample, so the
// caller normalises all pairs once (normalisingSimilarity) and passes coordinates of order 1;
// the models are in those coordinates.
int fitFundamentalSevenPoint(const std::array<Correspondence, 7>& pairs,
                             std::array<Matrix3x3, 3>& models);

// The 8-point method on exactly eight pairs, for samples: the null vector of the eight
// equations, then the nearest rank-2 matrix. Like the 7-point solver it takes coordinates
// the caller has normalised. False for a rank-deficient system.
bool fitFundamentalEightPoint(const std::array<Correspondence, 8>& pairs, Matrix3x3& F);

// Least-squares F over `pairs` (at least 8): the unit f minimising sum w_k^2 (a_k . f)^2 for
// the rows a_k of x1^T F x0 = 0 in normalised coordinates, then the nearest rank-2 matrix
// (smallest singular value set to zero). `weights` is empty for w = 1, or one per pair.
// `guess`, when given, is an F near the answer (in the pairs' coordinates): it speeds the
// solution up, not changes it.
bool fitFundamentalLeastSquares(std::span<const Correspondence> pairs,
                                std::span<const double> weights,
                                Matrix3x3& F,
                                const Matrix3x3* guess = nullptr);

// Homography through four pairs (the direct linear transformation, Multiple View Geometry,
// algorithm 4.2). False when three of the points are collinear in either picture.
bool fitHomographyFourPoint(const std::array<Correspondence, 4>& pairs, Matrix3x3& H);

// Least-squares homography over `pairs` (at least 4), algebraic error in normalised
// coordinates.
bool fitHomographyLeastSquares(std::span<const Correspondence> pairs, Matrix3x3& H);

// Squared transfer distances of a pair under H: |x1 - H x0|^2 in picture 1 and
// |x0 - H^-1 x1|^2 in picture 0 (pixels^2); the larger of the two. +infinity for a point
// mapped to infinity, NaN for non-finite input.
double homographyTransferError2(const Matrix3x3& H,
                                const Matrix3x3& Hinverse,
                                const Correspondence& c);

// The inverse of a 3x3 matrix by its adjugate; non-finite for a singular one.
Matrix3x3 inverse3x3(const Matrix3x3& m);

}  // namespace epipolar
