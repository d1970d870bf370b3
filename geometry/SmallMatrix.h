// Fixed-size dense linear algebra for the accurate estimator: row-major std::array matrices,
// a symmetric eigensolver, a 3x3 singular value decomposition, a damped Cholesky solve and
// the real roots of a cubic. No allocation, no shared state, deterministic.
//
// Failure behaviour: non-finite input gives non-finite output, never a trap or an endless
// loop (every iteration is bounded).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace epipolar::small {

using Mat3 = std::array<double, 9>;
using Vec3 = std::array<double, 3>;

// sum a[i] b[i] over n entries, in four partial sums: independent chains the processor
// overlaps.
inline double dot(const double* a, const double* b, std::size_t n) {
  double partial[4] = {0.0, 0.0, 0.0, 0.0};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (int k = 0; k < 4; ++k) partial[k] += a[i + k] * b[i + k];
  for (; i < n; ++i) partial[0] += a[i] * b[i];
  return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

inline Mat3 multiply(const Mat3& a, const Mat3& b) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
  return r;
}

inline Mat3 transposed(const Mat3& m) {
  return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}

inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

inline double determinant(const Mat3& m) {
  return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
         m[2] * (m[3] * m[7] - m[4] * m[6]);
}

inline double frobeniusNorm(const Mat3& m) {
  double sum = 0.0;
  for (double v : m) sum += v * v;
  return std::sqrt(sum);
}

// Rotation by the vector w (axis w / |w|, angle |w|), Rodrigues' formula.
inline Mat3 rotation(const Vec3& w) {
  const double angle = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  if (angle < 1e-300) return {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double x = w[0] / angle, y = w[1] / angle, z = w[2] / angle;
  const double c = std::cos(angle), s = std::sin(angle), C = 1 - c;
  return {x * x * C + c,
          x * y * C - z * s,
          x * z * C + y * s,
          y * x * C + z * s,
          y * y * C + c,
          y * z * C - x * s,
          z * x * C - y * s,
          z * y * C + x * s,
          z * z * C + c};
}

// Eigen-decomposition of the symmetric N x N matrix `a` by cyclic Jacobi rotations: on return
// a * vectors[:, k] = values[k] * vectors[:, k], values unsorted, vectors orthonormal columns.
// Jacobi keeps small eigenvalues accurate relative to the matrix norm, which is what the null
// vector of a least-squares design needs.
template <int N>
void symmetricEigen(std::array<double, N * N> a,
                    std::array<double, N>& values,
                    std::array<double, N * N>& vectors) {
  vectors.fill(0.0);
  for (int k = 0; k < N; ++k) vectors[k * N + k] = 1.0;
  for (int sweep = 0; sweep < 60; ++sweep) {
    double off = 0.0, diagonal = 0.0;
    for (int p = 0; p < N; ++p) {
      diagonal += a[p * N + p] * a[p * N + p];
      for (int q = p + 1; q < N; ++q) off += a[p * N + q] * a[p * N + q];
    }
    if (!(off > 1e-32 * diagonal)) break;  // also ends on NaN
    for (int p = 0; p < N; ++p) {
      for (int q = p + 1; q < N; ++q) {
        const double apq = a[p * N + q];
        if (apq == 0.0) continue;
        // Rotation in the (p, q) plane that zeroes a_pq: t = tan(phi) is the smaller root of
        // t^2 + 2 theta t - 1 = 0.
        const double theta = (a[q * N + q] - a[p * N + p]) / (2.0 * apq);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::hypot(theta, 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < N; ++k) {
          const double akp = a[k * N + p], akq = a[k * N + q];
          a[k * N + p] = c * akp - s * akq;
          a[k * N + q] = s * akp + c * akq;
        }
        for (int k = 0; k < N; ++k) {
          const double apk = a[p * N + k], aqk = a[q * N + k];
          a[p * N + k] = c * apk - s * aqk;
          a[q * N + k] = s * apk + c * aqk;
        }
        for (int k = 0; k < N; ++k) {
          const double vkp = vectors[k * N + p], vkq = vectors[k * N + q];
          vectors[k * N + p] = c * vkp - s * vkq;
          vectors[k * N + q] = s * vkp + c * vkq;
        }
      }
    }
  }
  for (int k = 0; k < N; ++k) values[k] = a[k * N + k];
}

// Cholesky factor L (lower triangular, L L^T = a + diag(shift)) of a symmetric matrix. False
// when the shifted matrix is not positive definite.
template <int N>
bool cholesky(const std::array<double, N * N>& a,
              const std::array<double, N>& shift,
              std::array<double, N * N>& L) {
  L.fill(0.0);
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j <= i; ++j) {
      double sum = a[i * N + j] + (i == j ? shift[i] : 0.0);
      for (int k = 0; k < j; ++k) sum -= L[i * N + k] * L[j * N + k];
      if (i == j) {
        if (!(sum > 0.0)) return false;
        L[i * N + i] = std::sqrt(sum);
      } else {
        L[i * N + j] = sum / L[j * N + j];
      }
    }
  }
  return true;
}

