#include "geometry/SampsonRefinement.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "geometry/SmallMatrix.h"
#include "geometry/TwoViewSolvers.h"

namespace epipolar {
namespace {

using small::Mat3;

constexpr int kParameters = 7;
// A step that lowers the cost by less than this share of it ends the iteration: the
// remaining change is far below a thousandth of a pixel.
constexpr double kRelativeDecrease = 1e-8;
constexpr double kInitialDamping = 1e-4;
constexpr double kMaxDamping = 1e8;

struct NormalisedPair {
  double u0, v0, u1, v1;
};

// One pair's Sampson residual in pixels from normalised coordinates. With x_hat = s (x - c)
// the pixel lines are l1 = T1^T (Fn x0_hat) and l0 = T0^T (Fn^T x1_hat), whose first two
// components are s1 and s0 times the normalised ones, and e = x1^T F x0 is unchanged:
//   r = e / sqrt(s1^2 (a1^2 + b1^2) + s0^2 (a0^2 + b0^2)).
struct Residual {
  double r;
  double e, a1, b1, a0, b0, g;
};

inline Residual residualOf(const Mat3& F, const NormalisedPair& p, double s0sq, double s1sq) {
  Residual q;
  q.a1 = F[0] * p.u0 + F[1] * p.v0 + F[2];
  q.b1 = F[3] * p.u0 + F[4] * p.v0 + F[5];
  const double c1 = F[6] * p.u0 + F[7] * p.v0 + F[8];
  q.e = p.u1 * q.a1 + p.v1 * q.b1 + c1;
  q.a0 = F[0] * p.u1 + F[3] * p.v1 + F[6];
  q.b0 = F[1] * p.u1 + F[4] * p.v1 + F[7];
  q.g = s1sq * (q.a1 * q.a1 + q.b1 * q.b1) + s0sq * (q.a0 * q.a0 + q.b0 * q.b0);
  q.r = q.e / std::sqrt(q.g);
  return q;
}

struct State {
  Mat3 U, V;
  double sigma;
  Mat3 F() const { return small::compose(U, {1.0, sigma, 0.0}, V); }
};

class Problem {
 public:
  Problem(std::span<const Correspondence> pairs,
          const Similarity& t0,
          const Similarity& t1,
          double cutoff)
      : s0sq_(t0.s * t0.s), s1sq_(t1.s * t1.s), c2_(cutoff * cutoff) {
    points_.reserve(pairs.size());
    for (const Correspondence& c : pairs)
      points_.push_back({t0.s * (c.x0 - t0.cx),
                         t0.s * (c.y0 - t0.cy),
                         t1.s * (c.x1 - t1.cx),
                         t1.s * (c.y1 - t1.cy)});
  }

  const std::vector<NormalisedPair>& points() const { return points_; }
  // The residual and its gradient in the nine entries of F.
  std::pair<double, std::array<double, 9>> residualAndGradient(const Mat3& F,
                                                               const NormalisedPair& p) const {
    const Residual q = residualOf(F, p, s0sq_, s1sq_);
    const double k = q.e / q.g;
    const double inv = 1.0 / std::sqrt(q.g);
    const double A1 = s1sq_ * q.a1, B1 = s1sq_ * q.b1, A0 = s0sq_ * q.a0, B0 = s0sq_ * q.b0;
    return {q.r,
            {(p.u1 * p.u0 - k * (A1 * p.u0 + A0 * p.u1)) * inv,
             (p.u1 * p.v0 - k * (A1 * p.v0 + B0 * p.u1)) * inv,
             (p.u1 - k * A1) * inv,
             (p.v1 * p.u0 - k * (B1 * p.u0 + A0 * p.v1)) * inv,
             (p.v1 * p.v0 - k * (B1 * p.v0 + B0 * p.v1)) * inv,
             (p.v1 - k * B1) * inv,
             (p.u0 - k * A0) * inv,
             (p.v0 - k * B0) * inv,
             inv}};
  }

  // Gauss-Newton system in the nine entries of F: H = sum w j j^T, g = sum w j r, with
  //   j = dr/dF = (de/dF - e / (2 g) dg/dF) / sqrt(g)
  // and w the biweight's weight (1 for plain squares). The rows
  // sqrt(w) j are stored column by column and H is formed from their dot products: each of
  // its entries is then one vectorised pass instead of a memory update per pair.
  double normalEquations(const Mat3& F, std::array<double, 81>& H, std::array<double, 9>& g) const {
    const std::size_t n = points_.size();
    columns_.resize(10 * n);
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const auto [r, j] = residualAndGradient(F, points_[i]);
      double root = 0.0;
      if (std::isfinite(r)) {
        sum += loss(r * r);
        root = std::sqrt(weight(r * r));
      }
      for (int a = 0; a < 9; ++a) columns_[a * n + i] = root * j[a];
      columns_[9 * n + i] = root > 0.0 ? root * r : 0.0;
    }
    for (int a = 0; a < 9; ++a) {
      const double* ca = columns_.data() + a * n;
      for (int b = a; b < 10; ++b) {
        const double* cb = columns_.data() + b * n;
        const double dot = small::dot(ca, cb, n);
        if (b < 9) {
          H[a * 9 + b] = dot;
          H[b * 9 + a] = dot;
        } else {
          g[a] = dot;
        }
      }
    }
    return sum;
  }

