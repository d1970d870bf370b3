#include "geometry/FundamentalReference.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace epipolar {

std::vector<Correspondence> shuffledSampleReference(std::span<const Correspondence> correspondences,
                                                    RandSequence& random) {
  std::vector<Correspondence> records(correspondences.begin(), correspondences.end());
  const unsigned n = static_cast<unsigned>(records.size());
  if (n == 0) return records;
  for (int swap = 0; swap < kSwapsPerSample; ++swap) {
    const unsigned a = static_cast<unsigned>(random.next()) % n;
    const unsigned b = static_cast<unsigned>(random.next()) % n;
    std::swap(records[a], records[b]);
  }
  return records;
}

Matrix normalisingTransformReference(std::span<const Correspondence> records, int camera) {
  const Matrix3x3 t = normalisingTransform(records, camera);
  Matrix T(3, 3);
  T.setIdentity();
  T(0, 0) = t[0];
  T(0, 2) = t[2];
  T(1, 1) = t[4];
  T(1, 2) = t[5];
  return T;
}

Matrix eightPointReference(const std::vector<VectorPair>& pairs) {
  // Each pair gives one row of the linear system x'^T F x = 0 in the nine entries of F.
  Matrix A(9, 9);
  const int used = std::min<int>(static_cast<int>(pairs.size()), kSampleSize);
  for (int k = 0; k < used; ++k) {
    const double x = pairs[k].first[0];
    const double y = pairs[k].first[1];
    const double xp = pairs[k].second[0];
    const double yp = pairs[k].second[1];
    const double row[9] = {xp * x, xp * y, xp, yp * x, yp * y, yp, x, y, 1.0};
    std::copy(row, row + 9, A.data() + k * 9);
  }
  Matrix U;
  Vector S;
  Matrix V;
  A.svd(U, S, V);
  const Vector f = V.column(8);
  Matrix Fn(f.data(), 3, 3);
  // Enforce rank 2: drop the smallest singular value, scale so the largest is 1.
  Fn.svd(U, S, V);
  S[2] = 0.0;
  const double largest = S[0];
  for (int k = 0; k < S.count(); ++k) S[k] /= largest;
  Fn.composeSvd(U, S, V);
  return Fn;
}

EpipolarErrorResult epipolarErrorReference(const Matrix& F,
                                           std::span<const Correspondence> correspondences) {
  if (F.rows() != 3 || F.cols() != 3) {
    // Only a 3x3 F maps points to lines; the products of any other are not lines at all.
    return {std::numeric_limits<double>::infinity(), 0};
  }
  const Matrix Ft = F.transpose();
  double sum = 0.0;
  int inliers = 0;
  for (const Correspondence& c : correspondences) {
    Vector l1 = F * homogeneousPoint(c.x0, c.y0);
    const double n1 = l1.norm();
    for (int k = 0; k < 3; ++k) l1[k] /= n1;
    const double d1 = std::fabs(l1[0] * c.x1 + l1[1] * c.y1 + l1[2]);
    Vector l0 = Ft * homogeneousPoint(c.x1, c.y1);
    const double n0 = l0.norm();
    for (int k = 0; k < 3; ++k) l0[k] /= n0;
    const double d0 = std::fabs(l0[0] * c.x0 + l0[1] * c.y0 + l0[2]);
    // Non-finite residuals fail the comparisons, so a degenerate model counts nothing.
    if (d1 < kInlierThreshold && d0 < kInlierThreshold) {
      ++inliers;
      sum = sum + d0 * d0 + d1 * d1;
    }
  }
  if (inliers == 0) return {std::numeric_limits<double>::infinity(), 0};
  return {sum / inliers, inliers};
}

}  // namespace epipolar
