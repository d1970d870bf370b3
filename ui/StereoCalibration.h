// The calibration of the camera pair: the fundamental matrix F, its two epipoles, and whether
// they are in use.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0 for a point (x0, y0) of camera 0 and its
// match (x1, y1) in camera 1; pixels, origin top-left, y down; F is 3 x 3.
//
// Invariants: F is all zeros and each epipole has one element, 0, until the first calibration
// or restore. From then on the epipoles always have three elements and are F's null vectors
// (geometry/Epipolar.h), because F changes only together with them, in the two operations
// below. `calibrated` is set by a calibration that ran or by an accepted restore, and cleared
// only by a restore that was declined. lastAccurate() describes the F in use or is empty: an
// accurate calibration that found a model sets it, any other change of F empties it.
//
// Log: what geometry's calibrate and computeEpipoles write (geometry/Calibration.h).
// Threads: UI thread only. A calibration blocks the caller for the whole estimation.
#pragma once

#include <optional>
#include <span>

#include "geometry/Correspondence.h"
#include "geometry/Fundamental.h"
#include "geometry/Matrix.h"
#include "session/Session.h"

namespace epipolar {

class StereoCalibration {
 public:
  const Matrix& fundamental() const { return fundamental_; }
  // Unit null vectors of F: transpose(F) * epipole0 = 0 and F * epipole1 = 0.
  const Vector& epipole0() const { return epipole0_; }
  const Vector& epipole1() const { return epipole1_; }
  // True when F and the epipoles are to be used for lines and matches.
  bool calibrated() const { return calibrated_; }

  // Estimates F and its epipoles from `pairs` with `method` (key C: the described estimator,
  // or the accurate one with --assist) and sets `calibrated`. With too few pairs, or when the
  // accurate estimator finds no model, it logs so, changes nothing and returns false.
  bool calibrate(std::span<const Correspondence> pairs,
                 FundamentalMethod method = FundamentalMethod::kClassic);
  // Takes a stored F and its epipoles (logged "Epipole 0: ", "Epipole 1: "); `use` decides
  // whether they are in use.
  void restore(const Matrix& F, bool use);

  // The outcome of the accurate calibration that gave the F in use: its pairs in marking order,
  // each with its Sampson distance under F and its inlier flag, F, method "accurate", RMS
  // Sampson and mean symmetric error, runs, time and warnings (session/Session.h). Empty when
  // F came from elsewhere (the described estimator, a restore) or before any calibration.
  const std::optional<Session>& lastAccurate() const { return lastAccurate_; }

  // The matrix that maps a point of camera `side` (1 for camera 1, anything else camera 0)
  // to its epipolar line in the other picture: F, or transpose(F) for camera 1.
  Matrix epipolarMatrix(int side) const;
  // The epipolar line, in the other picture, of `point` (x, y, w) of camera `side`:
  // F * point, or transpose(F) * point for camera 1. Not normalised.
  Vector epipolarLine(const Vector& point, int side) const;

 private:
  Matrix fundamental_{3, 3};
  Vector epipole0_;
  Vector epipole1_;
  bool calibrated_ = false;
  std::optional<Session> lastAccurate_;
};

}  // namespace epipolar