 private:
  std::vector<NormalisedPair> points_;
  mutable std::vector<double> columns_;  // workspace of normalEquations
  double s0sq_, s1sq_, c2_;
  // Tukey's biweight rho(r) = c^2 / 3 (1 - (1 - r^2 / c^2)^3) for |r| < c, c^2 / 3 beyond, when a
  // cutoff c is set (its iteratively reweighted least-squares weight is (1 - r^2 / c^2)^2),
  // else plain squares. The factor 1/3 against the usual 1/6 keeps rho ~ r^2 near 0.
  double loss(double r2) const {
    if (c2_ == 0.0) return r2;
    if (r2 >= c2_) return c2_ / 3.0;
    const double u = 1.0 - r2 / c2_;
    return c2_ / 3.0 * (1.0 - u * u * u);
  }
  double weight(double r2) const {
    if (c2_ == 0.0) return 1.0;
    if (r2 >= c2_) return 0.0;
    const double u = 1.0 - r2 / c2_;
    return u * u;
  }
};

// dF/dp (9 x 7, row-major) at `state`: columns 0-2 turn U (F = U exp([w]x) S V^T), 3-5 turn V
// (F = U S (V exp([w]x))^T = U S (I - [w]x) V^T to first order), 6 moves sigma.
std::array<double, 9 * kParameters> parameterJacobian(const State& state) {
  const Mat3 S{1, 0, 0, 0, state.sigma, 0, 0, 0, 0};
  const Mat3 Vt = small::transposed(state.V);
  const Mat3 SVt = small::multiply(S, Vt);
  const Mat3 US = small::multiply(state.U, S);
  const Mat3 skew[3] = {
      {0, 0, 0, 0, 0, -1, 0, 1, 0}, {0, 0, 1, 0, 0, 0, -1, 0, 0}, {0, -1, 0, 1, 0, 0, 0, 0, 0}};
  std::array<double, 9 * kParameters> M{};
  for (int k = 0; k < 3; ++k) {
    const Mat3 du = small::multiply(state.U, small::multiply(skew[k], SVt));
    const Mat3 dv = small::multiply(small::multiply(US, skew[k]), Vt);
    for (int i = 0; i < 9; ++i) {
      M[i * kParameters + k] = du[i];
      M[i * kParameters + 3 + k] = -dv[i];
    }
  }
  const Mat3 ds = small::compose(state.U, {0.0, 1.0, 0.0}, state.V);
  for (int i = 0; i < 9; ++i) M[i * kParameters + 6] = ds[i];
  return M;
}

State step(const State& state, const std::array<double, kParameters>& delta) {
  State next;
  next.U = small::multiply(state.U, small::rotation({delta[0], delta[1], delta[2]}));
  next.V = small::multiply(state.V, small::rotation({delta[3], delta[4], delta[5]}));
  next.sigma = state.sigma + delta[6];
  return next;
}

}  // namespace

