// The fast match search. It gives the reference search's result bit for bit:
//  - Every pixel of B near the walk is converted to HSV once (Colour::toHsv, the same call
//    the reference makes per sample), into planes laid out so that consecutive candidates of
//    one walking step are consecutive floats.
//  - The source window of A is converted once: every candidate compares against the same
//    (2h+1)^2 source pixels.
//  - Eight candidates of one step are scored together, one vector lane each. Every lane runs
//    the same single-precision operations as Colour::difference, Colour::fromHsv and
//    Colour::toHsv, in the same order, and adds its samples in the reference order; samples
//    outside B leave the lane's sum untouched. This file is built with -ffp-contract=off so
//    that no multiply-add is fused.
//  - The walk is cut into contiguous pieces, one per thread; each piece keeps its first best,
//    and the pieces are merged in walking order with the same strict comparison.
#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "geometry/MatchSearch.h"
#include "geometry/MatchSearchInternal.h"

namespace epipolar {
namespace {

constexpr int kLanes = 8;
using Floats = float __attribute__((vector_size(4 * kLanes)));
using Ints = int __attribute__((vector_size(4 * kLanes)));

// HSV of one source pixel and where its sample sits relative to the candidate: `outer` along
// the walking index, `inner` along the candidates of a step.
struct SourceSample {
  int outer;
  int inner;
  float h;
  float s;
  float v;
};

// HSV planes of B for the rows (walking indices) [firstRow, firstRow + rows). Each row keeps
// only the span of candidate positions its steps read; rowBase[r] + position is the index of
// a position inside the row's span. Positions outside B hold 0 and are never summed.
struct HsvPlanes {
  int firstRow = 0;
  std::vector<std::ptrdiff_t> rowBase;
  std::vector<float> h, s, v;
};

struct Geometry {
  bool alongColumns;
  int outerSize;  // number of walking indices in B (W along columns, H along rows)
  int innerSize;  // number of candidate positions per step (H along columns, W along rows)
  int half;
};

struct Best {
  float score = 0.0f;
  ImagePosition position;
};

// Every helper that takes or returns a vector is always inlined: the AVX2 and the baseline
// copies of the scoring loop pass 32-byte vectors differently, so an out-of-line call
// between them (as unoptimised builds would make) would garble its arguments.
[[gnu::always_inline]] inline Floats broadcast(float value) { return Floats{} + value; }

[[gnu::always_inline]] inline Floats load(const float* from) {
  Floats result;
  std::memcpy(&result, from, sizeof result);
  return result;
}

// One sample per lane: 2 * (s + v) + h of the HSV of the difference colour of source pixel
// (ha, sa, va) and candidate pixels (hb, sb, vb). Hues are -1 or in [0, 360) and s, v in
// [0, 1], as Colour::toHsv gives them for pixels, so the difference hue is finite and not
// negative and its sector index is its truncation.
[[gnu::always_inline]] inline Floats sampleValue(
    Floats ha, Floats sa, Floats va, Floats hb, Floats sb, Floats vb) {
  // Colour::difference
  const Floats d = (ha - hb) * (1.0f / 360.0f);
  const Floats hue = d * d * 360.0f;
  const Floats ds = sa - sb;
  const Floats dv = va - vb;
  const Floats sat = ds * ds;
  const Floats val = dv * dv;

  // Colour::fromHsv(hue, sat, val)
  const Floats hh = hue * (1.0f / 60.0f);
  const Ints sector = __builtin_convertvector(hh, Ints);
  const Floats f = hh - __builtin_convertvector(sector, Floats);
  const Floats p = val * (1.0f - sat);
  const Floats q = val * (1.0f - sat * f);
  const Floats t = val * (1.0f - sat * (1.0f - f));
  const Ints s0 = sector == 0, s1 = sector == 1, s2 = sector == 2, s3 = sector == 3,
             s4 = sector == 4;
  // With sat = 0, p = q = t = val: every sector gives the grey (val, val, val) that fromHsv
  // returns for s = 0, so no separate case is needed.
  const Floats r = s0 ? val : s1 ? q : s2 ? p : s3 ? p : s4 ? t : val;
  const Floats g = s0 ? t : s1 ? val : s2 ? val : s3 ? q : p;
  const Floats b = s0 ? p : s1 ? p : s2 ? t : s3 ? val : s4 ? val : q;

  // Colour::toHsv(r, g, b). Since 0 <= sat <= 1 and 0 <= f < 1, rounding keeps
  // p <= q <= val and p <= t <= val, so the largest component is val and the smallest is p
  // in every sector, exactly as max and min would find them.
  const Floats vmax = val;
  const Floats delta = vmax - p;
  const Ints black = vmax == 0.0f;
  const Floats s = black ? Floats{} : delta / vmax;
  const Ints redMax = r == vmax;
  const Ints greenMax = g == vmax;
  const Floats sectorHue = (redMax ? g - b : greenMax ? b - r : r - g) / delta;
  Floats h = redMax ? sectorHue : greenMax ? 2.0f + sectorHue : 4.0f + sectorHue;
  h = h * 60.0f;
  h = h < 0.0f ? h + 360.0f : h;
  h = black ? broadcast(-1.0f) : delta == 0.0f ? Floats{} : h;
  return 2.0f * (s + vmax) + h;
}

// Sums of the samples of the eight candidates at positions start .. start + 7 of walking
// index `row`, each in the reference order. With `Masked`, samples whose candidate-axis
// position falls outside B are skipped per lane; without it the caller guarantees that
// none does.
template <bool Masked>
[[gnu::always_inline]] inline Floats sumBlock(const HsvPlanes& planes,
                                              const std::vector<SourceSample>& samples,
                                              const Geometry& geometry,
                                              int row,
                                              int start) {
  const Ints lanes = {0, 1, 2, 3, 4, 5, 6, 7};
  Floats sum{};
  for (const SourceSample& sample : samples) {
    const int r = row + sample.outer;
    if (r < 0 || r >= geometry.outerSize) continue;
    const std::ptrdiff_t at = planes.rowBase[r - planes.firstRow] + start + sample.inner;
    const Floats value = sampleValue(broadcast(sample.h),
                                     broadcast(sample.s),
                                     broadcast(sample.v),
                                     load(planes.h.data() + at),
                                     load(planes.s.data() + at),
                                     load(planes.v.data() + at));
    if constexpr (Masked) {
      const Ints position = lanes + (start + sample.inner);
      const Ints inside = (position >= 0) & (position < geometry.innerSize);
      sum = inside ? sum + value : sum;
    } else {
      sum = sum + value;
    }
  }
  return sum;
}

// Scores the candidates of steps [first, last) and returns the first best in walking order.
// The body is compiled once for AVX2 and once for the baseline instruction set.
[[gnu::always_inline]] inline Best scoreStepsBody(const HsvPlanes& planes,
                                                  const std::vector<SourceSample>& samples,
                                                  const Geometry& geometry,
                                                  const SearchWalk& walk,
                                                  std::size_t first,
                                                  std::size_t last,
                                                  float threshold) {
  Best best;
  const int half = geometry.half;
  for (std::size_t i = first; i < last; ++i) {
    const SearchWalk::Step& step = walk.steps[i];
    const OffsetRange outer = windowOffsets(step.index, half, geometry.outerSize);
    const int outerCount = outer.hi - outer.lo + 1;
    for (int start = step.lo; start < step.hi; start += kLanes) {
      const bool inside = start - half >= 0 && start + kLanes - 1 + half < geometry.innerSize;
      const Floats sums = inside ? sumBlock<false>(planes, samples, geometry, step.index, start)
                                 : sumBlock<true>(planes, samples, geometry, step.index, start);
      const int lanes = std::min(kLanes, step.hi - start);
      for (int lane = 0; lane < lanes; ++lane) {
        const int position = start + lane;
        const OffsetRange inner = windowOffsets(position, half, geometry.innerSize);
        const int count = outerCount * (inner.hi - inner.lo + 1);
        const float m = sums[lane] / count;
        const float m2 = m * m;
        const float score = m2 <= threshold ? (threshold - m2) / threshold : 0.0f;
        if (score > best.score) {
          best.score = score;
          best.position = geometry.alongColumns
                              ? ImagePosition{double(step.index), double(position)}
                              : ImagePosition{double(position), double(step.index)};
        }
      }
    }
  }
  return best;
}

[[gnu::target("avx2")]] Best scoreStepsAvx2(const HsvPlanes& planes,
                                            const std::vector<SourceSample>& samples,
                                            const Geometry& geometry,
                                            const SearchWalk& walk,
                                            std::size_t first,
                                            std::size_t last,
                                            float threshold) {
  return scoreStepsBody(planes, samples, geometry, walk, first, last, threshold);
}

Best scoreStepsBaseline(const HsvPlanes& planes,
                        const std::vector<SourceSample>& samples,
                        const Geometry& geometry,
                        const SearchWalk& walk,
                        std::size_t first,
                        std::size_t last,
                        float threshold) {
  return scoreStepsBody(planes, samples, geometry, walk, first, last, threshold);
}

bool haveAvx2() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

// The HSV planes that steps [first, last) read: for each walking index within `half` of a
// step, the span from the step's first candidate - half to its last lane block + half.
HsvPlanes convertPlanes(const Image& b,
                        const Geometry& geometry,
                        const SearchWalk& walk,
                        std::size_t first,
                        std::size_t last) {
  HsvPlanes planes;
  const int half = geometry.half;
  const int firstRow = std::max(walk.steps[first].index - half, 0);
  const int endRow = std::min(walk.steps[last - 1].index + half + 1, geometry.outerSize);
  const int rows = endRow - firstRow;
  std::vector<int> spanLo(rows, 0), spanHi(rows, 0);
  for (std::size_t i = first; i < last; ++i) {
    const SearchWalk::Step& step = walk.steps[i];
    const int blocks = (step.hi - step.lo + kLanes - 1) / kLanes;
    const int lo = step.lo - half;
    const int hi = step.lo + blocks * kLanes + half;
    const int r0 = std::max(step.index - half, firstRow);
    const int r1 = std::min(step.index + half + 1, endRow);
    for (int r = r0; r < r1; ++r) {
      int& l = spanLo[r - firstRow];
      int& h = spanHi[r - firstRow];
      if (h <= l) {
        l = lo;
        h = hi;
      } else {
        l = std::min(l, lo);
        h = std::max(h, hi);
      }
    }
  }
  planes.firstRow = firstRow;
  planes.rowBase.resize(rows);
  std::ptrdiff_t total = 0;
  for (int r = 0; r < rows; ++r) {
    planes.rowBase[r] = total - spanLo[r];
    total += std::max(spanHi[r] - spanLo[r], 0);
  }
  planes.h.assign(total, 0.0f);
  planes.s.assign(total, 0.0f);
  planes.v.assign(total, 0.0f);
  for (int r = 0; r < rows; ++r) {
    const int row = firstRow + r;
    const int lo = std::max(spanLo[r], 0);
    const int hi = std::min(spanHi[r], geometry.innerSize);
    for (int position = lo; position < hi; ++position) {
      const int x = geometry.alongColumns ? row : position;
      const int y = geometry.alongColumns ? position : row;
      const std::ptrdiff_t at = planes.rowBase[r] + position;
      Colour(b.row(y) + 3 * x).toHsv(planes.h[at], planes.s[at], planes.v[at]);
    }
  }
  return planes;
}

Best searchSteps(const Image& b,
                 const std::vector<SourceSample>& samples,
                 const Geometry& geometry,
                 const SearchWalk& walk,
                 std::size_t first,
                 std::size_t last,
                 float threshold) {
  if (first >= last) return {};
  const HsvPlanes planes = convertPlanes(b, geometry, walk, first, last);
  return haveAvx2() ? scoreStepsAvx2(planes, samples, geometry, walk, first, last, threshold)
                    : scoreStepsBaseline(planes, samples, geometry, walk, first, last, threshold);
}

// Below this many samples per thread another thread costs more than it saves (starting one
// takes tens of microseconds; a sample takes a few nanoseconds).
constexpr long long kSamplesPerThread = 200000;
constexpr unsigned kMaxThreads = 8;

}  // namespace

ImagePosition searchAlongLine(const Image& a,
                              const Image& b,
                              ImagePosition source,
                              const Matrix& M,
                              int windowSize,
                              int band,
                              float threshold) {
  const unsigned cores = std::max(1u, std::min(kMaxThreads, std::thread::hardware_concurrency()));
  return detail::searchAlongLineSplit(
      a, b, source, M, windowSize, band, threshold, cores, kSamplesPerThread);
}

namespace detail {

ImagePosition searchAlongLineSplit(const Image& a,
                                   const Image& b,
                                   ImagePosition source,
                                   const Matrix& M,
                                   int windowSize,
                                   int band,
                                   float threshold,
                                   unsigned maxThreads,
                                   long long samplesPerThread) {
  const detail::SearchLine line = detail::beginSearch(M, source, b.width, b.height);
  if (!line.finite || a.width <= 0 || a.height <= 0) return {};
  const SearchWalk walk = planSearchWalk(line.line, line.ends, b.width, b.height, band);
  if (walk.steps.empty()) return {};

  const int half = detail::halfWindow(windowSize);
  const Geometry geometry{walk.alongColumns,
                          walk.alongColumns ? b.width : b.height,
                          walk.alongColumns ? b.height : b.width,
                          half};

  // The source window, in the reference's sample order: rows top to bottom, columns left
  // to right.
  const int sx = detail::sourceIndex(source.x);
  const int sy = detail::sourceIndex(source.y);
  std::vector<SourceSample> samples;
  samples.reserve(static_cast<std::size_t>(2 * half + 1) * (2 * half + 1));
  for (int v = -half; v <= half; ++v) {
    for (int u = -half; u <= half; ++u) {
      SourceSample sample{};
      sample.outer = walk.alongColumns ? u : v;
      sample.inner = walk.alongColumns ? v : u;
      a.pixel(std::clamp(sx + u, 0, a.width - 1), std::clamp(sy + v, 0, a.height - 1))
          .toHsv(sample.h, sample.s, sample.v);
      samples.push_back(sample);
    }
  }

  // Cut the walk into pieces of about equal candidate counts.
  const long long candidates = walk.candidates();
  const long long work = candidates * static_cast<long long>(samples.size());
  const unsigned pieces = static_cast<unsigned>(std::clamp<long long>(
      work / std::max(samplesPerThread, 1LL),
      1,
      std::max<long long>(1, std::min<long long>(maxThreads, walk.steps.size()))));
  std::vector<std::size_t> bounds{0};
  long long seen = 0;
  for (std::size_t i = 0; i < walk.steps.size() && bounds.size() < pieces; ++i) {
    seen += walk.steps[i].hi - walk.steps[i].lo;
    if (seen * pieces >= candidates * static_cast<long long>(bounds.size()))
      bounds.push_back(i + 1);
  }
  while (bounds.size() <= pieces) bounds.push_back(walk.steps.size());

  std::vector<Best> bests(pieces);
  std::vector<std::thread> helpers;
  for (unsigned piece = 1; piece < pieces; ++piece) {
    auto runPiece = [&, piece] {
      bests[piece] =
          searchSteps(b, samples, geometry, walk, bounds[piece], bounds[piece + 1], threshold);
    };
    try {
      helpers.emplace_back(runPiece);
    } catch (const std::system_error&) {
      runPiece();  // no thread to be had: the same piece, on this thread
    }
  }
  bests[0] = searchSteps(b, samples, geometry, walk, bounds[0], bounds[1], threshold);
  for (std::thread& helper : helpers) helper.join();

  // Pieces follow the walking order, so a later piece wins only with a strictly higher score.
  Best best = bests[0];
  for (unsigned piece = 1; piece < pieces; ++piece) {
    if (bests[piece].score > best.score) best = bests[piece];
  }
  return best.position;
}

}  // namespace detail
}  // namespace epipolar
