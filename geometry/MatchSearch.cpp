// The parts of the match search that the fast and the reference search share (the logged
// line and the walk), the per-candidate score, and the reference search itself.
#include "geometry/MatchSearch.h"

#include <algorithm>
#include <cmath>

#include "geometry/Epipolar.h"
#include "geometry/MatchSearchInternal.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

struct IndexRange {
  int lo = 0;
  int hi = 0;  // exclusive; hi <= lo means empty
};

// [trunc(start), trunc(end)) with both bounds clamped to [0, limit] in double precision first:
// truncating an infinite or huge double is undefined (and gives INT_MIN on x86-64). A NaN
// bound gives an empty range.
IndexRange boundedRange(double start, double end, int limit) {
  if (std::isnan(start) || std::isnan(end) || limit <= 0) return {};
  const double top = limit;
  const int lo = static_cast<int>(std::clamp(start, 0.0, top));
  const int hi = static_cast<int>(std::clamp(end, 0.0, top));
  return {lo, std::max(lo, hi)};
}

}  // namespace

OffsetRange windowOffsets(int p, int half, int limit) {
  return {std::max(p - half, 0) - p, std::min(limit - 1, p + half) - p};
}

long long SearchWalk::candidates() const {
  long long total = 0;
  for (const Step& step : steps) total += step.hi - step.lo;
  return total;
}

SearchWalk planSearchWalk(
    const Vector& line, const VectorPair& ends, int width, int height, int band) {
  const double a = line[0];
  const double b = line[1];
  const double c = line[2];
  const double W = width;
  const double H = height;
  double px = ends.first[0], py = ends.first[1];
  double qx = ends.second[0], qy = ends.second[1];

  SearchWalk walk;
  // NaN slopes (both ends equal, or non-finite ends) walk along rows.
  walk.alongColumns = std::fabs((qy - py) / (qx - px)) < 1.0;
  if (walk.alongColumns) {
    if (qx < px) {
      std::swap(px, qx);
      std::swap(py, qy);
    }
    const double xEnd = qx == W ? W : std::min(qx + band + 1, W);
    const double xStart = px == 0.0 ? 0.0 : std::max(px - band, 0.0);
    const IndexRange columns = boundedRange(xStart, xEnd, width);
    for (int x = columns.lo; x < columns.hi; ++x) {
      const double yLine = -(a * x + c) / b;
      const IndexRange rows =
          boundedRange(std::max(yLine - band, 0.0), std::min(yLine + band + 1, H), height);
      if (rows.hi > rows.lo) walk.steps.push_back({x, rows.lo, rows.hi});
    }
  } else {
    if (qy < py) {
      std::swap(px, qx);
      std::swap(py, qy);
    }
    const double yEnd = qy == H ? H : std::min(qy + band + 1, H);
    const double yStart = py == 0.0 ? 0.0 : std::max(py - band, 0.0);
    const IndexRange rows = boundedRange(yStart, yEnd, height);
    for (int y = rows.lo; y < rows.hi; ++y) {
      const double xLine = -(b * y + c) / a;
      const IndexRange columns =
          boundedRange(std::max(xLine - band, 0.0), std::min(xLine + band + 1, W), width);
      if (columns.hi > columns.lo) walk.steps.push_back({y, columns.lo, columns.hi});
    }
  }
  return walk;
}

namespace detail {

SearchLine beginSearch(const Matrix& M, ImagePosition source, int width, int height) {
  SearchLine result;
  if (M.rows() == 3 && M.cols() == 3) {
    result.line = M * homogeneousPoint(source.x, source.y);
    const double norm = result.line.norm();
    for (int i = 0; i < 3; ++i) result.line[i] = result.line[i] / norm;
  } else {
    result.line = Vector(3);
    for (int i = 0; i < 3; ++i) result.line[i] = std::nan("");
  }
  logLine("Line: ", result.line);
  result.ends = clipLineToImage(result.line, width, height);
  logLine(result.ends.first, " -> ", result.ends.second);
  result.finite = std::isfinite(result.line[0]) && std::isfinite(result.line[1]) &&
                  std::isfinite(result.line[2]);
  return result;
}

int sourceIndex(double coordinate) {
  // Far outside any picture, clamping the shifted source pixel gives the same border pixel;
  // the bound keeps the index and its window offsets inside int.
  constexpr double kFar = 1 << 30;
  if (std::isnan(coordinate)) return 0;
  return static_cast<int>(std::clamp(coordinate, -kFar, kFar));
}

}  // namespace detail

void logSearchLine(const Image& b, ImagePosition source, const Matrix& M) {
  detail::beginSearch(M, source, b.width, b.height);
}

float matchScore(const Image& a,
                 const Image& b,
                 ImagePosition source,
                 int x,
                 int y,
                 OffsetRange u,
                 OffsetRange v,
                 float threshold) {
  if (!b.contains(x, y) || a.width <= 0 || a.height <= 0) return 0.0f;
  u.lo = std::max(u.lo, -x);
  u.hi = std::min(u.hi, b.width - 1 - x);
  v.lo = std::max(v.lo, -y);
  v.hi = std::min(v.hi, b.height - 1 - y);
  if (u.lo > u.hi || v.lo > v.hi) return 0.0f;

  const int sx = detail::sourceIndex(source.x);
  const int sy = detail::sourceIndex(source.y);
  const int count = (u.hi - u.lo + 1) * (v.hi - v.lo + 1);
  float sum = 0.0f;
  for (int dv = v.lo; dv <= v.hi; ++dv) {
    const int ay = std::clamp(sy + dv, 0, a.height - 1);
    for (int du = u.lo; du <= u.hi; ++du) {
      const int ax = std::clamp(sx + du, 0, a.width - 1);
      const Colour difference = a.pixel(ax, ay).difference(b.pixel(x + du, y + dv));
      float h, s, value;
      difference.toHsv(h, s, value);
      sum += 2.0f * (s + value) + h;
    }
  }
  const float m = sum / count;
  const float m2 = m * m;
  return m2 <= threshold ? (threshold - m2) / threshold : 0.0f;
}

ImagePosition searchAlongLineReference(const Image& a,
                                       const Image& b,
                                       ImagePosition source,
                                       const Matrix& M,
                                       int windowSize,
                                       int band,
                                       float threshold) {
  const detail::SearchLine line = detail::beginSearch(M, source, b.width, b.height);
  if (!line.finite || a.width <= 0 || a.height <= 0) return {};
  const SearchWalk walk = planSearchWalk(line.line, line.ends, b.width, b.height, band);
  const int half = detail::halfWindow(windowSize);

  float bestScore = 0.0f;
  ImagePosition best;
  for (const SearchWalk::Step& step : walk.steps) {
    for (int k = step.lo; k < step.hi; ++k) {
      const int x = walk.alongColumns ? step.index : k;
      const int y = walk.alongColumns ? k : step.index;
      const float score = matchScore(a,
                                     b,
                                     source,
                                     x,
                                     y,
                                     windowOffsets(x, half, b.width),
                                     windowOffsets(y, half, b.height),
                                     threshold);
      if (score > bestScore) {
        bestScore = score;
        best = {static_cast<double>(x), static_cast<double>(y)};
      }
    }
  }
  return best;
}

}  // namespace epipolar
