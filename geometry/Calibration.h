// The calibration driver: estimates the fundamental matrix from the marked correspondences,
// logs how well each correspondence fits it, and derives the two epipoles.
//
// Log (DebugStream), one line each:
//   fewer than kMinCalibrationPoints correspondences: "Can't calibrate, too few points", and
//   nothing changes;
//   otherwise "Working with " n " matches", the estimation's own lines, then for every
//   correspondence in order "Test results: " l0 " * " x1 " + " l1 " * " y1 " + " l2 " = " r,
//   where (l0, l1, l2) = F * (x0, y0, 1) divided by its norm and r = l1*y1 + l0*x1 + l2 is
//   the signed residual of the camera-1 point, then "Epipole 0: " and "Epipole 1: ".
//
// F is replaced only when a RANSAC run finds inliers; otherwise the previous F is kept and
// still tested and decomposed, and the call still counts as a calibration. An F that is not
// 3x3 is taken as the 3x3 zero matrix.
// Threads: blocks the caller for the whole estimation; no shared state besides the
// estimation's sample generator.
#pragma once

#include <list>
#include <span>

#include "geometry/Matrix.h"

namespace epipolar {

inline constexpr int kMinCalibrationPoints = 8;

// Returns true when it calibrated (F, epipole0 and epipole1 written), false when there were
// too few correspondences (nothing written).
bool calibrate(std::span<const Correspondence> correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1);
bool calibrate(const std::list<Correspondence>& correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1);

}  // namespace epipolar
