// The ZNCC search along an epipolar line, and the window helpers it shares with the click
// refinement.
//
// Speed: the candidates are whole pixels in a band around the line, so the work is one
// window correlation per candidate (about 50 candidates per column for a 20 px band). The
// samples B needs are converted once into planes laid out along the walk, so that the
// candidates of one step of the walk sit in consecutive floats and every template sample is
// one multiply-add over all of them (vectorised). The window sums and sums of squares that
// the normalisation needs come from per-row running sums, so they cost a few adds per
// candidate instead of a window's worth.
#include "geometry/ZnccSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "geometry/ZnccInternal.h"

namespace epipolar {
namespace detail {

int nearestPixel(double coordinate) {
  constexpr double kFar = 1 << 28;
  if (std::isnan(coordinate)) return -(1 << 28);
  return static_cast<int>(std::lround(std::clamp(coordinate, -kFar, kFar)));
}

// Subtracts a channel's mean (sum / n) from its n samples and adds their squares to norm2,
// one by one, so the total is summed in the same order over all channels.
void centreChannel(float* values, int n, double sum, double& norm2) {
  const double mean = sum / n;
  for (int k = 0; k < n; ++k) {
    values[k] = static_cast<float>(values[k] - mean);
    norm2 += static_cast<double>(values[k]) * values[k];
  }
}

// A template is worth comparing only when it deviates from flat by more than kFlatDeviation
// per sample on average.
bool isTextured(double norm2, int n, int channels) {
  return norm2 > static_cast<double>(n) * channels * kFlatDeviation * kFlatDeviation;
}

ZnccTemplate makeZnccTemplate(const Image& a, int cx, int cy, const ZnccSettings& settings) {
  ZnccTemplate t;
  t.cx = cx;
  t.cy = cy;
  t.colour = settings.colour;
  t.channels = channelCount(settings);
  if (!a.contains(cx, cy)) return t;
  const int half = std::max(settings.windowSize, 1) / 2;
  t.ulo = std::max(-half, -cx);
  t.uhi = std::min(half, a.width - 1 - cx);
  t.vlo = std::max(-half, -cy);
  t.vhi = std::min(half, a.height - 1 - cy);
  const int n = t.samples();
  t.values.resize(static_cast<std::size_t>(n) * t.channels);
  double norm2 = 0.0;
  for (int c = 0; c < t.channels; ++c) {
    float* values = t.values.data() + static_cast<std::size_t>(c) * n;
    double sum = 0.0;
    for (int v = t.vlo, k = 0; v <= t.vhi; ++v) {
      for (int u = t.ulo; u <= t.uhi; ++u, ++k) {
        values[k] = sampleAt(a, cx + u, cy + v, c, t.colour);
        sum += values[k];
      }
    }
    centreChannel(values, n, sum, norm2);
  }
  t.norm2 = norm2;
  t.textured = isTextured(norm2, n, t.channels);
  return t;
}

double znccAt(const ZnccTemplate& t, const Image& b, int x, int y) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  if (!t.textured || x + t.ulo < 0 || y + t.vlo < 0 || x + t.uhi >= b.width ||
      y + t.vhi >= b.height) {
    return kNaN;
  }
  const int n = t.samples();
  double cross = 0.0, variance = 0.0;
  for (int c = 0; c < t.channels; ++c) {
    double sum = 0.0, sum2 = 0.0;
    for (int v = t.vlo; v <= t.vhi; ++v) {
      for (int u = t.ulo; u <= t.uhi; ++u) {
        const double s = sampleAt(b, x + u, y + v, c, t.colour);
        sum += s;
        sum2 += s * s;
        cross += t.at(c, u, v) * s;
      }
    }
    variance += sum2 - sum * sum / n;
  }
  if (!(variance > static_cast<double>(n) * t.channels * kFlatDeviation * kFlatDeviation)) {
    return kNaN;
  }
  return cross / std::sqrt(t.norm2 * variance);
}

std::array<double, 2> quadraticPeakOffset(const std::array<std::array<double, 3>, 3>& s) {
  bool finite = true;
  for (const auto& row : s)
    for (double value : row) finite = finite && std::isfinite(value);
  if (finite) {
    // Least-squares quadric c0 + gx x + gy y + (hxx x^2 + 2 hxy x y + hyy y^2) / 2 over the
    // 3x3 grid: each coefficient is a fixed combination of the nine values.
    double gx = 0, gy = 0, hxx = 0, hyy = 0;
    for (int k = 0; k < 3; ++k) {
      gx += s[k][2] - s[k][0];
      gy += s[2][k] - s[0][k];
      hxx += s[k][0] + s[k][2] - 2.0 * s[k][1];
      hyy += s[0][k] + s[2][k] - 2.0 * s[1][k];
    }
    gx /= 6.0;
    gy /= 6.0;
    hxx /= 3.0;
    hyy /= 3.0;
    const double hxy = (s[2][2] - s[2][0] - s[0][2] + s[0][0]) / 4.0;
    const double det = hxx * hyy - hxy * hxy;
    if (hxx < 0.0 && det > 0.0) {
      // The stationary point -H^-1 g of a negative definite quadric.
      const double dx = -(hyy * gx - hxy * gy) / det;
      const double dy = -(hxx * gy - hxy * gx) / det;
      if (std::fabs(dx) <= 1.0 && std::fabs(dy) <= 1.0) return {dx, dy};
    }
  }
  // Parabola through f(-1), f(0), f(1): vertex at (f(-1) - f(1)) / (2 (f(-1) - 2 f(0) + f(1))).
  auto axis = [](double before, double centre, double after) {
    const double curvature = before - 2.0 * centre + after;
    if (!std::isfinite(curvature) || !(curvature < 0.0)) return 0.0;
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
  };
  return {axis(s[1][0], s[1][1], s[1][2]), axis(s[0][1], s[1][1], s[2][1])};
}

namespace {

// One step of the walk: the candidates at walking index `outer` and inner positions
// [lo, hi]. Along columns the outer index is x and the inner one y; along rows the reverse.
struct Step {
  int outer;
  int lo;
  int hi;
};

// B's samples for the walk, laid out by walking index (a row here) and inner position, and
// per row the running window sums over the inner axis. Row r covers inner positions
// [rowLo[r], rowHi[r]]; the value at inner position i is plane[rowBase[r] + i].
// Floats past the end of the planes and of the candidate buffer: the scoring reads and
// writes whole blocks of four vectors (32 candidates).
constexpr std::ptrdiff_t kPlanePadding = 32;

struct WalkPlanes {
  int firstRow = 0;
  std::vector<std::ptrdiff_t> rowBase;
  std::vector<int> rowLo, rowHi;
  std::vector<std::vector<float>> samples;  // per channel
  std::vector<std::vector<float>> sums;     // per channel: sum over the window's inner extent
  std::vector<float> squares;               // all channels: sum of squares, same extent
};

struct Plan {
  bool alongColumns = true;
  int olo = 0, ohi = 0, ilo = 0, ihi = 0;  // window offsets along the walk and across it
  int channels = 1;
  std::vector<float> weights;  // zero-mean template: [c][outer offset][inner offset]
  double norm2 = 0.0;
  float flatVariance = 0.0f;  // window variance sum at or below which B's window is flat
  int samplesPerChannel = 0;
  std::vector<Step> steps;
  std::vector<std::size_t> firstScore;  // index of each step's first score
  WalkPlanes planes;
};

WalkPlanes buildPlanes(const Image& b, const Plan& plan, bool colour) {
  WalkPlanes planes;
  const int firstRow = plan.steps.front().outer + plan.olo;
  const int rows = plan.steps.back().outer + plan.ohi + 1 - firstRow;
  planes.firstRow = firstRow;
  planes.rowLo.assign(rows, std::numeric_limits<int>::max());
  planes.rowHi.assign(rows, std::numeric_limits<int>::min());
  for (const Step& step : plan.steps) {
    for (int r = step.outer + plan.olo; r <= step.outer + plan.ohi; ++r) {
      planes.rowLo[r - firstRow] = std::min(planes.rowLo[r - firstRow], step.lo + plan.ilo);
      planes.rowHi[r - firstRow] = std::max(planes.rowHi[r - firstRow], step.hi + plan.ihi);
    }
  }
  planes.rowBase.resize(rows);
  std::ptrdiff_t total = 0;
  for (int r = 0; r < rows; ++r) {
    if (planes.rowHi[r] < planes.rowLo[r]) planes.rowHi[r] = planes.rowLo[r] - 1;
    planes.rowBase[r] = total - planes.rowLo[r];
    total += planes.rowHi[r] - planes.rowLo[r] + 1;
  }
  // Padded: the scoring reads whole vectors of candidates past a step's last one.
  planes.samples.assign(plan.channels, std::vector<float>(total + kPlanePadding));
  planes.sums.assign(plan.channels, std::vector<float>(total));
  planes.squares.assign(total, 0.0f);

  std::vector<double> prefix, prefixSquares;
  for (int r = 0; r < rows; ++r) {
    const int lo = planes.rowLo[r], hi = planes.rowHi[r];
    if (hi < lo) continue;
    const int outer = firstRow + r;
    const std::ptrdiff_t base = planes.rowBase[r];
    for (int c = 0; c < plan.channels; ++c) {
      float* row = planes.samples[c].data() + base;
      for (int i = lo; i <= hi; ++i) {
        row[i] =
            plan.alongColumns ? sampleAt(b, outer, i, c, colour) : sampleAt(b, i, outer, c, colour);
      }
    }
    // Window sums over inner offsets [ilo, ihi] for every position whose window lies in the
    // row, from prefix sums in double precision.
    const int length = hi - lo + 1;
    prefixSquares.assign(length + 1, 0.0);
    for (int c = 0; c < plan.channels; ++c) {
      const float* row = planes.samples[c].data() + base;
      prefix.assign(length + 1, 0.0);
      for (int k = 0; k < length; ++k) {
        prefix[k + 1] = prefix[k] + row[lo + k];
        prefixSquares[k + 1] += static_cast<double>(row[lo + k]) * row[lo + k];
      }
      float* sums = planes.sums[c].data() + base;
      for (int i = lo - plan.ilo; i <= hi - plan.ihi; ++i) {
        sums[i] = static_cast<float>(prefix[i + plan.ihi - lo + 1] - prefix[i + plan.ilo - lo]);
      }
    }
    for (int k = 0; k < length; ++k) prefixSquares[k + 1] += prefixSquares[k];
    float* squares = planes.squares.data() + base;
    for (int i = lo - plan.ilo; i <= hi - plan.ihi; ++i) {
      squares[i] = static_cast<float>(prefixSquares[i + plan.ihi - lo + 1] -
                                      prefixSquares[i + plan.ilo - lo]);
    }
  }
  return planes;
}

constexpr int kLanes = 8;
using Floats = float __attribute__((vector_size(4 * kLanes)));
static_assert(kPlanePadding >= 4 * kLanes, "a block of four vectors must fit the padding");

[[gnu::always_inline]] inline Floats loadFloats(const float* from) {
  Floats value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

// Window correlations of the V * 8 candidates from `first` on (inner positions) of walking
// index `outer`, into cross[0 .. V * 8): each template weight is one multiply-add per vector
// of candidates, with the sums kept in registers through the whole window.
template <int V>
[[gnu::always_inline]] inline void crossBlock(const Plan& plan,
                                              int outer,
                                              int first,
                                              float* cross) {
  const WalkPlanes& planes = plan.planes;
  const int windowOuter = plan.ohi - plan.olo + 1;
  const int windowInner = plan.ihi - plan.ilo + 1;
  Floats acc[V] = {};
  for (int du = 0; du < windowOuter; ++du) {
    const int r = outer + plan.olo + du - planes.firstRow;
    for (int c = 0; c < plan.channels; ++c) {
      const float* row = planes.samples[c].data() + planes.rowBase[r] + first + plan.ilo;
      const float* weights =
          plan.weights.data() + (static_cast<std::size_t>(c) * windowOuter + du) * windowInner;
      for (int dv = 0; dv < windowInner; ++dv) {
        const Floats w = Floats{} + weights[dv];
        for (int j = 0; j < V; ++j)
          acc[j] += w * loadFloats(row + dv + static_cast<std::ptrdiff_t>(j) * kLanes);
      }
    }
  }
  std::memcpy(cross, acc, sizeof acc);
}

// Scores the candidates of every step into `scores` (NaN for a flat window of B). Compiled
// once for AVX2 with FMA and once for the baseline instruction set.
[[gnu::always_inline]] inline void scoreStepsBody(const Plan& plan, float* scores) {
  const WalkPlanes& planes = plan.planes;
  const int windowOuter = plan.ohi - plan.olo + 1;
  const float norm2 = static_cast<float>(plan.norm2);
  const float count = static_cast<float>(plan.samplesPerChannel);
  std::vector<float> cross, sums, squares;
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const Step& step = plan.steps[s];
    const int n = step.hi - step.lo + 1;
    // Whole vectors: the planes are padded, and lanes past the step are dropped below.
    cross.resize(static_cast<std::size_t>(n) + kPlanePadding);
    int done = 0;
    for (; n - done >= 4 * kLanes; done += 4 * kLanes)
      crossBlock<4>(plan, step.outer, step.lo + done, cross.data() + done);
    for (; done < n; done += kLanes)
      crossBlock<1>(plan, step.outer, step.lo + done, cross.data() + done);

    sums.assign(static_cast<std::size_t>(n) * plan.channels, 0.0f);
    squares.assign(n, 0.0f);
    float* __restrict sq = squares.data();
    for (int du = 0; du < windowOuter; ++du) {
      const int r = step.outer + plan.olo + du - planes.firstRow;
      const std::ptrdiff_t base = planes.rowBase[r] + step.lo;
      const float* __restrict rowSquares = planes.squares.data() + base;
      for (int k = 0; k < n; ++k) sq[k] += rowSquares[k];
      for (int c = 0; c < plan.channels; ++c) {
        const float* __restrict rowSums = planes.sums[c].data() + base;
        float* __restrict sum = sums.data() + static_cast<std::size_t>(c) * n;
        for (int k = 0; k < n; ++k) sum[k] += rowSums[k];
      }
    }
    float* out = scores + plan.firstScore[s];
    for (int k = 0; k < n; ++k) {
      float variance = sq[k];
      for (int c = 0; c < plan.channels; ++c) {
        const float sum = sums[static_cast<std::size_t>(c) * n + k];
        variance -= sum * sum / count;
      }
      out[k] = variance > plan.flatVariance ? cross[k] / std::sqrt(norm2 * variance)
                                            : std::numeric_limits<float>::quiet_NaN();
    }
  }
}

[[gnu::target("avx2,fma")]] void scoreStepsAvx2(const Plan& plan, float* scores) {
  scoreStepsBody(plan, scores);
}

void scoreStepsBaseline(const Plan& plan, float* scores) { scoreStepsBody(plan, scores); }

bool haveAvx2() {
  static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return available;
}

// The samples of the pixels within `radius` of (cx, cy), cut to the picture, converted once
// for the many window comparisons of the re-ranking.
class SamplePatch {
 public:
  SamplePatch(const Image& image, int cx, int cy, int radius, int channels, bool colour) {
    x0_ = std::max(cx - radius, 0);
    y0_ = std::max(cy - radius, 0);
    width_ = std::max(std::min(cx + radius, image.width - 1) - x0_ + 1, 0);
    height_ = std::max(std::min(cy + radius, image.height - 1) - y0_ + 1, 0);
    values_.resize(static_cast<std::size_t>(channels) * width_ * height_);
    for (int c = 0; c < channels; ++c)
      for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
          values_[index(c, x0_ + x, y0_ + y)] = sampleAt(image, x0_ + x, y0_ + y, c, colour);
  }

