// Test helper: compares two matrices (or any equal-length arrays) that are defined only up to
// a non-zero scale, such as fundamental matrices and null vectors.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

namespace epipolar::testing {

// Largest entry difference of a and b after scaling both to unit norm, with b's sign chosen
// to match a's. +infinity when the lengths differ or either is all zeros.
inline double differenceUpToScale(std::span<const double> a, std::span<const double> b) {
  if (a.size() != b.size()) return std::numeric_limits<double>::infinity();
  double na = 0.0, nb = 0.0, dot = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    na += a[k] * a[k];
    nb += b[k] * b[k];
    dot += a[k] * b[k];
  }
  if (!(na > 0.0) || !(nb > 0.0)) return std::numeric_limits<double>::infinity();
  const double sign = dot < 0 ? -1.0 : 1.0;
  double worst = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k)
    worst = std::max(worst, std::fabs(a[k] / std::sqrt(na) - sign * b[k] / std::sqrt(nb)));
  return worst;
}

}  // namespace epipolar::testing
