#include "geometry/TwoViewSolvers.h"

#include <cmath>
#include <limits>
#include <vector>

#include "geometry/SmallMatrix.h"

namespace epipolar {
namespace {

using small::Mat3;

// Row of x1^T F x0 = 0 in the nine entries of row-major F.
std::array<double, 9> epipolarRow(double x, double y, double xp, double yp) {
  return {xp * x, xp * y, xp, yp * x, yp * y, yp, x, y, 1.0};
}

// Null space of the R x 9 matrix `a` (R < 9) of full row rank by Gauss-Jordan elimination
// with partial pivoting over the first R columns: one vector per free column R..8. False when
// a pivot vanishes against the matrix, that is for a rank-deficient (degenerate) system.
template <int R>
bool nullSpace(std::array<std::array<double, 9>, R> a,
               std::array<std::array<double, 9>, 9 - R>& null) {
  double largest = 0.0;
  for (const auto& row : a) {
    for (double v : row) {
      if (!std::isfinite(v)) return false;
      largest = std::max(largest, std::fabs(v));
    }
  }
  if (!(largest > 0.0)) return false;
  // Forward elimination to upper triangular form. The row updates run over all nine columns
  // (the eliminated ones are zero and stay so): fixed-length loops the compiler vectorises.
  for (int col = 0; col < R; ++col) {
    int pivot = col;
    for (int r = col + 1; r < R; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (!(std::fabs(a[pivot][col]) > 1e-10 * largest)) return false;
    if (pivot != col) std::swap(a[col], a[pivot]);
    const double inverse = 1.0 / a[col][col];
    for (int r = col + 1; r < R; ++r) {
      const double factor = a[r][col] * inverse;
      for (int k = 0; k < 9; ++k) a[r][k] -= factor * a[col][k];
    }
  }
  // Back substitution with free column R + f set to 1 and the other free ones to 0.
  for (int f = 0; f < 9 - R; ++f) {
    auto& v = null[f];
    v.fill(0.0);
    v[R + f] = 1.0;
    for (int i = R - 1; i >= 0; --i) {
      double sum = 0.0;
      for (int k = 0; k < 9; ++k) sum += a[i][k] * v[k];
      v[i] = -sum / a[i][i];
    }
  }
  return true;
}

// Back to pixels: F = T1^T Fn T0.
Mat3 denormaliseFundamental(const Mat3& Fn, const Similarity& t0, const Similarity& t1) {
  return small::multiply(small::multiply(small::transposed(t1.matrix()), Fn), t0.matrix());
}

Mat3 nearestRank2(const Mat3& m) {
  small::Svd3 d = small::svd3(m);
  d.s[2] = 0.0;
  return small::compose(d.U, d.s, d.V);
}

}  // namespace

bool normalisingSimilarity(std::span<const Correspondence> pairs, int picture, Similarity& t) {
  double sx = 0.0, sy = 0.0;
  for (const Correspondence& c : pairs) {
    sx += picture == 0 ? c.x0 : c.x1;
    sy += picture == 0 ? c.y0 : c.y1;
  }
  const double count = static_cast<double>(pairs.size());
  t.cx = sx / count;
  t.cy = sy / count;
  double distance = 0.0;
  for (const Correspondence& c : pairs)
    distance += picture == 0
                    ? std::sqrt((c.x0 - t.cx) * (c.x0 - t.cx) + (c.y0 - t.cy) * (c.y0 - t.cy))
                    : std::sqrt((c.x1 - t.cx) * (c.x1 - t.cx) + (c.y1 - t.cy) * (c.y1 - t.cy));
  distance /= count;
  t.s = std::sqrt(2.0) / distance;
  return std::isfinite(t.s) && distance > 0.0;
}

namespace {

// The oriented epipolar constraint (Chum, Werner and Matas, "Epipolar geometry estimation via
// RANSAC benefits from the oriented epipolar constraint", 2004): for points in front of both
// cameras, (e1 x x1) . (F x0) has one sign over all pairs, e1 the epipole in picture 1
// (F^T e1 = 0). A model whose sample breaks it cannot be the true one.
bool orientationConsistent(const Mat3& F, const std::array<Correspondence, 7>& pairs) {
  // e1 is orthogonal to F's columns: the largest cross product of two of them.
  const small::Vec3 c0{F[0], F[3], F[6]}, c1{F[1], F[4], F[7]}, c2{F[2], F[5], F[8]};
  small::Vec3 e = small::cross(c0, c1);
  double best = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
  for (const small::Vec3& candidate : {small::cross(c0, c2), small::cross(c1, c2)}) {
    const double norm =
        candidate[0] * candidate[0] + candidate[1] * candidate[1] + candidate[2] * candidate[2];
    if (norm > best) {
      best = norm;
      e = candidate;
    }
  }
  int positive = 0, negative = 0;
  for (const Correspondence& c : pairs) {
    const small::Vec3 v = small::cross(e, {c.x1, c.y1, 1.0});
    const double side = v[0] * (F[0] * c.x0 + F[1] * c.y0 + F[2]) +
                        v[1] * (F[3] * c.x0 + F[4] * c.y0 + F[5]) +
                        v[2] * (F[6] * c.x0 + F[7] * c.y0 + F[8]);
    positive += side > 0;
    negative += side < 0;
  }
  return positive == 0 || negative == 0;
}

}  // namespace

int fitFundamentalSevenPoint(const std::array<Correspondence, 7>& pairs,
                             std::array<Matrix3x3, 3>& models) {
  std::array<std::array<double, 9>, 7> a;
  for (int k = 0; k < 7; ++k)
    a[k] = epipolarRow(pairs[k].x0, pairs[k].y0, pairs[k].x1, pairs[k].y1);
  std::array<std::array<double, 9>, 2> null;
  if (!nullSpace<7>(a, null)) return 0;
  const Mat3& F1 = null[0];
  const Mat3& F2 = null[1];
  // det(F2 + a (F1 - F2)) = c3 a^3 + c2 a^2 + c1 a + c0, from its values at a = 0, 1, -1, 2.
  auto detAt = [&](double x) {
    Mat3 m;
    for (int k = 0; k < 9; ++k) m[k] = F2[k] + x * (F1[k] - F2[k]);
    return small::determinant(m);
  };
  const double p0 = detAt(0), p1 = detAt(1), pm1 = detAt(-1), p2 = detAt(2);
  const double c0 = p0;
  const double c2 = 0.5 * (p1 + pm1) - c0;
  const double odd = 0.5 * (p1 - pm1);  // c3 + c1
  const double c3 = (p2 - 4 * c2 - c0 - 2 * odd) / 6.0;
  const double c1 = odd - c3;
  std::array<double, 3> roots;
  const int count = small::realCubicRoots(c3, c2, c1, c0, roots);
  int written = 0;
  for (int k = 0; k < count; ++k) {
    Mat3& F = models[written];
    for (int i = 0; i < 9; ++i) F[i] = F2[i] + roots[k] * (F1[i] - F2[i]);
    if (orientationConsistent(F, pairs)) ++written;
  }
  return written;
}

bool fitFundamentalEightPoint(const std::array<Correspondence, 8>& pairs, Matrix3x3& F) {
  std::array<std::array<double, 9>, 8> a;
  for (int k = 0; k < 8; ++k)
    a[k] = epipolarRow(pairs[k].x0, pairs[k].y0, pairs[k].x1, pairs[k].y1);
  std::array<std::array<double, 9>, 1> null;
  if (!nullSpace<8>(a, null)) return false;
  F = nearestRank2(null[0]);
  return true;
}

bool fitFundamentalLeastSquares(std::span<const Correspondence> pairs,
                                std::span<const double> weights,
                                Matrix3x3& F,
                                const Matrix3x3* guess) {
  if (pairs.size() < 8 || (!weights.empty() && weights.size() != pairs.size())) return false;
  Similarity t0, t1;
  if (!normalisingSimilarity(pairs, 0, t0) || !normalisingSimilarity(pairs, 1, t1)) return false;
  // Normal matrix sum w^2 a a^T from the columns of the weighted design matrix: each entry is
  // one dot product with its partial sums in registers, not a memory update per pair.
  const std::size_t m = pairs.size();
  std::vector<double> columns(9 * m);
  for (std::size_t k = 0; k < m; ++k) {
    const Correspondence& c = pairs[k];
    const auto row = epipolarRow(
        t0.s * (c.x0 - t0.cx), t0.s * (c.y0 - t0.cy), t1.s * (c.x1 - t1.cx), t1.s * (c.y1 - t1.cy));
    const double w = weights.empty() ? 1.0 : weights[k];
    for (int i = 0; i < 9; ++i) columns[i * m + k] = w * row[i];
  }
  std::array<double, 81> normal{};
  for (int i = 0; i < 9; ++i) {
    for (int j = i; j < 9; ++j) {
      const double dot = small::dot(columns.data() + i * m, columns.data() + j * m, m);
      normal[i * 9 + j] = dot;
      normal[j * 9 + i] = dot;
    }
  }
  std::array<double, 9> start;
  if (guess) {
    // The guess in normalised coordinates: x1_hat^T (T1^-T G T0^-1) x0_hat = x1^T G x0.
    start = small::multiply(small::multiply(small::transposed(t1.inverse()), *guess), t0.inverse());
  }
  const std::array<double, 9> f = small::smallestEigenvector<9>(normal, guess ? &start : nullptr);
  const Mat3 rank2 = nearestRank2(f);
  Mat3 pixels = denormaliseFundamental(rank2, t0, t1);
  const double norm = small::frobeniusNorm(pixels);
  if (!(norm > 0.0) || !std::isfinite(norm)) return false;
  for (int i = 0; i < 9; ++i) F[i] = pixels[i] / norm;
  return true;
}

namespace {

// Two rows of x1 x (H x0) = 0 in the nine entries of row-major H.
void homographyRows(double x, double y, double xp, double yp, double* r1, double* r2) {
  const double a[9] = {0, 0, 0, -x, -y, -1, yp * x, yp * y, yp};
  const double b[9] = {x, y, 1, 0, 0, 0, -xp * x, -xp * y, -xp};
  std::copy(a, a + 9, r1);
  std::copy(b, b + 9, r2);
}

bool finishHomography(const Mat3& Hn, const Similarity& t0, const Similarity& t1, Matrix3x3& H) {
  // Back to pixels: H = T1^-1 Hn T0.
  const Mat3 pixels = small::multiply(small::multiply(t1.inverse(), Hn), t0.matrix());
  const double norm = small::frobeniusNorm(pixels);
  if (!(norm > 0.0) || !std::isfinite(norm)) return false;
  for (int i = 0; i < 9; ++i) H[i] = pixels[i] / norm;
  return true;
}

}  // namespace

bool fitHomographyFourPoint(const std::array<Correspondence, 4>& pairs, Matrix3x3& H) {
  Similarity t0, t1;
  if (!normalisingSimilarity(pairs, 0, t0) || !normalisingSimilarity(pairs, 1, t1)) return false;
  std::array<std::array<double, 9>, 8> a;
  for (int k = 0; k < 4; ++k) {
    const Correspondence& c = pairs[k];
    homographyRows(t0.s * (c.x0 - t0.cx),
                   t0.s * (c.y0 - t0.cy),
                   t1.s * (c.x1 - t1.cx),
                   t1.s * (c.y1 - t1.cy),
                   a[2 * k].data(),
                   a[2 * k + 1].data());
  }
  std::array<std::array<double, 9>, 1> null;
  if (!nullSpace<8>(a, null)) return false;
  return finishHomography(null[0], t0, t1, H);
}

bool fitHomographyLeastSquares(std::span<const Correspondence> pairs, Matrix3x3& H) {
  if (pairs.size() < 4) return false;
  Similarity t0, t1;
  if (!normalisingSimilarity(pairs, 0, t0) || !normalisingSimilarity(pairs, 1, t1)) return false;
  std::array<double, 81> normal{};
  for (const Correspondence& c : pairs) {
    double rows[2][9];
    homographyRows(t0.s * (c.x0 - t0.cx),
                   t0.s * (c.y0 - t0.cy),
                   t1.s * (c.x1 - t1.cx),
                   t1.s * (c.y1 - t1.cy),
                   rows[0],
                   rows[1]);
    for (const auto& row : rows)
      for (int i = 0; i < 9; ++i)
        for (int j = i; j < 9; ++j) normal[i * 9 + j] += row[i] * row[j];
  }
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < i; ++j) normal[i * 9 + j] = normal[j * 9 + i];
  return finishHomography(small::smallestEigenvector<9>(normal), t0, t1, H);
}

Matrix3x3 inverse3x3(const Matrix3x3& m) {
  const Mat3 adjugate{m[4] * m[8] - m[5] * m[7],
                      m[2] * m[7] - m[1] * m[8],
                      m[1] * m[5] - m[2] * m[4],
                      m[5] * m[6] - m[3] * m[8],
                      m[0] * m[8] - m[2] * m[6],
                      m[2] * m[3] - m[0] * m[5],
                      m[3] * m[7] - m[4] * m[6],
                      m[1] * m[6] - m[0] * m[7],
                      m[0] * m[4] - m[1] * m[3]};
  const double det = m[0] * adjugate[0] + m[1] * adjugate[3] + m[2] * adjugate[6];
  Matrix3x3 r;
  for (int k = 0; k < 9; ++k) r[k] = adjugate[k] / det;
  return r;
}

double homographyTransferError2(const Matrix3x3& H,
                                const Matrix3x3& Hinverse,
                                const Correspondence& c) {
  auto transfer = [](const Matrix3x3& M, double x, double y, double tx, double ty) {
    const double w = M[6] * x + M[7] * y + M[8];
    if (w == 0.0) return std::numeric_limits<double>::infinity();
    const double u = (M[0] * x + M[1] * y + M[2]) / w - tx;
    const double v = (M[3] * x + M[4] * y + M[5]) / w - ty;
    return u * u + v * v;
  };
  const double forward = transfer(H, c.x0, c.y0, c.x1, c.y1);
  const double backward = transfer(Hinverse, c.x1, c.y1, c.x0, c.y0);
  if (std::isnan(forward) || std::isnan(backward)) return std::numeric_limits<double>::quiet_NaN();
  return std::max(forward, backward);
}

}  // namespace epipolar