  // Replaces every sample by the binomial [1 2 1] / 4 average along x and then along y (the
  // patch's edge samples repeated), so that samples taken two pixels apart do not alias.
  void smooth() {
    std::vector<float> line;
    const std::size_t plane = static_cast<std::size_t>(width_) * height_;
    for (std::size_t first = 0; first < values_.size(); first += plane) {
      float* p = values_.data() + first;
      for (int y = 0; y < height_; ++y) {
        float* row = p + static_cast<std::size_t>(y) * width_;
        line.assign(row, row + width_);
        for (int x = 0; x < width_; ++x) {
          row[x] = 0.25f *
                   (line[std::max(x - 1, 0)] + 2.0f * line[x] + line[std::min(x + 1, width_ - 1)]);
        }
      }
      line.resize(height_);
      for (int x = 0; x < width_; ++x) {
        for (int y = 0; y < height_; ++y) line[y] = p[static_cast<std::size_t>(y) * width_ + x];
        for (int y = 0; y < height_; ++y) {
          p[static_cast<std::size_t>(y) * width_ + x] =
              0.25f *
              (line[std::max(y - 1, 0)] + 2.0f * line[y] + line[std::min(y + 1, height_ - 1)]);
        }
      }
    }
  }

  bool contains(int x, int y) const {
    return x >= x0_ && y >= y0_ && x < x0_ + width_ && y < y0_ + height_;
  }
  // True when the pixels x0..x1, y0..y1 all lie in the patch.
  bool covers(int xa, int ya, int xb, int yb) const {
    return xa >= x0_ && ya >= y0_ && xb < x0_ + width_ && yb < y0_ + height_;
  }
  float at(int c, int x, int y) const { return values_[index(c, x, y)]; }
  // Bilinear interpolation at (x, y); NaN unless the four pixels lie in the patch.
  double interpolated(int c, double x, double y) const {
    const double fx = std::floor(x), fy = std::floor(y);
    if (!(fx >= x0_ && fy >= y0_ && fx + 1 < x0_ + width_ && fy + 1 < y0_ + height_)) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const double ax = x - fx, ay = y - fy;
    const double top = at(c, ix, iy) + ax * (at(c, ix + 1, iy) - at(c, ix, iy));
    const double bottom = at(c, ix, iy + 1) + ax * (at(c, ix + 1, iy + 1) - at(c, ix, iy + 1));
    return top + ay * (bottom - top);
  }

