// `epipolar calibrate PAIRS [--method classic|accurate] [--threshold PX] [--format text|json]`:
// the fundamental matrix of a pairs file, for scripts.
//
// PAIRS is any file the one reader takes (session/PairReader.h: pair text, the session JSON,
// cams.conf), or "-" for standard input. The pairs go through the calibration driver
// (geometry/Calibration.h), so standard error gets the log lines key C writes in the program:
//   accurate (the default)  "Working with N matches", the "Accurate calibration: " summary, a
//                           "Pair i: " line per pair, the "Warning: " lines and the epipoles;
//                           --threshold sets its inlier bound (Sampson distance, pixels,
//                           default 1.0);
//   classic                 the described estimator with the samples the program's first C
//                           after its start draws: the same lines and the same F as there.
// Standard output, on success only:
//   text  F as three rows of three numbers, "%.17g", separated by single blanks;
//   json  the session JSON (session/Session.h): the pairs with residual_px and inlier, F,
//         method, rms_sampson_px, mean_symmetric_px, runs, time_ms, warnings, and the cameras
//         when the input is a session JSON that names them.
// F is row-major, pixels, origin top-left, y down, with (x1, y1, 1) F (x0, y0, 1)^T = 0.
//
// Exit status, with one line "epipolar calibrate: ..." on standard error for each failure:
//   0  F was estimated and written;
//   1  fewer than 8 pairs, or no model found (with either method);
//   2  input that cannot be read or is malformed (the reader's message names the line or
//      key), a usage error (also CLI11's own parse errors), or output that cannot be written.
//
// No window, SDL or GStreamer is touched: the command runs without a display.
// Threads: the caller's. While it runs, the process's log sink writes to `err`; the previous
// sink is back when it returns.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "geometry/Fundamental.h"

namespace CLI {
class App;
}

namespace epipolar {

inline constexpr int kExitCalibrated = 0;
inline constexpr int kExitNoCalibration = 1;
inline constexpr int kExitBadInput = 2;

struct CalibrateArguments {
  enum class Format { text, json };

  std::string pairs;  // a path, or "-" for standard input
  FundamentalMethod method = FundamentalMethod::kAccurate;
  std::optional<double> threshold;  // pixels; accurate only; unset: the estimator's default
  Format format = Format::text;
};

// Adds the `calibrate` subcommand to `app`; parsing fills `arguments`. Returns the subcommand.
CLI::App* addCalibrateCommand(CLI::App& app, CalibrateArguments& arguments);

// Runs the command. `in` is read for PAIRS "-"; F or the JSON goes to `out`; the log and the
// messages go to `err`. Returns the exit status above. Never throws.
int runCalibrateCommand(const CalibrateArguments& arguments,
                        std::istream& in,
                        std::ostream& out,
                        std::ostream& err);

}  // namespace epipolar
