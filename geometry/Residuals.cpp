#include "geometry/Residuals.h"

#include <cmath>
#include <limits>

namespace epipolar {
namespace {

struct Terms {
  double e;       // x1^T F x0
  double a1, b1;  // first two components of F x0
  double a0, b0;  // first two components of F^T x1
};

Terms termsOf(const Matrix3x3& F, const Correspondence& c) {
  Terms t;
  const double l1c = F[6] * c.x0 + F[7] * c.y0 + F[8];
  t.a1 = F[0] * c.x0 + F[1] * c.y0 + F[2];
  t.b1 = F[3] * c.x0 + F[4] * c.y0 + F[5];
  t.a0 = F[0] * c.x1 + F[3] * c.y1 + F[6];
  t.b0 = F[1] * c.x1 + F[4] * c.y1 + F[7];
  t.e = t.a1 * c.x1 + t.b1 * c.y1 + l1c;
  return t;
}

// |e| / norm, with a zero norm (and a non-zero e) giving +infinity rather than a division
// trap or 0/0 = NaN for a pair sitting exactly on an epipole.
double ratio(double e, double norm) {
  if (norm == 0.0) return e == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
  return std::fabs(e) / norm;
}

}  // namespace

EpipolarDistances epipolarDistances(const Matrix3x3& F, const Correspondence& c) {
  const Terms t = termsOf(F, c);
  return {ratio(t.e, std::hypot(t.a0, t.b0)), ratio(t.e, std::hypot(t.a1, t.b1))};
}

double symmetricEpipolarDistance(const Matrix3x3& F, const Correspondence& c) {
  const EpipolarDistances d = epipolarDistances(F, c);
  return 0.5 * (d.d0 + d.d1);
}

double sampsonDistance(const Matrix3x3& F, const Correspondence& c) {
  const Terms t = termsOf(F, c);
  return ratio(t.e, std::sqrt(t.a1 * t.a1 + t.b1 * t.b1 + t.a0 * t.a0 + t.b0 * t.b0));
}

double meanSymmetricEpipolarDistance(const Matrix3x3& F, std::span<const Correspondence> pairs) {
  if (pairs.empty()) return std::numeric_limits<double>::quiet_NaN();
  double sum = 0.0;
  for (const Correspondence& c : pairs) sum += symmetricEpipolarDistance(F, c);
  return sum / static_cast<double>(pairs.size());
}

}  // namespace epipolar
