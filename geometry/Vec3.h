// Three-vectors and 3x3 matrices of doubles for scene geometry: world points and directions
// in metres, rotations, intrinsic matrices and homographies in pixels.
//
// Value types without allocation. Every operation evaluates its terms in the written order
// (x, then y, then z; sums left to right), so code built without fused multiply-adds
// (EPIPOLAR_EXACT_ARITHMETIC, cmake/Epipolar.cmake) gives the same bits under any other flags:
// the virtual rig's pictures stay byte-identical. Mat3 is row-major: m[i][j] is row i,
// column j.
//
// Failure behaviour: none is detected. normalized() of the zero vector and inverse() of a
// singular matrix give non-finite components.
// Threads: plain values.
#pragma once

#include <array>
#include <cmath>

namespace epipolar {

struct Vec3 {
  double x = 0, y = 0, z = 0;

  // Component i: 0 is x, 1 is y, 2 is z.
  constexpr double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
  constexpr double& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }

  friend constexpr Vec3 operator+(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
  }
  friend constexpr Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
  }
  friend constexpr Vec3 operator*(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
  friend constexpr Vec3 operator*(double s, const Vec3& a) { return a * s; }
  friend constexpr bool operator==(const Vec3&, const Vec3&) = default;
};

constexpr double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

constexpr Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }

// a scaled by 1 / |a|.
inline Vec3 normalized(const Vec3& a) { return a * (1.0 / norm(a)); }

struct Mat3 {
  Vec3 rows[3];

  constexpr const Vec3& operator[](int i) const { return rows[i]; }
  constexpr Vec3& operator[](int i) { return rows[i]; }

  // From nine entries in row-major order, and back.
  static constexpr Mat3 fromRowMajor(const std::array<double, 9>& m) {
    return {{{m[0], m[1], m[2]}, {m[3], m[4], m[5]}, {m[6], m[7], m[8]}}};
  }
  constexpr std::array<double, 9> rowMajor() const {
    const Vec3(&r)[3] = rows;
    return {r[0].x, r[0].y, r[0].z, r[1].x, r[1].y, r[1].z, r[2].x, r[2].y, r[2].z};
  }

  friend constexpr Vec3 operator*(const Mat3& m, const Vec3& v) {
    return {dot(m[0], v), dot(m[1], v), dot(m[2], v)};
  }
  // Each entry is a sum started from +0.0, so an all-zero sum is +0, never -0.
  friend constexpr Mat3 operator*(const Mat3& a, const Mat3& b) {
    Mat3 c{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
    return c;
  }
  friend constexpr bool operator==(const Mat3&, const Mat3&) = default;
};

constexpr Mat3 transposed(const Mat3& a) {
  Mat3 t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[i][j] = a[j][i];
  return t;
}

// The adjugate divided by the determinant (cofactor expansion along the first row).
constexpr Mat3 inverse(const Mat3& m) {
  const Mat3 adjugate = {{cross(m[1], m[2]), cross(m[2], m[0]), cross(m[0], m[1])}};
  const double det = dot(m[0], adjugate[0]);
  Mat3 result = transposed(adjugate);
  for (Vec3& row : result.rows) row = row * (1.0 / det);
  return result;
}

}  // namespace epipolar