SampsonRefinement refineSampson(const Matrix3x3& F,
                                std::span<const Correspondence> pairs,
                                int maxIterations,
                                double cutoff) {
  SampsonRefinement result;
  result.F = F;
  Similarity t0, t1;
  if (pairs.size() < 8 || !normalisingSimilarity(pairs, 0, t0) ||
      !normalisingSimilarity(pairs, 1, t1)) {
    return result;
  }
  // Fn = T1^-T F T0^-1, so that x1_hat^T Fn x0_hat = x1^T F x0.
  const Mat3 Fn =
      small::multiply(small::multiply(small::transposed(t1.inverse()), F), t0.inverse());
  const small::Svd3 d = small::svd3(Fn);
  if (!(d.s[0] > 0.0) || !std::isfinite(d.s[0])) return result;
  State state{d.U, d.V, d.s[1] / d.s[0]};

  const Problem problem(pairs, t0, t1, cutoff);
  std::array<double, 81> H9, H9candidate;
  std::array<double, 9> g9, g9candidate;
  double cost = problem.normalEquations(state.F(), H9, g9);
  result.initialCost = cost;
  result.finalCost = cost;
  double lambda = kInitialDamping;
  bool fresh = true;  // H7, g7 belong to the current state
  std::array<double, kParameters * kParameters> H7{};
  std::array<double, kParameters> g7{};
  for (int iteration = 0; iteration < maxIterations && lambda < kMaxDamping;) {
    if (fresh) {
      // J_p = J_F M: H7 = M^T H9 M, g7 = M^T g9.
      const auto M = parameterJacobian(state);
      std::array<double, 9 * kParameters> HM{};
      for (int i = 0; i < 9; ++i)
        for (int b = 0; b < kParameters; ++b)
          for (int k = 0; k < 9; ++k)
            HM[i * kParameters + b] += H9[i * 9 + k] * M[k * kParameters + b];
      H7.fill(0.0);
      g7.fill(0.0);
      for (int a = 0; a < kParameters; ++a) {
        for (int i = 0; i < 9; ++i) {
          g7[a] += M[i * kParameters + a] * g9[i];
          for (int b = 0; b < kParameters; ++b)
            H7[a * kParameters + b] += M[i * kParameters + a] * HM[i * kParameters + b];
        }
      }
      for (double& v : g7) v = -v;
      fresh = false;
    }
    std::array<double, kParameters> delta{};
    if (!small::solveDamped<kParameters>(H7, lambda, g7, delta)) {
      lambda *= 10;
      continue;
    }
    // The candidate's cost comes with its normal equations: one pass over the pairs per step,
    // and steps are rarely rejected near the minimum.
    const State candidate = step(state, delta);
    const double candidateCost = problem.normalEquations(candidate.F(), H9candidate, g9candidate);
    if (!(candidateCost < cost)) {
      lambda *= 10;
      continue;
    }
    const double decrease = cost - candidateCost;
    state = candidate;
    cost = candidateCost;
    H9 = H9candidate;
    g9 = g9candidate;
    fresh = true;
    ++iteration;
    result.iterations = iteration;
    lambda = std::max(lambda / 10, 1e-12);
    if (decrease <= kRelativeDecrease * (cost + decrease)) break;
  }
  result.finalCost = cost;
  const Mat3 pixels =
      small::multiply(small::multiply(small::transposed(t1.matrix()), state.F()), t0.matrix());
  const double norm = small::frobeniusNorm(pixels);
  if (norm > 0.0 && std::isfinite(norm)) {
    for (int i = 0; i < 9; ++i) result.F[i] = pixels[i] / norm;
  }
  return result;
}

std::vector<double> leverages(const Matrix3x3& F, std::span<const Correspondence> pairs) {
  std::vector<double> result(pairs.size(), std::numeric_limits<double>::infinity());
  Similarity t0, t1;
  if (pairs.size() < 8 || !normalisingSimilarity(pairs, 0, t0) ||
      !normalisingSimilarity(pairs, 1, t1))
    return result;
  const Mat3 Fn =
      small::multiply(small::multiply(small::transposed(t1.inverse()), F), t0.inverse());
  const small::Svd3 d = small::svd3(Fn);
  if (!(d.s[0] > 0.0) || !std::isfinite(d.s[0])) return result;
  const State state{d.U, d.V, d.s[1] / d.s[0]};
  const Mat3 Fs = state.F();
  const auto M = parameterJacobian(state);
  const Problem problem(pairs, t0, t1, 0.0);
  std::vector<std::array<double, kParameters>> rows;
  std::vector<double> residuals;
  std::array<double, kParameters * kParameters> H{};
  for (const NormalisedPair& p : problem.points()) {
    const auto [r, j] = problem.residualAndGradient(Fs, p);
    std::array<double, kParameters> q{};
    for (int a = 0; a < kParameters; ++a)
      for (int i = 0; i < 9; ++i) q[a] += j[i] * M[i * kParameters + a];
    for (int a = 0; a < kParameters; ++a)
      for (int b = 0; b < kParameters; ++b) H[a * kParameters + b] += q[a] * q[b];
    rows.push_back(q);
    residuals.push_back(r);
  }
  // h = q^T H^-1 q = |L^-1 q|^2 with H = L L^T.
  std::array<double, kParameters * kParameters> L;
  if (!small::cholesky<kParameters>(H, {}, L)) return result;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (!std::isfinite(residuals[k])) continue;
    std::array<double, kParameters> y;
    double h = 0.0;
    for (int i = 0; i < kParameters; ++i) {
      double sum = rows[k][i];
      for (int j = 0; j < i; ++j) sum -= L[i * kParameters + j] * y[j];
      y[i] = sum / L[i * kParameters + i];
      h += y[i] * y[i];
    }
    result[k] = h;
  }
  return result;
}

}  // namespace epipolar
