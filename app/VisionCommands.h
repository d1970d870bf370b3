// The picture subcommands, for scripts: automatic pairs, rectification and disparity of a
// stereo pair of picture files, without a window.
//
//   epipolar pairs LEFT RIGHT [--format text|json] [--max N]
//     The verified automatic pairs of the two pictures (vision/AutomaticPairs.h) on standard
//     output: text is CSV with the header "x0,y0,x1,y1" and one pair per line; json is the
//     session JSON (session/Session.h) with the verifying F, each pair's Sampson residual and
//     inlier flag, method "automatic" and the two pictures as the cameras. Both are read back
//     by `epipolar calibrate`. --max keeps the N most distinctive pairs.
//   epipolar rectify LEFT RIGHT --calibration FILE [--pairs FILE] [--out-left PATH]
//                   [--out-right PATH] [--format text|json]
//     F and the pairs through the one reader (session/PairReader.h, readCalibration): a
//     session JSON or a cams.conf, or the calibration YAML together with --pairs. Pairs
//     without inlier flags are classified by F at the 1 px Sampson bound. Standard output
//     gets H0 and H1 and the vertical offset |y0' - y1'| of the inlier pairs after
//     rectification, median and 95th percentile: text is "H0", three rows of three numbers,
//     "H1", three rows, "dy_median_px V", "dy_p95_px V"; json has the keys H0, H1 (9 numbers
//     each, row-major), width, height (of the rectified pictures), inlier_count,
//     dy_median_px, dy_p95_px. --out-left / --out-right write the rectified pictures as PNG.
//   epipolar disparity LEFT RIGHT --calibration FILE [--pairs FILE] --out PATH.png
//     Rectifies as above and matches by semi-global matching (vision/Disparity.h): PATH.png is
//     the colour-mapped map (invalid pixels black), PATH-raw.png the 16-bit grey map,
//     disparity x 256, 0 where invalid. Standard output gets one summary line.
//
// Conventions: pixels, origin top-left, y down; H row-major, (x', y', w') = H (x, y, 1); F
// row-major with (x1, y1, 1) F (x0, y0, 1)^T = 0 for (x0, y0) in LEFT; numbers "%.17g".
// Pictures are decoded through the same GStreamer chain as --images (capture/gstreamer/
// ImageFile.h), so coordinates agree with the program's windows.
//
// Exit status, with one line "epipolar <command>: ..." on standard error for each failure:
//   0  done;
//   1  too few pairs or no model (pairs), too few inlier pairs or an F that cannot be
//      rectified (rectify, disparity);
//   2  a picture or calibration that cannot be read, a usage error, or an output file that
//      cannot be written.
// Threads: the caller's; OpenCV's own pool does the parallel parts.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace epipolar {

enum class CommandFormat { text, json };

struct PairsArguments {
  std::string left;
  std::string right;
  CommandFormat format = CommandFormat::text;
  int max = 0;  // 0: all verified pairs
};

struct RectifyArguments {
  std::string left;
  std::string right;
  std::string calibration;
  std::string pairs;  // "": the calibration file's own pairs
  std::string outLeft;
  std::string outRight;
  CommandFormat format = CommandFormat::text;
};

struct DisparityArguments {
  std::string left;
  std::string right;
  std::string calibration;
  std::string pairs;
  std::string out;
};

// Each adds its subcommand to `app`; parsing fills the arguments. Returns the subcommand.
CLI::App* addPairsCommand(CLI::App& app, PairsArguments& arguments);
CLI::App* addRectifyCommand(CLI::App& app, RectifyArguments& arguments);
CLI::App* addDisparityCommand(CLI::App& app, DisparityArguments& arguments);

// Each runs its command and returns the exit status above. Never throws.
int runPairsCommand(const PairsArguments& arguments, std::ostream& out, std::ostream& err);
int runRectifyCommand(const RectifyArguments& arguments, std::ostream& out, std::ostream& err);
int runDisparityCommand(const DisparityArguments& arguments, std::ostream& out, std::ostream& err);

// "PATH-raw.png" for "PATH.png" (any other name gets "-raw.png" appended).
std::string rawDisparityPath(const std::string& out);

}  // namespace epipolar