 private:
  std::size_t index(int c, int x, int y) const {
    return (static_cast<std::size_t>(c) * height_ + (y - y0_)) * width_ + (x - x0_);
  }
  int x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;
  std::vector<float> values_;
};

// znccAt on a patch of B: NaN when the window leaves the patch or is flat.
double znccOnPatch(const ZnccTemplate& t, const SamplePatch& patch, int x, int y) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  if (!t.textured || !patch.covers(x + t.ulo, y + t.vlo, x + t.uhi, y + t.vhi)) return kNaN;
  const int n = t.samples();
  double cross = 0.0, variance = 0.0;
  for (int c = 0; c < t.channels; ++c) {
    float sum = 0.0f, sum2 = 0.0f, products = 0.0f;
    for (int v = t.vlo; v <= t.vhi; ++v) {
      for (int u = t.ulo; u <= t.uhi; ++u) {
        const float s = patch.at(c, x + u, y + v);
        sum += s;
        sum2 += s * s;
        products += t.at(c, u, v) * s;
      }
    }
    cross += products;
    variance += static_cast<double>(sum2) - static_cast<double>(sum) * sum / n;
  }
  if (!(variance > static_cast<double>(n) * t.channels * kFlatDeviation * kFlatDeviation)) {
    return kNaN;
  }
  return cross / std::sqrt(t.norm2 * variance);
}

// The line M (x, y, 1) (or M^T (x, y, 1)) scaled to a unit normal.
std::array<double, 3> unitLine(const Matrix3x3& M, double x, double y, bool transpose) {
  std::array<double, 3> l{};
  for (int i = 0; i < 3; ++i) {
    l[i] = transpose ? M[i] * x + M[3 + i] * y + M[6 + i]
                     : M[3 * std::size_t(i)] * x + M[3 * std::size_t(i) + 1] * y +
                           M[3 * std::size_t(i) + 2];
  }
  const double norm = std::hypot(l[0], l[1]);
  for (double& value : l) value /= norm;
  return l;
}

// The local mapping from A to B near the source point x0 and a candidate x1, as far as the
// epipolar geometry fixes it. With t, n the unit direction and normal of the epipolar line
// through each point, the affine map A = s t1 t0^T + (sigma n1 + k t1) n0^T takes A's line
// direction along B's line, stretched by s, and a step of one pixel across A's line to the
// neighbouring line sigma pixels away in B; s and the shear k depend on the surface and are
// searched.
struct LineFrames {
  double t0[2], n0[2], t1[2], n1[2];
  double sigma;
};

LineFrames lineFrames(const Matrix3x3& M, ImagePosition x0, int x1, int y1) {
  LineFrames f{};
  const std::array<double, 3> l1 = unitLine(M, x0.x, x0.y, false);
  const std::array<double, 3> l0 = unitLine(M, x1, y1, true);
  f.t1[0] = l1[1], f.t1[1] = -l1[0], f.n1[0] = l1[0], f.n1[1] = l1[1];
  // Pictures are assumed to be turned less than a quarter turn against each other.
  const double sign = l0[1] * f.t1[0] - l0[0] * f.t1[1] < 0 ? -1.0 : 1.0;
  f.t0[0] = sign * l0[1], f.t0[1] = -sign * l0[0], f.n0[0] = sign * l0[0], f.n0[1] = sign * l0[1];
  // Distance at x1 between x0's line and the line of x0 moved one pixel along n0.
  const std::array<double, 3> moved = unitLine(M, x0.x + f.n0[0], x0.y + f.n0[1], false);
  const double orient = moved[0] * f.n1[0] + moved[1] * f.n1[1] < 0 ? -1.0 : 1.0;
  f.sigma = (l1[0] * x1 + l1[1] * y1 + l1[2]) - orient * (moved[0] * x1 + moved[1] * y1 + moved[2]);
  // Neighbouring lines closer or further apart than twice in one view than in the other
  // belong to a view at a grazing angle, where no window match holds anyway.
  if (!(f.sigma >= 0.5 && f.sigma <= 2.0)) f.sigma = 1.0;
  return f;
}

// The source window seen through the affine map of `frames` with stretch s and shear k:
// B's window offsets d = alpha t1 + beta n1 are sampled in A at
// x0 + ((alpha - k beta / sigma) / s) t0 + (beta / sigma) n0, bilinearly.
ZnccTemplate warpedTemplate(const SamplePatch& a,
                            ImagePosition x0,
                            int half,
                            const ZnccSettings& settings,
                            const LineFrames& f,
                            double s,
                            double k) {
  ZnccTemplate t;
  t.colour = settings.colour;
  t.channels = channelCount(settings);
  t.ulo = t.vlo = -half;
  t.uhi = t.vhi = half;
  const int n = t.samples();
  t.values.resize(static_cast<std::size_t>(n) * t.channels);
  double norm2 = 0.0;
  for (int c = 0; c < t.channels; ++c) {
    float* values = t.values.data() + static_cast<std::size_t>(c) * n;
    double sum = 0.0;
    for (int v = -half, i = 0; v <= half; ++v) {
      for (int u = -half; u <= half; ++u, ++i) {
        const double alpha = u * f.t1[0] + v * f.t1[1], beta = u * f.n1[0] + v * f.n1[1];
        const double across = beta / f.sigma, along = (alpha - k * across) / s;
        const double x = x0.x + along * f.t0[0] + across * f.n0[0];
        const double y = x0.y + along * f.t0[1] + across * f.n0[1];
        // A window that reaches past A's edge (or far past the patch) is not compared.
        const double value = a.interpolated(c, x, y);
        if (std::isnan(value)) return {};
        values[i] = static_cast<float>(value);
        sum += values[i];
      }
    }
    centreChannel(values, n, sum, norm2);
  }
  t.norm2 = norm2;
  t.textured = isTextured(norm2, n, t.channels);
  return t;
}

// The context window: the source's surroundings out to settings.contextReach pixels, sampled
// every contextStep pixels, seen through the same affine map as warpedTemplate. Samples that
// fall outside A (outside `a`) are NaN and left out of the comparison.
struct ContextWindow {
  int n = 0;     // sample offsets from -n to n in each direction
  int step = 1;  // pixels between samples
  int channels = 1;
  std::vector<float> values;  // [c][v + n][u + n]
};

ContextWindow contextWindow(const SamplePatch& a,
                            ImagePosition x0,
                            const ZnccSettings& settings,
                            const LineFrames& f,
                            double s,
                            double k) {
  ContextWindow w;
  w.step = std::max(settings.contextStep, 1);
  w.n = settings.contextReach / w.step;
  w.channels = channelCount(settings);
  const int side = 2 * w.n + 1;
  const std::size_t plane = static_cast<std::size_t>(side) * side;
  w.values.resize(w.channels * plane);
  for (int v = -w.n, i = 0; v <= w.n; ++v) {
    for (int u = -w.n; u <= w.n; ++u, ++i) {
      const double du = u * w.step, dv = v * w.step;
      const double alpha = du * f.t1[0] + dv * f.t1[1], beta = du * f.n1[0] + dv * f.n1[1];
      const double across = beta / f.sigma, along = (alpha - k * across) / s;
      const double x = x0.x + along * f.t0[0] + across * f.n0[0];
      const double y = x0.y + along * f.t0[1] + across * f.n0[1];
      for (int c = 0; c < w.channels; ++c)
        w.values[c * plane + i] = static_cast<float>(a.interpolated(c, x, y));
    }
  }
  return w;
}

// ZNCC of the context window with B's samples around pixel (x, y), over the samples that lie
// in both pictures: NaN when fewer than half of them do, or when either side is flat there.
double contextScore(const ContextWindow& w, const SamplePatch& b, int x, int y) {
  const int side = 2 * w.n + 1;
  const std::size_t plane = static_cast<std::size_t>(side) * side;
  double cross = 0.0, variance0 = 0.0, variance1 = 0.0;
  std::size_t used = 0;
  for (int c = 0; c < w.channels; ++c) {
    double s0 = 0, s1 = 0, s00 = 0, s11 = 0, s01 = 0;
    std::size_t count = 0;
    const float* values = w.values.data() + c * plane;
    for (int v = -w.n, i = 0; v <= w.n; ++v) {
      for (int u = -w.n; u <= w.n; ++u, ++i) {
        const int px = x + u * w.step, py = y + v * w.step;
        if (std::isnan(values[i]) || !b.contains(px, py)) continue;
        const double p = values[i], q = b.at(c, px, py);
        s0 += p;
        s1 += q;
        s00 += p * p;
        s11 += q * q;
        s01 += p * q;
        ++count;
      }
    }
    if (count == 0) continue;
    cross += s01 - s0 * s1 / count;
    variance0 += s00 - s0 * s0 / count;
    variance1 += s11 - s1 * s1 / count;
    used += count;
  }
  const double flat = static_cast<double>(used) * kFlatDeviation * kFlatDeviation;
  if (2 * used < w.channels * plane || !(variance0 > flat) || !(variance1 > flat)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return cross / std::sqrt(variance0 * variance1);
}

struct Peak {
  double score;
  int x, y;
};

// The best candidates, best first, each more than `half` (in x or y) from those before it.
std::vector<Peak> bestPeaks(const Plan& plan,
                            const std::vector<float>& scores,
                            int half,
                            int count) {
  std::vector<Peak> peaks;
  for (int p = 0; p < count; ++p) {
    Peak best{-std::numeric_limits<double>::infinity(), 0, 0};
    for (std::size_t s = 0; s < plan.steps.size(); ++s) {
      const Step& step = plan.steps[s];
      const float* out = scores.data() + plan.firstScore[s];
      for (int i = step.lo; i <= step.hi; ++i) {
        if (!(out[i - step.lo] > best.score)) continue;
        const int x = plan.alongColumns ? step.outer : i, y = plan.alongColumns ? i : step.outer;
        bool far = true;
        for (const Peak& q : peaks)
          far = far && (std::abs(x - q.x) > half || std::abs(y - q.y) > half);
        if (far) best = {out[i - step.lo], x, y};
      }
    }
    if (!std::isfinite(best.score)) break;
    peaks.push_back(best);
  }
  return peaks;
}

struct WarpedPeak {
  double score = -std::numeric_limits<double>::infinity();
  int x = 0, y = 0;
  double rank = 0.0;  // score, plus the context score when every place has one
  std::array<std::array<double, 3>, 3> around{};  // scores of the best warp around (x, y)
};

// The best warped comparison near a peak: stretch and shear on a coarse grid, then a finer
// one around the best, each at the peak and its eight neighbours. `sourcePatch` holds A's
// samples around the source.
WarpedPeak warpedPeak(const SamplePatch& sourcePatch,
                      const Image& b,
                      ImagePosition source,
                      const Matrix3x3& M,
                      int half,
                      const ZnccSettings& settings,
                      const Peak& peak) {
  const LineFrames frames = lineFrames(M, source, peak.x, peak.y);
  // The comparisons reach two pixels from the peak, and the final fit one more.
  const SamplePatch patch(b, peak.x, peak.y, half + 3, channelCount(settings), settings.colour);
  WarpedPeak best;
  ZnccTemplate bestTemplate;
  double bestS = 1.0, bestK = 0.0;
  auto tryWarp = [&](double s, double k, int cx, int cy) {
    ZnccTemplate t = warpedTemplate(sourcePatch, source, half, settings, frames, s, k);
    if (!t.textured) return;
    bool improved = false;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const double score = znccOnPatch(t, patch, cx + dx, cy + dy);
        if (score > best.score) {
          best.score = score, best.x = cx + dx, best.y = cy + dy, improved = true;
        }
      }
    }
    if (improved) {
      bestTemplate = std::move(t);
      bestS = s, bestK = k;
    }
  };
  for (const double s : {1.0 / kWarpStretch, 1.0, kWarpStretch})
    for (const double k : {-kWarpShear, 0.0, kWarpShear}) tryWarp(s, k, peak.x, peak.y);
  if (!std::isfinite(best.score)) return best;
  const double s0 = bestS, k0 = bestK;
  const int x0 = best.x, y0 = best.y;
  for (const double ds : {1.0 / std::sqrt(kWarpStretch), 1.0, std::sqrt(kWarpStretch)})
    for (const double dk : {-kWarpShear / 2, 0.0, kWarpShear / 2})
      if (ds != 1.0 || dk != 0.0) tryWarp(s0 * ds, k0 + dk, x0, y0);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      best.around[dy + 1][dx + 1] = znccOnPatch(bestTemplate, patch, best.x + dx, best.y + dy);
  return best;
}

