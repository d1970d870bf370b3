// The calibration driver: estimates the fundamental matrix from the marked correspondences,
// logs how well each correspondence fits it, and derives the two epipoles.
//
// The method comes from the options (geometry/Fundamental.h); the default is the described
// estimator. Log (DebugStream), one line each:
//   fewer than kMinCalibrationPoints correspondences: "Can't calibrate, too few points", and
//   nothing changes;
//   otherwise "Working with " n " matches", then
//   kClassic: the estimation's own lines, then for every correspondence in order
//     "Test results: " l0 " * " x1 " + " l1 " * " y1 " + " l2 " = " r, where
//     (l0, l1, l2) = F * (x0, y0, 1) divided by its norm and r = l1*y1 + l0*x1 + l2 is the
//     signed residual of the camera-1 point;
//   kAccurate: "Accurate calibration: K of N pairs are inliers, RMS error E px, T ms", then
//     for every correspondence "Pair i: residual R px inlier" (or "outlier"), numbered from 1,
//     R its Sampson distance under F, then one "Warning: " line per warning of the estimate;
//     pixels are written with %.2f and times with %.1f;
//   then "Epipole 0: " and "Epipole 1: ".
//   kAccurate without a model: "Accurate calibration: no model found for N pairs, T ms" and
//   the "Warning: " lines that say why, and nothing else.
//
// kClassic replaces F only when a run finds inliers; otherwise the previous F is kept and
// still tested and decomposed, and the call still counts as a calibration (the described
// behaviour). kAccurate without a model changes nothing and does not count as a calibration:
// an F and epipoles that the pairs did not give would be taken for their result. An F that is
// not 3x3 is taken as the 3x3 zero matrix. The accurate F has unit Frobenius norm and is stored
// and used exactly as the described one (pixels, x1^T F x0 = 0).
// Threads: blocks the caller for the whole estimation; no shared state besides the described
// estimation's sample generator.
#pragma once

#include <list>
#include <span>

#include "geometry/Fundamental.h"
#include "geometry/Matrix.h"

namespace epipolar {

inline constexpr int kMinCalibrationPoints = 8;

// Returns true when it calibrated (F, epipole0 and epipole1 written), false when there were
// too few correspondences or the accurate method found no model (nothing written). With
// `report` given, the estimation's report is copied there when it ran.
bool calibrate(std::span<const Correspondence> correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1,
               const FundamentalOptions& options = {},
               FundamentalReport* report = nullptr);
bool calibrate(const std::list<Correspondence>& correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1,
               const FundamentalOptions& options = {},
               FundamentalReport* report = nullptr);

// The accurate method's summary, failure and per-pair lines, as calibrate writes them.
std::string accurateSummaryLine(const FundamentalReport& report, int pairCount);
std::string accurateFailureLine(const FundamentalReport& report, int pairCount);
std::string accuratePairLine(int number, double residual, bool inlier);

}  // namespace epipolar
