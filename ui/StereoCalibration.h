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
// only by a restore that was declined.
//
// Log: what geometry's calibrate and computeEpipoles write (geometry/Calibration.h).
// Threads: UI thread only. A calibration blocks the caller for the whole estimation.
#pragma once

#include <span>

#include "geometry/Correspondence.h"
#include "geometry/Matrix.h"

namespace epipolar {

class StereoCalibration {
 public:
  const Matrix& fundamental() const { return fundamental_; }
  // Unit null vectors of F: transpose(F) * epipole0 = 0 and F * epipole1 = 0.
  const Vector& epipole0() const { return epipole0_; }
  const Vector& epipole1() const { return epipole1_; }
  // True when F and the epipoles are to be used for lines and matches.
  bool calibrated() const { return calibrated_; }

  // Estimates F and its epipoles from `pairs` (key C) and sets `calibrated`. With too few
  // pairs it logs so, changes nothing and returns false.
  bool calibrate(std::span<const Correspondence> pairs);
  // Takes a stored F and its epipoles (logged "Epipole 0: ", "Epipole 1: "); `use` decides
  // whether they are in use.
  void restore(const Matrix& F, bool use);

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
};

}  // namespace epipolar