// Look-alikes: windows along the line that agree as well as the true match's (bricks, window
// panes, an edge along the line) mostly differ in their wider surroundings. Each warped place
// gets the context score of its surroundings, best over the coarse warps, and ranks by the
// sum of its window score and that context score. Places more than kContextGap below the best
// warped score are left out. When some place has no context score (its
// surroundings leave a picture, or are flat), the window scores alone decide, so that places
// are compared alike.
void rankByContext(const Image& a,
                   const Image& b,
                   ImagePosition source,
                   const Matrix3x3& M,
                   const ZnccSettings& settings,
                   std::vector<WarpedPeak>& warped) {
  const int reach = settings.contextReach;
  const int channels = channelCount(settings);
  // As for the warped windows, the most distorted coarse warp stays within 4 reach.
  SamplePatch around(
      a, nearestPixel(source.x), nearestPixel(source.y), 4 * reach + 2, channels, settings.colour);
  around.smooth();
  std::vector<double> context(warped.size());
  double top = -std::numeric_limits<double>::infinity();
  for (const WarpedPeak& w : warped) top = std::max(top, w.score);
  for (std::size_t i = 0; i < warped.size(); ++i) {
    const WarpedPeak& w = warped[i];
    if (!std::isfinite(w.score) || w.score < top - kContextGap) {
      context[i] = -std::numeric_limits<double>::infinity();
      continue;
    }
    const LineFrames frames = lineFrames(M, source, w.x, w.y);
    SamplePatch patch(b, w.x, w.y, reach + 1, channels, settings.colour);
    patch.smooth();
    double best = -std::numeric_limits<double>::infinity();
    for (const double s : {1.0 / kWarpStretch, 1.0, kWarpStretch}) {
      for (const double k : {-kWarpShear, 0.0, kWarpShear}) {
        const double score =
            contextScore(contextWindow(around, source, settings, frames, s, k), patch, w.x, w.y);
        if (score > best) best = score;
      }
    }
    if (!std::isfinite(best)) return;
    context[i] = best;
  }
  for (std::size_t i = 0; i < warped.size(); ++i) warped[i].rank = warped[i].score + context[i];
}

