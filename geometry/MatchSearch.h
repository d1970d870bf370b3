// Search for the pixel of image B that best matches a pixel of image A, near the epipolar
// line of that pixel in B.
//
// The line l = M * (x_s, y_s, 1), divided by its norm, is clipped to B. The search walks
// along it by columns when it is flatter than 45 degrees (by rows otherwise), and at every
// step visits the candidates within `band` pixels across the walking direction. Each
// candidate is scored by matchScore over a window of half-size h = windowSize / 2 kept inside
// B; the first candidate with the highest score, in walking order, wins (strict comparison).
// No candidate above 0 gives (0, 0).
//
// Sample of the window at offset (u, v): the colours A(x_s + u, y_s + v) (clamped inside A)
// and B(x + u, y + v) are converted to HSV and differenced (Colour::difference); the difference
// colour converted to HSV gives 2 * (saturation + value) + hue. Samples are summed in single
// precision, rows of the window top to bottom, each row left to right. With m the mean and
// T the threshold, the score is (T - m^2) / T when m^2 <= T, else 0; identical colours give
// m = -1 (the hue of black) and so (T - 1) / T.
//
// Log (DebugStream): "Line: <a, b, c>" and "<P> -> <Q>" with the clipped end points, one
// line each, on every search. A line that is not finite (F still zero, for instance) is
// logged and then gives (0, 0) without visiting any candidate. Positions that the walk
// derives from the line are clamped before they become pixel indices, so lines that miss the
// picture, or meet it at infinity, visit few candidates or none.
//
// Units: pixels, x to the right, y down. Threads: searchAlongLine runs the candidates on all
// cores (at most 8 threads) and returns when they are done; the images must not change
// during a call. searchAlongLineReference, matchScore and planSearchWalk are single-threaded.
// Every function is reentrant.
#pragma once

#include <vector>

#include "geometry/ImagePosition.h"
#include "geometry/Matrix.h"
#include "imaging/Image.h"

namespace epipolar {

inline constexpr int kMatchWindowSize = 15;
inline constexpr int kMatchBand = 20;
inline constexpr float kMatchThreshold = 15.0f;

// Inclusive range of window offsets.
struct OffsetRange {
  int lo = 0;
  int hi = 0;
  friend bool operator==(const OffsetRange&, const OffsetRange&) = default;
};

// Offsets [max(p - half, 0) - p, min(limit - 1, p + half) - p]: the part of a window of
// half-size `half` around index p that lies inside [0, limit).
OffsetRange windowOffsets(int p, int half, int limit);

// The candidates the search visits, in walking order. Along columns, step.index is a column
// x and the candidates are the rows [lo, hi) of that column; along rows, step.index is a row
// and [lo, hi) are columns. Steps without candidates are left out.
struct SearchWalk {
  struct Step {
    int index = 0;
    int lo = 0;
    int hi = 0;
    friend bool operator==(const Step&, const Step&) = default;
  };
  bool alongColumns = true;
  std::vector<Step> steps;
  long long candidates() const;
};

// The walk for the normalised line (a, b, c) with clipped ends P, Q in a width x height
// picture. Every double is clamped to the picture range before it is truncated to an index;
// a NaN bound gives an empty range.
SearchWalk planSearchWalk(
    const Vector& line, const VectorPair& ends, int width, int height, int band);

// Score of candidate (x, y) of B against the source pixel of A, over the offsets u (columns)
// and v (rows). The ranges are cut to B's bounds; a candidate outside B scores 0.
// Result in [0, 1].
float matchScore(const Image& a,
                 const Image& b,
                 ImagePosition source,
                 int x,
                 int y,
                 OffsetRange u,
                 OffsetRange v,
                 float threshold = kMatchThreshold);

// The search, straightforward: one matchScore per candidate, every sample read and converted
// where it is used. Kept as the reference that searchAlongLine must equal.
ImagePosition searchAlongLineReference(const Image& a,
                                       const Image& b,
                                       ImagePosition source,
                                       const Matrix& M,
                                       int windowSize = kMatchWindowSize,
                                       int band = kMatchBand,
                                       float threshold = kMatchThreshold);

// Forms the line of `source` in B as every search here does, and logs it as they do: "Line: "
// l, then P " -> " Q. For a caller that searches the line by other means (the accurate search,
// geometry/ZnccSearch.h), so that its log still opens with the described lines.
void logSearchLine(const Image& b, ImagePosition source, const Matrix& M);

// The same search, same log lines and same result (ties included), fast: every pixel near
// the walk is converted to HSV once, candidates are scored eight at a time with vector
// arithmetic that keeps each candidate's sum in the reference order, and the walk is split
// across threads whose bests are merged in walking order.
ImagePosition searchAlongLine(const Image& a,
                              const Image& b,
                              ImagePosition source,
                              const Matrix& M,
                              int windowSize = kMatchWindowSize,
                              int band = kMatchBand,
                              float threshold = kMatchThreshold);

}  // namespace epipolar
