// The session: marked pairs, the fundamental matrix fitted to them and how it was found, in
// memory and as the session JSON file (`epipolar-session.json`, `epipolar calibrate --format
// json`, `epipolar pairs --format json`).
//
// Units and conventions: pixels, origin at the top-left corner, y down; (x0, y0) in camera 0,
// (x1, y1) in camera 1; F is 3 x 3 row-major with (x1, y1, 1) * F * (x0, y0, 1)^T = 0.
//
// The JSON form (keys in this order; a key whose value is unknown is left out):
//   {
//     "pair_count": 3,                  number of pairs, always written
//     "inlier_count": 2,                pairs with "inlier": true; written when a pair has a fit
//     "method": "accurate",             how F was estimated ("classic", "accurate", ...)
//     "F": [f0, ..., f8],               9 numbers, row-major
//     "rms_sampson_px": 0.42,           RMS Sampson distance, pixels, as the estimator reports it
//     "mean_symmetric_px": 0.5,         mean of (d0 + d1) / 2, pixels, as the estimator reports it
//     "runs": 12,                       estimator iterations
//     "time_ms": 1.3,                   estimation time, milliseconds
//     "warnings": ["..."],              the estimator's warnings, in order
//     "cameras": [{"name": "...", "width": 640, "height": 480}, {...}],   camera 0, camera 1
//     "pairs": [
//       {"x0": 1.5, "y0": 2.0, "x1": 3.0, "y1": 4.0, "residual_px": 0.1, "inlier": true},
//       ...                             one pair per line, in marking order
//     ]
//   }
// "residual_px" (the Sampson distance under F) and "inlier" come together, per pair, for the
// pairs that were fitted; pairs added after the fit have neither.
//
// Numbers are written as nlohmann-json writes doubles: the shortest text that reads back to
// the same double (0.1 as "0.1", -0.0 as "-0.0", integral values with ".0"), so every value
// survives a write and a read bit for bit. JSON has no NaN or infinity: a non-finite number is
// written as null, so the text is always valid JSON. On reading, null means "not finite" only
// where that can be meant: a residual_px of null reads as +infinity (a pair sitting on an
// epipole), a summary figure of null reads as unknown; null coordinates or F elements make the
// file bad input. Strings that are not valid UTF-8 (a device name, say) are written with the
// bad bytes replaced by U+FFFD.
//
// Pure functions; no file access and no logging. Threads: any, no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/Fundamental.h"
#include "geometry/Residuals.h"

namespace epipolar {

// A pair's fit under the session's F.
struct PairFit {
  double residualPx = 0.0;  // Sampson distance, pixels; +infinity for a pair on an epipole
  bool inlier = false;
  friend bool operator==(const PairFit&, const PairFit&) = default;
};

// One camera as far as it is known.
struct SessionCamera {
  std::string name;  // "" when unknown
  int width = 0;     // picture size in pixels; both 0 when unknown
  int height = 0;
  friend bool operator==(const SessionCamera&, const SessionCamera&) = default;
};

struct Session {
  std::vector<Correspondence> pairs;
  // fits[i] belongs to pairs[i]; an empty optional (or a missing entry when fits is shorter
  // than pairs) is a pair without a fit. Read files give either no fits or one per pair.
  std::vector<std::optional<PairFit>> fits;
  std::optional<Matrix3x3> F;
  std::string method;  // "" when unknown
  std::optional<double> rmsSampsonPx;
  std::optional<double> meanSymmetricPx;
  std::optional<std::uint64_t> runs;
  std::optional<double> timeMs;
  std::vector<std::string> warnings;
  std::array<SessionCamera, 2> cameras;  // camera 0, camera 1

  // Pairs whose fit says inlier.
  std::size_t inlierCount() const;
};

// The complete bytes of the session JSON file (ending in a line feed), for the caller to save.
std::string sessionJson(const Session& session);

// What an estimate says about `pairs` (the ones it was given, in order), as a session: with a
// model, each pair's fit (its Sampson distance under the report's F, and the report's inlier
// flag), F, the RMS Sampson and mean symmetric errors, runs, time and warnings; without one,
// the pairs without fits, the runs, time and warnings. `method` names the estimator
// ("classic", "accurate"). Cameras are left unknown.
Session fittedSession(std::span<const Correspondence> pairs,
                      const FundamentalReport& report,
                      std::string method);

}  // namespace epipolar