// The search with one window size (grown where flat).
ZnccMatch searchWithWindow(const Image& a,
                           const Image& b,
                           ImagePosition source,
                           const Matrix3x3& M,
                           double band,
                           const ZnccSettings& settings) {
  const ZnccMatch nothing;
  if (!(band > 0.0) || !std::isfinite(band) || !std::isfinite(source.x) ||
      !std::isfinite(source.y) || b.width <= 0 || b.height <= 0) {
    return nothing;
  }
  const int cx = nearestPixel(source.x);
  const int cy = nearestPixel(source.y);
  // A window without enough structure grows, so that points on smooth surfaces still have
  // something to match.
  ZnccSettings chosen = settings;
  ZnccTemplate t = makeZnccTemplate(a, cx, cy, chosen);
  while (chosen.windowSize + kGrowStep <= settings.largestWindow &&
         !(t.textured && t.norm2 >= static_cast<double>(t.samples()) * t.channels *
                                        kWantedDeviation * kWantedDeviation)) {
    chosen.windowSize += kGrowStep;
    t = makeZnccTemplate(a, cx, cy, chosen);
  }
  if (!t.textured) return nothing;
  const int half = std::max(chosen.windowSize, 1) / 2;
  // A window cut by A's edge compares less of the picture: its match is reported, as
  // uncertain.
  const bool cut = t.samples() < (2 * half + 1) * (2 * half + 1);

  double la = M[0] * source.x + M[1] * source.y + M[2];
  double lb = M[3] * source.x + M[4] * source.y + M[5];
  double lc = M[6] * source.x + M[7] * source.y + M[8];
  const double norm = std::hypot(la, lb);
  if (!(norm > 0.0) || !std::isfinite(norm) || !std::isfinite(lc)) return nothing;
  la /= norm;
  lb /= norm;
  lc /= norm;
  // The window around the whole pixel (cx, cy) is matched; the source point sits at
  // (fx, fy) from it, and so does its match from the matched window's centre. The candidate
  // centres p are therefore kept near the line moved by that offset: |l . (p + f)| <= band.
  const double fx = source.x - cx;
  const double fy = source.y - cy;
  lc += la * fx + lb * fy;

  Plan plan;
  plan.alongColumns = std::fabs(lb) >= std::fabs(la);
  plan.channels = t.channels;
  plan.olo = plan.alongColumns ? t.ulo : t.vlo;
  plan.ohi = plan.alongColumns ? t.uhi : t.vhi;
  plan.ilo = plan.alongColumns ? t.vlo : t.ulo;
  plan.ihi = plan.alongColumns ? t.vhi : t.uhi;
  const int outerSize = plan.alongColumns ? b.width : b.height;
  const int innerSize = plan.alongColumns ? b.height : b.width;
  // The line is along * outer + across * inner + lc = 0.
  const double along = plan.alongColumns ? la : lb;
  const double across = plan.alongColumns ? lb : la;
  const double extent = band / std::fabs(across);
  std::size_t total = 0;
  for (int o = std::max(0, -plan.olo); o <= outerSize - 1 - plan.ohi; ++o) {
    const double centre = -(along * o + lc) / across;
    const double lo = std::max(std::ceil(centre - extent), static_cast<double>(-plan.ilo));
    const double hi =
        std::min(std::floor(centre + extent), static_cast<double>(innerSize - 1 - plan.ihi));
    if (!(lo <= hi)) continue;
    plan.steps.push_back({o, static_cast<int>(lo), static_cast<int>(hi)});
    plan.firstScore.push_back(total);
    total += static_cast<std::size_t>(hi - lo) + 1;
  }
  if (plan.steps.empty()) return nothing;

  const int windowOuter = plan.ohi - plan.olo + 1;
  const int windowInner = plan.ihi - plan.ilo + 1;
  plan.weights.resize(static_cast<std::size_t>(t.channels) * windowOuter * windowInner);
  for (int c = 0; c < t.channels; ++c) {
    for (int du = 0; du < windowOuter; ++du) {
      for (int dv = 0; dv < windowInner; ++dv) {
        const int u = plan.alongColumns ? plan.olo + du : plan.ilo + dv;
        const int v = plan.alongColumns ? plan.ilo + dv : plan.olo + du;
        plan.weights[(static_cast<std::size_t>(c) * windowOuter + du) * windowInner + dv] =
            t.at(c, u, v);
      }
    }
  }
  plan.norm2 = t.norm2;
  plan.samplesPerChannel = t.samples();
  plan.flatVariance =
      static_cast<float>(t.samples()) * t.channels * kFlatDeviation * kFlatDeviation;
  plan.planes = buildPlanes(b, plan, t.colour);

  std::vector<float> scores(total);
  if (haveAvx2()) {
    scoreStepsAvx2(plan, scores.data());
  } else {
    scoreStepsBaseline(plan, scores.data());
  }

  // The first pass's best and the best more than half a window from it (in x or y).
  const std::vector<Peak> first = bestPeaks(plan, scores, half, std::max(settings.peaks, 2));
  if (first.empty()) return nothing;
  ZnccMatch match;
  match.found = true;
  match.score = first[0].score;
  match.next = first.size() > 1 ? first[1].score : 0.0;
  const bool decisive =
      match.score >= kDecisiveScore && match.next <= kDecisiveNextShare * match.score;
  if (settings.peaks > 0 && !decisive) {
    // Perspective: compare the best places again with the source window stretched and
    // sheared along the line; the best warped comparison wins.
    // A's samples as far as the most distorted warp reaches: sqrt(2) half across lines
    // spaced at half the distance, then sheared and stretched, is within 4 half.
    const SamplePatch sourcePatch(a, cx, cy, 4 * half + 2, t.channels, t.colour);
    // A warp raises a true match's score by at most about kWarpGain on the real pictures
    // measured, so places further below the best are not compared again; their plain scores
    // still count for `next`.
    std::vector<WarpedPeak> warped;
    double next = 0.0;
    for (const Peak& peak : first) {
      if (peak.score >= first[0].score - kWarpGain) {
        warped.push_back(warpedPeak(sourcePatch, b, source, M, half, chosen, peak));
      } else {
        next = std::max(next, peak.score);
      }
    }
    for (WarpedPeak& w : warped) w.rank = w.score;
    if (settings.contextReach > 0 && warped.size() > 1) {
      rankByContext(a, b, source, M, chosen, warped);
    }
    std::size_t winner = 0;
    for (std::size_t i = 1; i < warped.size(); ++i)
      if (warped[i].rank > warped[winner].rank) winner = i;
    if (std::isfinite(warped[winner].score)) {
      for (std::size_t i = 0; i < warped.size(); ++i)
        if (i != winner) next = std::max(next, warped[i].score);
      const WarpedPeak& w = warped[winner];
      const std::array<double, 2> offset = quadraticPeakOffset(w.around);
      // The warped window is centred on the source point itself.
      match.position = {w.x + offset[0], w.y + offset[1]};
      match.score = w.score;
      match.next = std::max(next, 0.0);
      match.uncertain =
          cut || match.score < kZnccMinScore || match.next > kZnccMaxNextShare * match.score;
      return match;
    }
  }

  const int bx = first[0].x, by = first[0].y;
  std::array<std::array<double, 3>, 3> around{};
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) around[dy + 1][dx + 1] = znccAt(t, b, bx + dx, by + dy);
  const std::array<double, 2> offset = quadraticPeakOffset(around);
  match.position = {bx + offset[0] + fx, by + offset[1] + fy};
  match.next = std::max(match.next, 0.0);
  match.uncertain =
      cut || match.score < kZnccMinScore || match.next > kZnccMaxNextShare * match.score;
  return match;
}

}  // namespace

