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
#include <limits>

#include "geometry/ZnccInternal.h"

namespace epipolar {
namespace detail {

int nearestPixel(double coordinate) {
  constexpr double kFar = 1 << 28;
  if (std::isnan(coordinate)) return -(1 << 28);
  return static_cast<int>(std::lround(std::clamp(coordinate, -kFar, kFar)));
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
    const double mean = sum / n;
    for (int k = 0; k < n; ++k) {
      values[k] = static_cast<float>(values[k] - mean);
      norm2 += static_cast<double>(values[k]) * values[k];
    }
  }
  t.norm2 = norm2;
  t.textured = norm2 > static_cast<double>(n) * t.channels * kFlatDeviation * kFlatDeviation;
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
  planes.samples.assign(plan.channels, std::vector<float>(total));
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

// Scores the candidates of every step into `scores` (NaN for a flat window of B). Compiled
// once for AVX2 with FMA and once for the baseline instruction set.
[[gnu::always_inline]] inline void scoreStepsBody(const Plan& plan, float* scores) {
  const WalkPlanes& planes = plan.planes;
  const int windowOuter = plan.ohi - plan.olo + 1;
  const int windowInner = plan.ihi - plan.ilo + 1;
  const float norm2 = static_cast<float>(plan.norm2);
  const float count = static_cast<float>(plan.samplesPerChannel);
  std::vector<float> cross, sums, squares;
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const Step& step = plan.steps[s];
    const int n = step.hi - step.lo + 1;
    cross.assign(n, 0.0f);
    sums.assign(static_cast<std::size_t>(n) * plan.channels, 0.0f);
    squares.assign(n, 0.0f);
    float* __restrict acc = cross.data();
    float* __restrict sq = squares.data();
    for (int du = 0; du < windowOuter; ++du) {
      const int r = step.outer + plan.olo + du - planes.firstRow;
      const std::ptrdiff_t base = planes.rowBase[r] + step.lo;
      const float* __restrict rowSquares = planes.squares.data() + base;
      for (int k = 0; k < n; ++k) sq[k] += rowSquares[k];
      for (int c = 0; c < plan.channels; ++c) {
        const float* __restrict row = planes.samples[c].data() + base + plan.ilo;
        const float* __restrict rowSums = planes.sums[c].data() + base;
        float* __restrict sum = sums.data() + static_cast<std::size_t>(c) * n;
        for (int k = 0; k < n; ++k) sum[k] += rowSums[k];
        const float* weights =
            plan.weights.data() + (static_cast<std::size_t>(c) * windowOuter + du) * windowInner;
        for (int dv = 0; dv < windowInner; ++dv) {
          const float w = weights[dv];
          const float* __restrict at = row + dv;
          for (int k = 0; k < n; ++k) acc[k] += w * at[k];
        }
      }
    }
    float* out = scores + plan.firstScore[s];
    for (int k = 0; k < n; ++k) {
      float variance = sq[k];
      for (int c = 0; c < plan.channels; ++c) {
        const float sum = sums[static_cast<std::size_t>(c) * n + k];
        variance -= sum * sum / count;
      }
      out[k] = variance > plan.flatVariance ? acc[k] / std::sqrt(norm2 * variance)
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

}  // namespace

ZnccMatch searchZncc(const Image& a,
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
  const ZnccTemplate t = makeZnccTemplate(a, cx, cy, settings);
  if (!t.textured) return nothing;

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

  // The first best in walking order, then the best more than half a window away from it.
  float best = -std::numeric_limits<float>::infinity();
  int bestOuter = 0, bestInner = 0;
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const Step& step = plan.steps[s];
    const float* out = scores.data() + plan.firstScore[s];
    for (int i = step.lo; i <= step.hi; ++i) {
      if (out[i - step.lo] > best) {
        best = out[i - step.lo];
        bestOuter = step.outer;
        bestInner = i;
      }
    }
  }
  if (!std::isfinite(best)) return nothing;
  const int half = std::max(settings.windowSize, 1) / 2;
  float next = -std::numeric_limits<float>::infinity();
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const Step& step = plan.steps[s];
    const float* out = scores.data() + plan.firstScore[s];
    const bool farAlong = std::abs(step.outer - bestOuter) > half;
    for (int i = step.lo; i <= step.hi; ++i) {
      if ((farAlong || std::abs(i - bestInner) > half) && out[i - step.lo] > next) {
        next = out[i - step.lo];
      }
    }
  }

  const int bx = plan.alongColumns ? bestOuter : bestInner;
  const int by = plan.alongColumns ? bestInner : bestOuter;
  std::array<std::array<double, 3>, 3> around{};
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) around[dy + 1][dx + 1] = znccAt(t, b, bx + dx, by + dy);
  const std::array<double, 2> offset = quadraticPeakOffset(around);

  ZnccMatch match;
  match.found = true;
  match.position = {bx + offset[0] + fx, by + offset[1] + fy};
  match.score = best;
  match.next = std::isfinite(next) ? next : 0.0;
  match.uncertain = match.score < kZnccMinScore || match.next > kZnccMaxNextShare * match.score;
  return match;
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
