// The described estimator's steps written plainly with Matrix arithmetic, for tests and
// benchmarks: the estimation loop (geometry/ClassicEstimator.h) must give exactly their bits.
// Nothing in the program calls them.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0, pixels, origin top-left, y down.
// Threads: no shared state.
#pragma once

#include <span>
#include <vector>

#include "geometry/ClassicEstimator.h"
#include "geometry/Matrix.h"
#include "geometry/RandSequence.h"

namespace epipolar {

// Copy of `correspondences` in list order, then 100 swaps of records a and b with
// a = next() mod n drawn before b = next() mod n (a == b allowed).
std::vector<Correspondence> shuffledSampleReference(std::span<const Correspondence> correspondences,
                                                    RandSequence& random);

// Similarity that moves the centroid of the camera-`camera` points (0: x0, y0; 1: x1, y1) of
// the first eight records to the origin and scales their mean distance from it to sqrt(2).
// Rows (s, 0, -s*cx), (0, s, -s*cy), (0, 0, 1). Coincident points give a non-finite s.
Matrix normalisingTransformReference(std::span<const Correspondence> records, int camera);

// Rank-2 F from the first eight normalised pairs (first: camera 0, second: camera 1): the
// null vector of the 9x9 design matrix (row 8 zero), then the smallest singular value of that
// 3x3 matrix set to zero and the others divided by the largest.
Matrix eightPointReference(const std::vector<VectorPair>& pairs);

// epipolarError on a Matrix, one correspondence at a time. A matrix that is not 3x3 scores
// no inliers.
EpipolarErrorResult epipolarErrorReference(const Matrix& F,
                                           std::span<const Correspondence> correspondences);

}  // namespace epipolar
