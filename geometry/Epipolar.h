// Epipolar geometry derived from a fundamental matrix F, as pure functions.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 for a point (x0, y0) of camera 0 and its
// match (x1, y1) in camera 1. F * (x0, y0, 1) is the epipolar line in image 1, and
// transpose(F) * (x1, y1, 1) the line in image 0. Lines are (a, b, c) with a*x + b*y + c = 0
// in pixels, y pointing down.
//
// Threads: no shared state. computeEpipoles logs through DebugStream; everything else is
// silent. Non-finite input is not guarded: it gives non-finite results, never a crash.
#pragma once

#include "geometry/Matrix.h"

namespace epipolar {

// Decomposes F and stores the unit null vectors exactly as the decomposition returns them
// (not divided by their third component): epipole0 = column 2 of U (transpose(F) * e = 0,
// the epipole in image 0), epipole1 = column 2 of V (F * e = 0, the epipole in image 1).
// Logs "Epipole 0: <a, b, c>" and "Epipole 1: <a, b, c>", one line each.
void computeEpipoles(const Matrix& F, Vector& epipole0, Vector& epipole1);

// The matrix that maps a clicked point to its epipolar line in the other image: a copy of F
// for a point of camera 0, a copy of transpose(F) when `forCamera1` is true (the point lies
// in camera 1 and its line in image 0).
Matrix epipolarMatrix(const Matrix& F, bool forCamera1);

// The two ends, each (x, y, 1), of the line (a, b, c) drawn across a width x height image:
// first the end on the left border side (x = 0, or where the line leaves through the top or
// bottom border), then the end on the right border side (x = width, or the top or bottom
// crossing). A vertical line gives (-c/a, 0) and (-c/a, height). No division is guarded: a
// horizontal line (a = 0) that misses the image yields non-finite ends.
VectorPair clipLineToImage(const Vector& line, int width, int height);

}  // namespace epipolar
