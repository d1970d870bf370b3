#include "geometry/ClassicEstimator.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "log/DebugStream.h"

namespace epipolar {

int ransacRunLimit(double inlierFraction, int count) {
  const double cap =
      std::max(static_cast<double>(kMinRunCap), std::floor(kRunWorkBound / std::max(count, 64)));
  const double denominator = std::log(1.0 - std::pow(inlierFraction, kSampleSize));
  const double quotient = std::log(1.0 - kConfidence) / denominator;
  // ln(1 - w^8) is 0 when w^8 vanishes against 1, and the quotient overflows any int for
  // small w: both mean "more runs than we can afford".
  if (!(denominator < 0.0) || !std::isfinite(quotient) || quotient >= cap) {
    return static_cast<int>(cap);
  }
  return static_cast<int>(quotient);  // truncation toward zero
}

int ClassicRunLimit::afterImprovement(int inliers, int n) {
  // 1 - e rather than inliers / n: the limit must be computed from the same bits as always.
  const double outlierFraction = 1.0 - static_cast<double>(inliers) / n;
  return outlierFraction > 0 ? ransacRunLimit(1.0 - outlierFraction, n) : 1;
}

bool isBetterRun(const EpipolarErrorResult& run, const EpipolarErrorResult& best) {
  return run.inliers > best.inliers || (run.inliers == best.inliers && run.error < best.error);
}

namespace {

using Mat3 = Matrix3x3;

// The fixed-size arithmetic below repeats Matrix's operation order exactly (each element a sum
// from 0.0 in index order), so the models are bit-identical to the reference ones.
Mat3 multiply(const Mat3& a, const Mat3& b) {
  Mat3 result;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += a[i * 3 + k] * b[k * 3 + j];
      result[i * 3 + j] = sum;
    }
  }
  return result;
}

Mat3 transposed(const Mat3& m) { return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]}; }

// m * (x, y, 1).
std::array<double, 3> applyToPoint(const double* m, double x, double y) {
  std::array<double, 3> result;
  for (int i = 0; i < 3; ++i) {
    double sum = 0.0;
    sum += m[i * 3 + 0] * x;
    sum += m[i * 3 + 1] * y;
    sum += m[i * 3 + 2] * 1.0;
    result[i] = sum;
  }
  return result;
}

}  // namespace

Matrix3x3 normalisingTransform(std::span<const Correspondence> records, int camera) {
  const size_t taken = std::min<size_t>(records.size(), kSampleSize);
  auto pointOf = [camera](const Correspondence& c) {
    return camera == 0 ? std::pair(c.x0, c.y0) : std::pair(c.x1, c.y1);
  };
  double sumX = 0.0;
  double sumY = 0.0;
  for (size_t k = 0; k < taken; ++k) {
    const auto [x, y] = pointOf(records[k]);
    sumX += x;
    sumY += y;
  }
  // The sums are scaled by 1/8 whatever the number taken.
  const double cx = 0.125 * sumX;
  const double cy = 0.125 * sumY;
  double sumDistance = 0.0;
  for (size_t k = 0; k < taken; ++k) {
    const auto [x, y] = pointOf(records[k]);
    sumDistance += std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
  }
  const double d = 0.125 * sumDistance;
  // Coincident points give d = 0 and a non-finite s; the model built from it scores no inliers.
  const double s = std::sqrt(2.0) / d;
  return {s, 0.0, -s * cx, 0.0, s, -s * cy, 0.0, 0.0, 1.0};
}

namespace {

struct GslMatrixDeleter {
  void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
};
struct GslVectorDeleter {
  void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};
using GslMatrix = std::unique_ptr<gsl_matrix, GslMatrixDeleter>;
using GslVector = std::unique_ptr<gsl_vector, GslVectorDeleter>;

// One square decomposition with its GSL storage allocated once and reused by every run.
// Produces what Matrix::svd produces for the same input, sign rule included, without the
// per-call allocations and element-wise copies.
class SquareSvd {
 public:
  explicit SquareSvd(size_t n)
      : n_(n),
        a_(gsl_matrix_alloc(n, n)),
        v_(gsl_matrix_alloc(n, n)),
        s_(gsl_vector_alloc(n)),
        work_(gsl_vector_alloc(n)) {}