// x with L L^T x = b, for L from cholesky.
template <int N>
std::array<double, N> choleskySolve(const std::array<double, N * N>& L,
                                    const std::array<double, N>& b) {
  std::array<double, N> x;
  for (int i = 0; i < N; ++i) {
    double sum = b[i];
    for (int k = 0; k < i; ++k) sum -= L[i * N + k] * x[k];
    x[i] = sum / L[i * N + i];
  }
  for (int i = N - 1; i >= 0; --i) {
    double sum = x[i];
    for (int k = i + 1; k < N; ++k) sum -= L[k * N + i] * x[k];
    x[i] = sum / L[i * N + i];
  }
  return x;
}

// Unit eigenvector of the smallest eigenvalue of the symmetric positive semi-definite matrix
// `a` (a normal matrix A^T A). Inverse iteration on a Cholesky factor of a + mu I, mu a
// rounding-level shift that keeps the factorisation possible without moving the eigenvectors:
// each step multiplies the wanted component's share by lambda_2 / lambda_1, so a few steps
// do what a Jacobi eigen-decomposition does in a fifth of the time. Falls back to Jacobi when
// the factorisation fails or the iteration does not settle. `start`, when given, is the first
// iterate: an estimate of the answer makes one or two steps enough.
template <int N>
std::array<double, N> smallestEigenvector(const std::array<double, N * N>& a,
                                          const std::array<double, N>* start = nullptr) {
  double trace = 0.0;
  for (int k = 0; k < N; ++k) trace += a[k * N + k];
  std::array<double, N> shift;
  shift.fill(1e-13 * trace);
  std::array<double, N * N> L;
  if (trace > 0.0 && std::isfinite(trace) && cholesky<N>(a, shift, L)) {
    std::array<double, N> v;
    v.fill(1.0 / std::sqrt(static_cast<double>(N)));
    if (start) {
      double norm = 0.0;
      for (double x : *start) norm += x * x;
      norm = std::sqrt(norm);
      if (norm > 0.0 && std::isfinite(norm))
        for (int i = 0; i < N; ++i) v[i] = (*start)[i] / norm;
    }
    for (int iteration = 0; iteration < 60; ++iteration) {
      std::array<double, N> w = choleskySolve<N>(L, v);
      double norm = 0.0, dot = 0.0;
      for (int i = 0; i < N; ++i) norm += w[i] * w[i];
      norm = std::sqrt(norm);
      if (!(norm > 0.0) || !std::isfinite(norm)) break;
      for (int i = 0; i < N; ++i) {
        w[i] /= norm;
        dot += w[i] * v[i];
      }
      double change = 0.0;
      const double sign = dot < 0 ? -1.0 : 1.0;
      for (int i = 0; i < N; ++i) change = std::max(change, std::fabs(w[i] - sign * v[i]));
      v = w;
      if (change < 1e-14) return v;
    }
  }
  std::array<double, N> values;
  std::array<double, N * N> vectors;
  symmetricEigen<N>(a, values, vectors);
  int smallest = 0;
  for (int k = 1; k < N; ++k)
    if (values[k] < values[smallest]) smallest = k;
  std::array<double, N> v;
  for (int k = 0; k < N; ++k) v[k] = vectors[k * N + smallest];
  return v;
}

// m = U * diag(s) * V^T with s[0] >= s[1] >= |s[2]| and U, V rotations (determinant +1), so
// s[2] carries the sign of det m.
struct Svd3 {
  Mat3 U{};
  Vec3 s{};
  Mat3 V{};
};

