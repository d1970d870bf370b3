// The calibration YAML (`epipolar-calibration.yaml`): F alone, in the form OpenCV's
// cv::FileStorage reads and writes, so that `fs["F"] >> F` gives the matrix directly:
//
//   %YAML:1.0
//   ---
//   F: !!opencv-matrix
//      rows: 3
//      cols: 3
//      dt: d
//      data: [ f0, f1, f2,
//          f3, f4, f5,
//          f6, f7, f8 ]
//
// F is row-major, pixels, origin top-left, (x1, y1, 1) * F * (x0, y0, 1)^T = 0. Each number is
// written with "%.17g" (17 significant digits read back to the same double), with ".0" added to
// a number that would otherwise look like an integer, so that readers that type numbers by
// their look (OpenCV among them) read a real and keep the sign of -0.0. A non-finite element is
// written as OpenCV writes it (.Nan, .Inf, -.Inf); the reader refuses such a file.
//
// Reading accepts this form and what cv::FileStorage writes for a 3 x 3 matrix of doubles
// (dt: d) or floats (dt: f) under the key F: other top-level keys are skipped, "#" comments
// and "---" lines are ignored, and the data list may span lines. Errors name the line.
//
// Pure functions; no file access and no logging. Threads: any.
#pragma once

#include <string>
#include <string_view>

#include "geometry/Residuals.h"

namespace epipolar {

// The complete bytes of the file (ending in a line feed), for the caller to save.
std::string calibrationYaml(const Matrix3x3& F);

// Reads F from the text of a calibration YAML. Returns "" and sets `F` when read; otherwise
// returns the one-line message ("line 7: data holds 8 numbers, expected 9"), and `F` is left
// unchanged. Through readPairBytes (PairReader.h) the message is prefixed with the file name.
std::string readCalibrationYaml(std::string_view text, Matrix3x3& F);

}  // namespace epipolar
