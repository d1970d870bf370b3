// Pieces shared by the reference and the fast match search; not for other callers.
#pragma once

#include <algorithm>

#include "geometry/MatchSearch.h"
#include "geometry/Matrix.h"

namespace epipolar::detail {

struct SearchLine {
  Vector line;      // M * (x_s, y_s, 1) divided by its norm
  VectorPair ends;  // the line clipped to image B
  bool finite = false;
};

// Forms and clips the line of the source point and logs "Line: " l and P " -> " Q. A matrix
// that is not 3x3 gives a NaN line.
SearchLine beginSearch(const Matrix& M, ImagePosition source, int width, int height);

// The source coordinate truncated toward zero, clamped first so that truncation is defined.
int sourceIndex(double coordinate);

// The fast search with at most `maxThreads` threads, each given at least `samplesPerThread`
// samples. searchAlongLine uses every core and a fixed amount of work per thread; tests use
// this to split small searches too.
ImagePosition searchAlongLineSplit(const Image& a,
                                   const Image& b,
                                   ImagePosition source,
                                   const Matrix& M,
                                   int windowSize,
                                   int band,
                                   float threshold,
                                   unsigned maxThreads,
                                   long long samplesPerThread);

inline int halfWindow(int windowSize) { return std::max(windowSize, 1) / 2; }

}  // namespace epipolar::detail