inline Svd3 svd3(const Mat3& m) {
  // V and s^2 from m^T m; U's first two columns from m * v / s, the third completes a right
  // hand. Accurate enough here: the two largest singular values of a fundamental matrix are of
  // one order, and the third is dropped or is the one being measured against them.
  const Mat3 mtm = multiply(transposed(m), m);
  std::array<double, 3> values;
  Mat3 vectors;
  symmetricEigen<3>(mtm, values, vectors);
  std::array<int, 3> order{0, 1, 2};
  std::sort(order.begin(), order.end(), [&](int a, int b) { return values[a] > values[b]; });
  Svd3 r;
  Vec3 v[3];
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 3; ++i) v[k][i] = vectors[i * 3 + order[k]];
    r.s[k] = std::sqrt(std::max(values[order[k]], 0.0));
  }
  v[2] = cross(v[0], v[1]);
  Vec3 u[3];
  for (int k = 0; k < 2; ++k) {
    Vec3 mv{};
    for (int i = 0; i < 3; ++i)
      mv[i] = m[i * 3] * v[k][0] + m[i * 3 + 1] * v[k][1] + m[i * 3 + 2] * v[k][2];
    const double norm = std::sqrt(mv[0] * mv[0] + mv[1] * mv[1] + mv[2] * mv[2]);
    for (int i = 0; i < 3; ++i) u[k][i] = norm > 0 ? mv[i] / norm : (i == k ? 1.0 : 0.0);
  }
  // Re-orthogonalise the second column against the first (m v1 is orthogonal to m v0 only up
  // to rounding), then complete.
  const double d = u[0][0] * u[1][0] + u[0][1] * u[1][1] + u[0][2] * u[1][2];
  for (int i = 0; i < 3; ++i) u[1][i] -= d * u[0][i];
  const double n1 = std::sqrt(u[1][0] * u[1][0] + u[1][1] * u[1][1] + u[1][2] * u[1][2]);
  for (int i = 0; i < 3; ++i) u[1][i] /= n1;
  u[2] = cross(u[0], u[1]);
  // s[2] from the completed columns, u2 . m v2: 0 for an exact rank-2 m, negative when
  // det m < 0 (U and V stay rotations).
  double m2 = 0.0;
  for (int i = 0; i < 3; ++i)
    m2 += u[2][i] * (m[i * 3] * v[2][0] + m[i * 3 + 1] * v[2][1] + m[i * 3 + 2] * v[2][2]);
  r.s[2] = m2;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) {
      r.U[i * 3 + k] = u[k][i];
      r.V[i * 3 + k] = v[k][i];
    }
  return r;
}

// U * diag(s) * V^T.
inline Mat3 compose(const Mat3& U, const Vec3& s, const Mat3& V) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[i * 3 + j] += U[i * 3 + k] * s[k] * V[j * 3 + k];
  return r;
}

// Solves (A + lambda * diag(A)) x = b for the symmetric positive semi-definite N x N matrix A
// (Marquardt's damping). False when the damped matrix is not positive definite.
template <int N>
bool solveDamped(const std::array<double, N * N>& A,
                 double lambda,
                 const std::array<double, N>& b,
                 std::array<double, N>& x) {
  std::array<double, N> shift;
  for (int i = 0; i < N; ++i) shift[i] = lambda * A[i * N + i];
  std::array<double, N * N> L;
  if (!cholesky<N>(A, shift, L)) return false;
  x = choleskySolve<N>(L, b);
  return true;
}

// Real roots of c3 a^3 + c2 a^2 + c1 a + c0 (a cubic, or a quadratic when c3 vanishes against
// the other coefficients), each polished by Newton steps. Returns how many were written.
inline int realCubicRoots(
    double c3, double c2, double c1, double c0, std::array<double, 3>& roots) {
  const double scale = std::max({std::fabs(c3), std::fabs(c2), std::fabs(c1), std::fabs(c0)});
  if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
  int count = 0;
  if (std::fabs(c3) < 1e-12 * scale) {
    if (std::fabs(c2) < 1e-12 * scale) {
      if (std::fabs(c1) < 1e-12 * scale) return 0;
      roots[count++] = -c0 / c1;
    } else {
      const double disc = c1 * c1 - 4 * c2 * c0;
      if (disc < 0) return 0;
      // The form that avoids cancellation between -c1 and the root.
      const double q = -0.5 * (c1 + (c1 >= 0 ? 1.0 : -1.0) * std::sqrt(disc));
      roots[count++] = q / c2;
      if (q != 0.0) roots[count++] = c0 / q;
    }
  } else {
    // Depressed cubic t^3 + p t + q = 0 with a = t - A/3.
    const double A = c2 / c3, B = c1 / c3, C = c0 / c3;
    const double p = B - A * A / 3.0;
    const double q = 2.0 * A * A * A / 27.0 - A * B / 3.0 + C;
    const double disc = q * q / 4.0 + p * p * p / 27.0;
    if (disc > 0) {
      const double root = std::sqrt(disc);
      roots[count++] = std::cbrt(-q / 2.0 + root) + std::cbrt(-q / 2.0 - root) - A / 3.0;
    } else {
      const double r = std::sqrt(std::max(-p / 3.0, 0.0));
      const double cosine = r > 0 ? std::clamp(-q / (2.0 * r * r * r), -1.0, 1.0) : 0.0;
      const double phi = std::acos(cosine);
      for (int k = 0; k < 3; ++k)
        roots[count++] = 2.0 * r * std::cos((phi + 2.0 * M_PI * k) / 3.0) - A / 3.0;
    }
  }
  for (int k = 0; k < count; ++k) {
    double a = roots[k];
    for (int step = 0; step < 2; ++step) {
      const double value = ((c3 * a + c2) * a + c1) * a + c0;
      const double slope = (3 * c3 * a + 2 * c2) * a + c1;
      if (slope == 0.0) break;
      const double next = a - value / slope;
      if (!std::isfinite(next)) break;
      a = next;
    }
    roots[k] = a;
  }
  return count;
}

}  // namespace epipolar::small
