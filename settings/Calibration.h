// The calibration keys of the settings store: what a run writes at its end and what the next
// start offers back.
//
//   section  key                 value
//   ""       matrixStored        "true" when the run ended calibrated, else "false"
//   ""       mat0 .. mat8        F in row-major order (element 3r + k), only when calibrated
//   Cam0     configured          never written; "true" (set by hand) disables the matrix restore
//   Cam0     hasPoints           "true" when points were written; never written "false"
//   Cam1     hasPoints           the same
//   Cam0     pt<i>x, pt<i>y      x0, y0 of correspondence i (i from 0, decimal, no leading zeros)
//   Cam1     pt<i>x, pt<i>y      x1, y1 of correspondence i
//
// Numbers go through setDouble ("%.10g") and getDouble; nothing is ever removed, so keys of
// an earlier run that this run did not overwrite stay in the file (fewer points than before
// keep the higher indices, an uncalibrated run keeps the old mat keys).
//
// Reading: points are read for i = 0, 1, ... while "pt<i>x" of Cam0 has a value, up to
// kPointRestoreLimit points. A missing Cam1 key reads as 0. Values are used exactly as read:
// a stored "nan" or "inf" arrives as a non-finite double.
//
// Pure functions over a ConfigFile; no logging, no file access except through `save` by the
// caller. Threads: the caller's.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "geometry/Matrix.h"
#include "settings/ConfigFile.h"

namespace epipolar {

// The most points a start restores from the file.
inline constexpr std::size_t kPointRestoreLimit = 10000;

// True when the next start should offer the stored matrix: "configured" of Cam0 is not true
// and "matrixStored" is true.
bool storedMatrixOffered(const ConfigFile& settings);

// The 3 x 3 matrix of the keys mat0 .. mat8 (0 for a missing or unreadable key).
Matrix readStoredMatrix(const ConfigFile& settings);

// True when "hasPoints" of Cam0 is true, that is when the points question is asked.
bool storedPointsOffered(const ConfigFile& settings);

// The stored points in index order, at most `limit` of them: (pt<i>x, pt<i>y) of Cam0 as
// (x0, y0) and those of Cam1 as (x1, y1), for consecutive i from 0 while pt<i>x of Cam0 has a
// value. Does not look at "hasPoints".
std::vector<Correspondence> readStoredPoints(const ConfigFile& settings,
                                             std::size_t limit = kPointRestoreLimit);

// Writes the keys of a run's end into the store (without saving): matrixStored; mat0..mat8
// when `calibrated`; when `correspondences` is not empty, hasPoints of Cam0 and Cam1 and every
// point's four keys.
void writeCalibration(ConfigFile& settings,
                      bool calibrated,
                      const Matrix& fundamental,
                      std::span<const Correspondence> correspondences);

}  // namespace epipolar