  bool ok() const { return a_ && v_ && s_ && work_; }
  // Row-major input, filled by the caller before decompose().
  double* input() { return a_->data; }
  // Fails only on GSL errors, which Matrix::svd also reports and answers with zeros.
  bool decompose() { return gsl_linalg_SV_decomp(a_.get(), v_.get(), s_.get(), work_.get()) == 0; }
  // U, V and S after decompose(), with the last two columns of U and V negated.
  double u(size_t i, size_t j) const { return signed_(a_->data[i * a_->tda + j], j); }
  double v(size_t i, size_t j) const { return signed_(v_->data[i * v_->tda + j], j); }
  double s(size_t j) const { return s_->data[j * s_->stride]; }

 private:
  double signed_(double x, size_t j) const { return j + 2 < n_ ? x : -x; }

  size_t n_;
  GslMatrix a_;
  GslMatrix v_;
  GslVector s_;
  GslVector work_;
};

// x mod d for 32-bit x and d > 0 without a division instruction (Lemire, Kaser and Kurz,
// "Faster remainder by direct computation", 2019): exact for every 32-bit x, so the samples are
// those of the % operator. Two hundred draws per run make the division noticeable.
inline std::uint32_t remainderBy(std::uint32_t x, std::uint64_t d, std::uint64_t reciprocal) {
  const std::uint64_t low = reciprocal * x;
  return static_cast<std::uint32_t>((static_cast<unsigned __int128>(low) * d) >> 64);
}

}  // namespace

ShuffleSampler::ShuffleSampler(std::span<const Correspondence> correspondences,
                               RandSequence& random)
    : random_(random),
      work_(correspondences.begin(), correspondences.end()),
      n_(correspondences.size()),
      reciprocal_(UINT64_MAX / std::max<std::uint64_t>(n_, 1) + 1) {}

void ShuffleSampler::draw(std::array<Correspondence, kSampleSize>& sample) {
  std::array<std::pair<std::uint32_t, std::uint32_t>, kSwapsPerSample> swaps;
  for (auto& [a, b] : swaps) {
    a = remainderBy(static_cast<std::uint32_t>(random_.next()), n_, reciprocal_);
    b = remainderBy(static_cast<std::uint32_t>(random_.next()), n_, reciprocal_);
    std::swap(work_[a], work_[b]);
  }
  std::copy_n(work_.begin(), kSampleSize, sample.begin());
  for (auto it = swaps.rbegin(); it != swaps.rend(); ++it)
    std::swap(work_[it->first], work_[it->second]);
}

struct NormalisedEightPoint::Decompositions {
  SquareSvd design{9};
  SquareSvd rank2{3};
};

NormalisedEightPoint::NormalisedEightPoint() : svd_(std::make_unique<Decompositions>()) {}
NormalisedEightPoint::~NormalisedEightPoint() = default;

bool NormalisedEightPoint::ok() const { return svd_->design.ok() && svd_->rank2.ok(); }

