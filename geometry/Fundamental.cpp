#include "geometry/Fundamental.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "log/DebugStream.h"

namespace epipolar {

RandSequence::RandSequence() {
  // Let the C library lay out and warm up the table, then step it here.
  random_data data{};
  alignas(std::int32_t) char state[128]{};
  initstate_r(1, state, sizeof state, &data);
  const std::int32_t* table = data.state;
  for (int k = 0; k < kDegree; ++k) table_[k] = static_cast<std::uint32_t>(table[k]);
  front_ = static_cast<int>(data.fptr - table);
  rear_ = static_cast<int>(data.rptr - table);
}

namespace {
std::mutex& processRandMutex() {
  static std::mutex mutex;
  return mutex;
}
}  // namespace

RandSequence& processRandSequence() {
  static RandSequence sequence;
  return sequence;
}

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

std::vector<Correspondence> shuffledSample(std::span<const Correspondence> correspondences,
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

namespace {

using Mat3 = std::array<double, 9>;

// The fixed-size arithmetic below repeats Matrix's operation order exactly (each element a sum
// from 0.0 in index order), so the fast loop produces bit-identical models.
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

Mat3 normalisingTransformOf(std::span<const Correspondence> records, int camera) {
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

void assign3x3(Matrix& target, const Mat3& m) {
  if (target.rows() != 3 || target.cols() != 3) target = Matrix(3, 3);
  std::copy(m.begin(), m.end(), target.data());
}

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

class FastEightPoint {
 public:
  FastEightPoint() : design_(9), rank2_(3) {}
  bool ok() const { return design_.ok() && rank2_.ok(); }

  // `points` are the eight normalised pairs (x, y, x', y').
  Mat3 fit(const std::array<std::array<double, 4>, kSampleSize>& points) {
    double* A = design_.input();
    for (int k = 0; k < kSampleSize; ++k) {
      const auto [x, y, xp, yp] = points[k];
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
    if (design_.decompose()) {
      for (size_t k = 0; k < 9; ++k) Fn[k] = design_.v(k, 8);
    }

    std::copy(Fn.begin(), Fn.end(), rank2_.input());
    Mat3 U{};
    Mat3 V{};
    std::array<double, 3> S{};
    if (rank2_.decompose()) {
      for (size_t i = 0; i < 3; ++i) {
        for (size_t j = 0; j < 3; ++j) {
          U[i * 3 + j] = rank2_.u(i, j);
          V[i * 3 + j] = rank2_.v(i, j);
        }
        S[i] = rank2_.s(i);
      }
    }
    S[2] = 0.0;
    const double largest = S[0];
    for (double& value : S) value /= largest;
    const Mat3 D{S[0], 0.0, 0.0, 0.0, S[1], 0.0, 0.0, 0.0, S[2]};
    return multiply(multiply(U, D), transposed(V));
  }

 private:
  SquareSvd design_;
  SquareSvd rank2_;
};

// x mod d for 32-bit x and d > 0 without a division instruction (Lemire, Kaser and Kurz,
// "Faster remainder by direct computation", 2019): exact for every 32-bit x, so the samples are
// those of the % operator. Two hundred draws per run make the division noticeable.
class RemainderBy {
 public:
  explicit RemainderBy(std::uint32_t d) : d_(d), m_(UINT64_MAX / d + 1) {}
  std::uint32_t operator()(std::uint32_t x) const {
    const std::uint64_t low = m_ * x;
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(low) * d_) >> 64);
  }

 private:
  std::uint64_t d_;
  std::uint64_t m_;
};

// Writes "Run i: Error: e, with k inliers" as one unit. The text is formatted with to_chars,
// which gives exactly what the stream's default format gives (%.6g for the double, decimal
// integers) at a fraction of the cost; the loop writes one such line per run.
void logRun(std::ostream& log, int run, const EpipolarErrorResult& result) {
  char line[128];
  char* out = line;
  char* const end = line + sizeof line;
  auto text = [&](std::string_view part) { out = std::copy(part.begin(), part.end(), out); };
  text("Run ");
  out = std::to_chars(out, end, run).ptr;
  text(": Error: ");
  out = std::to_chars(out, end, result.error, std::chars_format::general, 6).ptr;
  text(", with ");
  out = std::to_chars(out, end, result.inliers).ptr;
  text(" inliers\n");
  log.write(line, out - line);
  log.flush();
}

}  // namespace

bool isBetterRun(const EpipolarErrorResult& run, const EpipolarErrorResult& best) {
  return run.inliers > best.inliers || (run.inliers == best.inliers && run.error < best.error);
}

Matrix normalisingTransform(std::span<const Correspondence> records, int camera) {
  const Mat3 t = normalisingTransformOf(records, camera);
  Matrix T(3, 3);
  T.setIdentity();
  T(0, 0) = t[0];
  T(0, 2) = t[2];
  T(1, 1) = t[4];
  T(1, 2) = t[5];
  return T;
}

Matrix eightPoint(const std::vector<VectorPair>& pairs) {
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

EpipolarErrorResult epipolarError(const Matrix& F,
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
    if (d1 < inlierThreshold && d0 < inlierThreshold) {
      ++inliers;
      // Left to right, (sum + d0^2) + d1^2: the last bits of the mean, and with them the
      // tie-breaks between runs, depend on this order.
      sum = sum + d0 * d0 + d1 * d1;
    }
  }
  if (inliers == 0) return {std::numeric_limits<double>::infinity(), 0};
  return {sum / inliers, inliers};
}

namespace {

// Both residuals of two correspondences at once, lane by lane with the same IEEE operations in
// the same order as epipolarError, so every value is bit-identical.
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

// |l . (px, py, 1)| for the line l = M (qx, qy, 1) scaled by its full norm.
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

EpipolarErrorResult epipolarErrorFast(const std::array<double, 9>& F,
                                      std::span<const Correspondence> correspondences) {
  const std::array<double, 9> Ft = transposed(F);
  double sum = 0.0;
  int inliers = 0;
  auto count = [&](double d0, double d1) {
    if (d1 < inlierThreshold && d0 < inlierThreshold) {
      ++inliers;
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
    auto residualOf = [](const double* M, double qx, double qy, double px, double py) {
      std::array<double, 3> l = applyToPoint(M, qx, qy);
      double squares = 0.0;
      for (double v : l) squares += v * v;
      const double norm = std::sqrt(squares);
      for (double& v : l) v /= norm;
      return std::fabs(l[0] * px + l[1] * py + l[2]);
    };
    count(residualOf(Ft.data(), c.x1, c.y1, c.x0, c.y0),
          residualOf(F.data(), c.x0, c.y0, c.x1, c.y1));
  }
  if (inliers == 0) return {std::numeric_limits<double>::infinity(), 0};
  return {sum / inliers, inliers};
}

void estimateFundamental(std::span<const Correspondence> correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F,
                         RandSequence& random) {
  const int n = static_cast<int>(correspondences.size());
  // Callers check for eight correspondences; fewer cannot give a model (and none would make
  // the sample draw divide by zero).
  if (n < kSampleSize) return;

  std::ostream& log = DebugStream.stream();
  int runLimit = ransacRunLimit(kAssumedInlierFraction, n);
  log << "trying " << runLimit << " runs";
  log.put('\n');
  log.flush();

  FastEightPoint solver;
  if (!solver.ok()) return;  // GSL has logged the allocation failure

  // The shuffle works on one persistent copy and undoes its swaps after reading the sample,
  // which leaves exactly the first eight records a fresh shuffled copy would have.
  std::vector<Correspondence> work(correspondences.begin(), correspondences.end());
  std::array<std::pair<std::uint32_t, std::uint32_t>, kSwapsPerSample> swaps;
  std::array<Correspondence, kSampleSize> sample;
  std::array<std::array<double, 4>, kSampleSize> normalised;

  int bestInliers = 0;
  double bestError = std::numeric_limits<double>::infinity();
  int run = 0;
  const RemainderBy count(static_cast<std::uint32_t>(n));
  do {
    for (auto& [a, b] : swaps) {
      a = count(static_cast<std::uint32_t>(random.next()));
      b = count(static_cast<std::uint32_t>(random.next()));
      std::swap(work[a], work[b]);
    }
    std::copy_n(work.begin(), kSampleSize, sample.begin());
    for (auto it = swaps.rbegin(); it != swaps.rend(); ++it)
      std::swap(work[it->first], work[it->second]);

    const Mat3 t0 = normalisingTransformOf(sample, 0);
    const Mat3 t1 = normalisingTransformOf(sample, 1);
    // Only the sample's eight normalised pairs feed the fit.
    for (int k = 0; k < kSampleSize; ++k) {
      const auto p0 = applyToPoint(t0.data(), sample[k].x0, sample[k].y0);
      const auto p1 = applyToPoint(t1.data(), sample[k].x1, sample[k].y1);
      normalised[k] = {p0[0], p0[1], p1[0], p1[1]};
    }
    const Mat3 fn = solver.fit(normalised);
    // Back to pixels: F = T1^T * Fn * T0.
    const Mat3 model = multiply(multiply(transposed(t1), fn), t0);
    const EpipolarErrorResult result = epipolarErrorFast(model, correspondences);
    logRun(log, run, result);

    if (isBetterRun(result, {bestError, bestInliers})) {
      assign3x3(F, model);
      assign3x3(T0, t0);
      assign3x3(T1, t1);
      bestError = result.error;
      bestInliers = result.inliers;
      const double outlierFraction = 1.0 - static_cast<double>(result.inliers) / n;
      runLimit = outlierFraction > 0 ? ransacRunLimit(1.0 - outlierFraction, n) : 1;
    }
    ++run;
  } while (run < runLimit);

  log << "Best error: " << bestError << ", with " << bestInliers << " inliers";
  log.put('\n');
  log.flush();
}

void estimateFundamental(std::span<const Correspondence> correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F) {
  std::lock_guard lock(processRandMutex());
  estimateFundamental(correspondences, T0, T1, F, processRandSequence());
}

void estimateFundamental(const std::list<Correspondence>& correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F) {
  const std::vector<Correspondence> records(correspondences.begin(), correspondences.end());
  estimateFundamental(std::span<const Correspondence>(records), T0, T1, F);
}

}  // namespace epipolar
