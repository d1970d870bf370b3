// Test helper: two pinhole cameras with random intrinsics and relative pose, looking at points
// 4 to 8 units in front of camera 0, imaged at about 640x480 (pixels, origin top-left, y
// down). Gives exact and noisy correspondences, the true F (unit Frobenius norm, x1^T F x0 = 0)
// and the pixel error of an estimated F on fresh noise-free pairs. Deterministic per seed.
#pragma once

#include <array>
#include <cmath>
#include <random>
#include <utility>

#include "geometry/Correspondence.h"
#include "geometry/Matrix.h"
#include "geometry/Residuals.h"

namespace epipolar::testing {

class SyntheticRig {
 public:
  explicit SyntheticRig(unsigned seed) : rng_(seed) {
    const Matrix K0 = intrinsics();
    const Matrix K1 = intrinsics();
    const double angle = uniform(-0.25, 0.25);
    const double ax = uniform(-0.3, 0.3);
    const double ay = 1.0;
    const double az = uniform(-0.3, 0.3);
    const double len = std::sqrt(ax * ax + ay * ay + az * az);
    R_ = rotation(ax / len, ay / len, az / len, angle);
    t_ = {
        uniform(0.5, 1.0) * (uniform(0, 1) < 0.5 ? -1 : 1), uniform(-0.2, 0.2), uniform(-0.2, 0.2)};
    const Matrix cross = matrix3({0, -t_[2], t_[1], t_[2], 0, -t_[0], -t_[1], t_[0], 0});
    K0_ = K0;
    K1_ = K1;
    F_ = inverse(K1).transpose() * cross * R_ * inverse(K0);
    const double scale = frobenius(F_);
    for (int k = 0; k < 9; ++k) F_.data()[k] /= scale;
  }

  const Matrix& F() const { return F_; }
  Matrix3x3 trueF() const {
    Matrix3x3 f;
    std::copy(F_.data(), F_.data() + 9, f.begin());
    return f;
  }

  // The pair showing the point X (camera 0's frame, in front of both cameras).
  Correspondence pairOf(const std::array<double, 3>& X) const {
    double X1[3];
    for (int i = 0; i < 3; ++i) X1[i] = R_(i, 0) * X[0] + R_(i, 1) * X[1] + R_(i, 2) * X[2] + t_[i];
    const auto [x0, y0] = project(K0_, X.data());
    const auto [x1, y1] = project(K1_, X1);
    return {x0, y0, x1, y1};
  }

  Correspondence exact() {
    for (;;) {
      const std::array<double, 3> X = {uniform(-2, 2), uniform(-1.5, 1.5), uniform(4, 8)};
      double depth1 = t_[2];
      for (int i = 0; i < 3; ++i) depth1 += R_(2, i) * X[i];
      if (depth1 < 1.0) continue;
      return pairOf(X);
    }
  }

  // An exact pair with Gaussian noise of `sigma` pixels on each coordinate.
  Correspondence noisy(double sigma = 0.3) {
    Correspondence c = exact();
    std::normal_distribution<double> noise(0.0, sigma);
    c.x0 += noise(rng_);
    c.y0 += noise(rng_);
    c.x1 += noise(rng_);
    c.y1 += noise(rng_);
    return c;
  }

  // Mean symmetric epipolar distance in pixels of `F` on fresh noise-free pairs.
  double pixelError(const Matrix& F, int samples = 200) {
    Matrix3x3 f;
    std::copy(F.data(), F.data() + 9, f.begin());
    return pixelError(f, samples);
  }
  double pixelError(const Matrix3x3& F, int samples = 200) {
    double sum = 0.0;
    for (int k = 0; k < samples; ++k) sum += symmetricEpipolarDistance(F, exact());
    return sum / samples;
  }

  double uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng_);
  }

 private:
  static Matrix matrix3(std::initializer_list<double> values) {
    return Matrix(values.begin(), 3, 3);
  }
  Matrix intrinsics() {
    const double f = uniform(400, 900);
    return matrix3({f, 0, uniform(300, 340), 0, f, uniform(220, 260), 0, 0, 1});
  }
  static Matrix inverse(const Matrix& K) {
    const double f = K(0, 0);
    return matrix3({1 / f, 0, -K(0, 2) / f, 0, 1 / f, -K(1, 2) / f, 0, 0, 1});
  }
  static Matrix rotation(double x, double y, double z, double a) {
    const double c = std::cos(a), s = std::sin(a), C = 1 - c;
    return matrix3({x * x * C + c,
                    x * y * C - z * s,
                    x * z * C + y * s,
                    y * x * C + z * s,
                    y * y * C + c,
                    y * z * C - x * s,
                    z * x * C - y * s,
                    z * y * C + x * s,
                    z * z * C + c});
  }
  static std::pair<double, double> project(const Matrix& K, const double* X) {
    return {K(0, 0) * X[0] / X[2] + K(0, 2), K(1, 1) * X[1] / X[2] + K(1, 2)};
  }
  static double frobenius(const Matrix& m) {
    double sum = 0.0;
    for (int k = 0; k < 9; ++k) sum += m.data()[k] * m.data()[k];
    return std::sqrt(sum);
  }

  std::mt19937 rng_;
  Matrix K0_, K1_, R_, F_;
  std::array<double, 3> t_{};
};

}  // namespace epipolar::testing