int NormalisedEightPoint::fit(const std::array<Correspondence, kSampleSize>& sample,
                              std::array<ClassicModel, kMaxModels>& models) {
  ClassicModel& model = models[0];
  model.T0 = normalisingTransform(sample, 0);
  model.T1 = normalisingTransform(sample, 1);

  // Each normalised pair gives one row of the linear system x'^T Fn x = 0 in the nine
  // entries of Fn.
  double* A = svd_->design.input();
  for (int k = 0; k < kSampleSize; ++k) {
    const auto p = applyToPoint(model.T0.data(), sample[k].x0, sample[k].y0);
    const auto q = applyToPoint(model.T1.data(), sample[k].x1, sample[k].y1);
    const double x = p[0], y = p[1], xp = q[0], yp = q[1];
    double* row = A + k * 9;
    row[0] = xp * x;
    row[1] = xp * y;
    row[2] = xp;
    row[3] = yp * x;
    row[4] = yp * y;
    row[5] = yp;
    row[6] = x;
    row[7] = y;
    row[8] = 1.0;
  }
  std::fill(A + 8 * 9, A + 9 * 9, 0.0);
  Mat3 Fn{};
  if (svd_->design.decompose()) {
    for (size_t k = 0; k < 9; ++k) Fn[k] = svd_->design.v(k, 8);
  }

  // Rank 2: drop the smallest singular value, scale so the largest is 1.
  std::copy(Fn.begin(), Fn.end(), svd_->rank2.input());
  Mat3 U{};
  Mat3 V{};
  std::array<double, 3> S{};
  if (svd_->rank2.decompose()) {
    for (size_t i = 0; i < 3; ++i) {
      for (size_t j = 0; j < 3; ++j) {
        U[i * 3 + j] = svd_->rank2.u(i, j);
        V[i * 3 + j] = svd_->rank2.v(i, j);
      }
      S[i] = svd_->rank2.s(i);
    }
  }
  S[2] = 0.0;
  const double largest = S[0];
  for (double& value : S) value /= largest;
  const Mat3 D{S[0], 0.0, 0.0, 0.0, S[1], 0.0, 0.0, 0.0, S[2]};
  const Mat3 rank2 = multiply(multiply(U, D), transposed(V));
  // Back to pixels: F = T1^T * Fn * T0.
  model.F = multiply(multiply(transposed(model.T1), rank2), model.T0);
  return 1;
}

namespace {

// |l . (px, py, 1)| for the line l = M (qx, qy, 1) scaled by its full norm.
double normalisedLineResidual(const double* M, double qx, double qy, double px, double py) {
  std::array<double, 3> l = applyToPoint(M, qx, qy);
  double squares = 0.0;
  for (double v : l) squares += v * v;
  const double norm = std::sqrt(squares);
  for (double& v : l) v /= norm;
  return std::fabs(l[0] * px + l[1] * py + l[2]);
}

// Both residuals of two correspondences at once, lane by lane with the same IEEE operations in
// the same order as epipolarErrorReference, so every value is bit-identical.
#if defined(__SSE2__)
struct Residuals2 {
  double d1[2];
  double d0[2];
};

inline __m128d lineComponent(const double* row, __m128d x, __m128d y) {
  __m128d sum = _mm_setzero_pd();
  sum = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(row[0]), x));
  sum = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(row[1]), y));
  sum = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(row[2]), _mm_set1_pd(1.0)));
  return sum;
}

inline __m128d residual(const double* M, __m128d qx, __m128d qy, __m128d px, __m128d py) {
  __m128d a = lineComponent(M, qx, qy);
  __m128d b = lineComponent(M + 3, qx, qy);
  __m128d c = lineComponent(M + 6, qx, qy);
  __m128d squares = _mm_setzero_pd();
  squares = _mm_add_pd(squares, _mm_mul_pd(a, a));
  squares = _mm_add_pd(squares, _mm_mul_pd(b, b));
  squares = _mm_add_pd(squares, _mm_mul_pd(c, c));
  const __m128d norm = _mm_sqrt_pd(squares);
  a = _mm_div_pd(a, norm);
  b = _mm_div_pd(b, norm);
  c = _mm_div_pd(c, norm);
  const __m128d d = _mm_add_pd(_mm_add_pd(_mm_mul_pd(a, px), _mm_mul_pd(b, py)), c);
  return _mm_andnot_pd(_mm_set1_pd(-0.0), d);
}
#endif

}  // namespace