ZnccMatch searchZncc(const Image& a,
                     const Image& b,
                     ImagePosition source,
                     const Matrix3x3& M,
                     double band,
                     const ZnccSettings& settings) {
  const ZnccMatch first = searchWithWindow(a, b, source, M, band, settings);
  if (!first.found || !first.uncertain || settings.uncertainWindow <= settings.windowSize) {
    return first;
  }
  // A wider window takes in more of the surroundings, which tells look-alikes apart and
  // gives smooth and edge-like places a sharper peak; it blurs the match where the views
  // differ in perspective, so it is asked only when the first answer is uncertain, and its
  // answer counts only when it is certain. It costs about three first passes, so it is off
  // by default (bench/README.md, ZNCC section).
  ZnccSettings wider = settings;
  wider.windowSize = settings.uncertainWindow;
  wider.largestWindow = std::max(settings.largestWindow, settings.uncertainWindow);
  // Its own window already takes in the surroundings: ranking by them changed nothing on the
  // real pictures measured, and costs.
  wider.contextReach = 0;
  const ZnccMatch second = searchWithWindow(a, b, source, M, band, wider);
  return second.found && !second.uncertain ? second : first;
}

}  // namespace detail

ZnccMatch searchZnccAlongLine(
    const Image& a, const Image& b, ImagePosition source, const Matrix3x3& M, double band) {
  return detail::searchZncc(a, b, source, M, band, detail::ZnccSettings{});
}

double znccBand(double rmsSampson) {
  if (!std::isfinite(rmsSampson)) return kZnccWideBand;
  return std::clamp(3.0 * rmsSampson, kZnccNarrowBand, kZnccWideBand);
}

std::string formatMatchLine(int window, const ZnccMatch& match) {
  char text[160];
  std::snprintf(text,
                sizeof text,
                "Match in (%d): %.2f, %.2f (score %.3f, next %.3f)%s",
                window,
                match.position.x,
                match.position.y,
                match.score,
                match.next,
                match.uncertain ? " uncertain" : "");
  return text;
}

}  // namespace epipolar
