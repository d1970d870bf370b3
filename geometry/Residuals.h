// Pixel residuals of a correspondence under a fundamental matrix.
//
// F is 3x3 row-major with (x1, y1, 1) * F * (x0, y0, 1)^T = 0, pixels, y down. With
// l1 = F * (x0, y0, 1) (the epipolar line in picture 1), l0 = F^T * (x1, y1, 1) (the line in
// picture 0) and e = (x1, y1, 1) . l1:
//   d1 = |e| / hypot(l1[0], l1[1])   distance of (x1, y1) from its epipolar line
//   d0 = |e| / hypot(l0[0], l0[1])   distance of (x0, y0) from its epipolar line
//   Sampson distance = |e| / sqrt(l1[0]^2 + l1[1]^2 + l0[0]^2 + l0[1]^2), the first-order
//   approximation of the smallest image displacement (both pictures together) that makes the
//   pair satisfy F exactly (Hartley and Zisserman, Multiple View Geometry, 11.4.3).
// A line with zero direction (a point at an epipole) gives +infinity; non-finite input gives
// a non-finite result, never a trap.
#pragma once

#include <array>
#include <span>

#include "geometry/Correspondence.h"

namespace epipolar {

using Matrix3x3 = std::array<double, 9>;

struct EpipolarDistances {
  double d0 = 0.0;  // picture 0, pixels
  double d1 = 0.0;  // picture 1, pixels
};

EpipolarDistances epipolarDistances(const Matrix3x3& F, const Correspondence& c);

// (d0 + d1) / 2.
double symmetricEpipolarDistance(const Matrix3x3& F, const Correspondence& c);

double sampsonDistance(const Matrix3x3& F, const Correspondence& c);

// Mean of symmetricEpipolarDistance over `pairs`; NaN for none.
double meanSymmetricEpipolarDistance(const Matrix3x3& F, std::span<const Correspondence> pairs);

}  // namespace epipolar