EpipolarErrorResult epipolarError(const Matrix3x3& F,
                                  std::span<const Correspondence> correspondences) {
  const Mat3 Ft = transposed(F);
  double sum = 0.0;
  int inliers = 0;
  auto count = [&](double d0, double d1) {
    // Non-finite residuals fail the comparisons, so a degenerate model counts nothing.
    if (d1 < kInlierThreshold && d0 < kInlierThreshold) {
      ++inliers;
      // Left to right, (sum + d0^2) + d1^2: the last bits of the mean, and with them the
      // tie-breaks between runs, depend on this order.
      sum = sum + d0 * d0 + d1 * d1;
    }
  };
  size_t k = 0;
#if defined(__SSE2__)
  for (; k + 1 < correspondences.size(); k += 2) {
    const Correspondence& p = correspondences[k];
    const Correspondence& q = correspondences[k + 1];
    const __m128d x0 = _mm_set_pd(q.x0, p.x0);
    const __m128d y0 = _mm_set_pd(q.y0, p.y0);
    const __m128d x1 = _mm_set_pd(q.x1, p.x1);
    const __m128d y1 = _mm_set_pd(q.y1, p.y1);
    Residuals2 r;
    _mm_storeu_pd(r.d1, residual(F.data(), x0, y0, x1, y1));
    _mm_storeu_pd(r.d0, residual(Ft.data(), x1, y1, x0, y0));
    count(r.d0[0], r.d1[0]);
    count(r.d0[1], r.d1[1]);
  }
#endif
  for (; k < correspondences.size(); ++k) {
    const Correspondence& c = correspondences[k];
    count(normalisedLineResidual(Ft.data(), c.x1, c.y1, c.x0, c.y0),
          normalisedLineResidual(F.data(), c.x0, c.y0, c.x1, c.y1));
  }
  if (inliers == 0) return {std::numeric_limits<double>::infinity(), 0};
  return {sum / inliers, inliers};
}

NormalisedLineScorer::Score NormalisedLineScorer::worst() {
  return {std::numeric_limits<double>::infinity(), 0};
}

std::vector<bool> NormalisedLineScorer::inlierMask(const Matrix3x3& F,
                                                   std::span<const Correspondence> data) {
  const Mat3 Ft = transposed(F);
  std::vector<bool> mask(data.size());
  for (size_t k = 0; k < data.size(); ++k) {
    const Correspondence& c = data[k];
    mask[k] = normalisedLineResidual(F.data(), c.x0, c.y0, c.x1, c.y1) < kInlierThreshold &&
              normalisedLineResidual(Ft.data(), c.x1, c.y1, c.x0, c.y0) < kInlierThreshold;
  }
  return mask;
}

void ClassicRunLog::start(int limit) { logLine("trying ", limit, " runs"); }

// Writes "Run i: Error: e, with k inliers". The text is formatted with to_chars, which gives
// exactly what the stream's default format gives (%.6g for the double, decimal integers) at a
// fraction of the cost; the loop writes one such line per run.
void ClassicRunLog::model(int run, const EpipolarErrorResult& score) {
  char line[128];
  char* out = line;
  char* const end = line + sizeof line;
  auto text = [&](std::string_view part) { out = std::copy(part.begin(), part.end(), out); };
  text("Run ");
  out = std::to_chars(out, end, run).ptr;
  text(": Error: ");
  out = std::to_chars(out, end, score.error, std::chars_format::general, 6).ptr;
  text(", with ");
  out = std::to_chars(out, end, score.inliers).ptr;
  text(" inliers");
  logLine(std::string_view(line, out - line));
}

void ClassicRunLog::end(const EpipolarErrorResult& best) {
  logLine("Best error: ", best.error, ", with ", best.inliers, " inliers");
}

RansacResult<ClassicModel, EpipolarErrorResult> estimateClassic(
    std::span<const Correspondence> correspondences, RandSequence& random) {
  RansacResult<ClassicModel, EpipolarErrorResult> none;
  none.score = NormalisedLineScorer::worst();
  // Callers check for eight correspondences; fewer cannot give a model (and none would make
  // the sample draw divide by zero).
  if (correspondences.size() < static_cast<size_t>(kSampleSize)) return none;

  ClassicRunLog log;
  NormalisedEightPoint solver;
  if (!solver.ok()) {
    // GSL has logged the allocation failure.
    log.start(ClassicRunLimit::initial(static_cast<int>(correspondences.size())));
    return none;
  }
  ShuffleSampler sampler(correspondences, random);
  NormalisedLineScorer scorer;
  ClassicRunLimit runLimit;
  NoLocalOptimisation noLocalOptimisation;
  return ransac(correspondences, sampler, solver, scorer, runLimit, log, noLocalOptimisation);
}

}  // namespace epipolar
