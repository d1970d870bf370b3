// The assisted mode's files: the session as it stands in a run, for Ctrl+S and the exit save.
//
// Files, in the working directory (formats: session/Session.h and session/CalibrationYaml.h):
//   epipolar-session.json       the pairs, F, how F was found and each fitted pair's residual
//                               and inlier flag, the cameras' names and picture sizes;
//   epipolar-calibration.yaml   F alone, as OpenCV's FileStorage reads it.
//
// What goes in: F only while it is in use (after C, or a stored matrix accepted at start). The
// fits ("residual_px": Sampson distance under F, "inlier": the estimator's verdict) belong to
// the pairs that the last C of this run estimated F from, found by value, so a pair added or
// moved since has none; the method, errors, runs, time and warnings are that calibration's.
// An F accepted from cams.conf has none of these until C is pressed. Without F the JSON holds
// the pairs and cameras.
//
// Units: pixels, origin top-left, y down; F row-major, (x1, y1, 1) * F * (x0, y0, 1)^T = 0.
// Pure; no file access and no logging. Threads: any.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>

#include "geometry/Correspondence.h"
#include "geometry/Residuals.h"
#include "session/Session.h"

namespace epipolar {

inline constexpr const char* kSessionFileName = "epipolar-session.json";
// Where the exit save keeps an earlier session file it would otherwise replace.
inline constexpr const char* kSessionBackupFileName = "epipolar-session.previous.json";
inline constexpr const char* kCalibrationFileName = "epipolar-calibration.yaml";

// The session of `pairs`, with `F` when one is in use and the two cameras. When `calibration`
// (the outcome of the calibration that gave F, ui/StereoCalibration.h lastAccurate()) holds
// that very F (bit for bit), its method, error summary, runs, time and warnings go in, and
// each pair it estimated F from, found by value, carries its fit.
Session sessionSnapshot(std::span<const Correspondence> pairs,
                        const std::optional<Matrix3x3>& F,
                        const Session* calibration,
                        const std::array<SessionCamera, 2>& cameras);

}  // namespace epipolar
