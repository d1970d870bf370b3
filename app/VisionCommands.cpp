#include "app/VisionCommands.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "app/CalibrateCommand.h"
#include "capture/gstreamer/ImageFile.h"
#include "capture/gstreamer/PngFile.h"
#include "geometry/Residuals.h"
#include "session/PairReader.h"
#include "session/Session.h"
#include "vision/AutomaticPairs.h"
#include "vision/Disparity.h"
#include "vision/OpenCvThreads.h"
#include "vision/Rectification.h"

namespace epipolar {
namespace {

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string matrixRows(const Matrix3x3& M) {
  std::string text;
  for (int r = 0; r < 3; ++r) {
    text += number(M[3 * r]) + ' ' + number(M[3 * r + 1]) + ' ' + number(M[3 * r + 2]) + '\n';
  }
  return text;
}

std::string matrixJson(const Matrix3x3& M) {
  std::string text = "[";
  for (int i = 0; i < 9; ++i) text += (i ? ", " : "") + number(M[i]);
  return text + "]";
}

// Reports a failure as the one line of the command and gives its status.
class Failure {
 public:
  Failure(const char* command, std::ostream& err) : command_(command), err_(err) {}
  int operator()(int status, const std::string& message) const {
    err_ << "epipolar " << command_ << ": " << message << '\n' << std::flush;
    return status;
  }

 private:
  const char* command_;
  std::ostream& err_;
};

struct Pictures {
  std::unique_ptr<Image> left;
  std::unique_ptr<Image> right;
};

// Both pictures, or the status of the failure already reported.
std::optional<Pictures> loadPictures(const std::string& left,
                                     const std::string& right,
                                     const Failure& fail,
                                     int& status) {
  Pictures pictures;
  for (const std::string* path : {&left, &right}) {
    ImageFileResult loaded = loadImageFile(*path);
    if (!loaded.image) {
      status = fail(kExitBadInput, loaded.error);
      return std::nullopt;
    }
    (path == &left ? pictures.left : pictures.right) = std::move(loaded.image);
  }
  return pictures;
}

PictureSize sizeOf(const Image& image) { return {image.width, image.height}; }

struct Rectified {
  Pictures pictures;
  Rectification rectification;
  std::vector<Correspondence> inliers;
};

// The pictures, the calibration's inlier pairs and their rectification; on failure the
// message is reported and `status` set.
std::optional<Rectified> rectifyFiles(const std::string& left,
                                      const std::string& right,
                                      const std::string& calibration,
                                      const std::string& pairs,
                                      const Failure& fail,
                                      int& status) {
  if (calibration == "-" || pairs == "-") {
    status = fail(kExitBadInput, "standard input cannot be read here: name the files");
    return std::nullopt;
  }
  const PairFile file = readCalibration(calibration, pairs);
  if (!file.ok()) {
    status = fail(kExitBadInput, file.error);
    return std::nullopt;
  }
  std::optional<Pictures> pictures = loadPictures(left, right, fail, status);
  if (!pictures) return std::nullopt;

  const Session& session = file.session;
  const Matrix3x3& F = *session.F;  // readCalibration refuses a file without F
  Rectified result;
  bool flagged = !session.pairs.empty() && session.fits.size() == session.pairs.size();
  for (const std::optional<PairFit>& fit : session.fits) flagged = flagged && fit.has_value();
  if (flagged) {
    for (std::size_t i = 0; i < session.pairs.size(); ++i) {
      if (session.fits[i]->inlier) result.inliers.push_back(session.pairs[i]);
    }
  } else {
    result.inliers = inliersOf(F, session.pairs, 1.0);
  }

  prepareOpenCvThreads();
  const RectificationResult rectified =
      rectify(F, result.inliers, sizeOf(*pictures->left), sizeOf(*pictures->right));
  if (rectified.outcome != RectificationOutcome::kRectified) {
    status = fail(kExitNoCalibration, rectified.message);
    return std::nullopt;
  }
  result.pictures = std::move(*pictures);
  result.rectification = rectified.rectification;
  return result;
}

int pairs(const PairsArguments& arguments, std::ostream& out, std::ostream& err) {
  const Failure fail("pairs", err);
  int status = 0;
  std::optional<Pictures> pictures = loadPictures(arguments.left, arguments.right, fail, status);
  if (!pictures) return status;

  prepareOpenCvThreads();
  AutomaticPairsOptions options;
  options.maxPairs = arguments.max;
  const AutomaticPairsResult result =
      findAutomaticPairs(*pictures->left, *pictures->right, options);
  for (const std::string& warning : result.warnings) err << "Warning: " << warning << '\n';
  if (result.outcome != AutomaticPairsOutcome::kFound) {
    return fail(kExitNoCalibration, result.message);
  }
  err << automaticPairsLogText(
             static_cast<int>(result.pairs.size()), result.matches, result.milliseconds)
      << '\n'
      << std::flush;

  if (arguments.format == CommandFormat::json) {
    Session session;
    session.pairs = result.pairs;
    session.F = result.F;
    session.method = "automatic";
    session.timeMs = result.milliseconds;
    session.warnings = result.warnings;
    double squares = 0.0;
    for (const Correspondence& pair : result.pairs) {
      const double residual = sampsonDistance(result.F, pair);
      squares += residual * residual;
      session.fits.push_back(PairFit{residual, true});
    }
    session.rmsSampsonPx = std::sqrt(squares / static_cast<double>(result.pairs.size()));
    session.meanSymmetricPx = meanSymmetricEpipolarDistance(result.F, result.pairs);
    session.cameras[0] = {arguments.left, pictures->left->width, pictures->left->height};
    session.cameras[1] = {arguments.right, pictures->right->width, pictures->right->height};
    out << sessionJson(session);
  } else {
    std::string text = "x0,y0,x1,y1\n";
    for (const Correspondence& pair : result.pairs) {
      text += number(pair.x0) + ',' + number(pair.y0) + ',' + number(pair.x1) + ',' +
              number(pair.y1) + '\n';
    }
    out << text;
  }
  out.flush();
  if (!out) return fail(kExitBadInput, "the pairs cannot be written to standard output");
  return 0;
}

int rectifyCommand(const RectifyArguments& arguments, std::ostream& out, std::ostream& err) {
  const Failure fail("rectify", err);
  int status = 0;
  std::optional<Rectified> rectified = rectifyFiles(
      arguments.left, arguments.right, arguments.calibration, arguments.pairs, fail, status);
  if (!rectified) return status;
  const Rectification& r = rectified->rectification;

  for (int index = 0; index < 2; ++index) {
    const std::string& path = index == 0 ? arguments.outLeft : arguments.outRight;
    if (path.empty()) continue;
    const Image& picture = index == 0 ? *rectified->pictures.left : *rectified->pictures.right;
    const RectifyingWarp warp(r, index, sizeOf(picture));
    const std::unique_ptr<Image> warped = warp.apply(picture);
    std::string error;
    if (!warped) return fail(kExitNoCalibration, "the rectified picture could not be made");
    if (!writePngFile(path, *warped, error)) return fail(kExitBadInput, error);
  }

  const VerticalOffsets dy = verticalOffsets(r, rectified->inliers);
  if (arguments.format == CommandFormat::json) {
    out << "{\n  \"H0\": " << matrixJson(r.H0) << ",\n  \"H1\": " << matrixJson(r.H1)
        << ",\n  \"width\": " << r.width << ",\n  \"height\": " << r.height
        << ",\n  \"inlier_count\": " << rectified->inliers.size()
        << ",\n  \"dy_median_px\": " << number(dy.median)
        << ",\n  \"dy_p95_px\": " << number(dy.p95) << "\n}\n";
  } else {
    out << "H0\n"
        << matrixRows(r.H0) << "H1\n"
        << matrixRows(r.H1) << "dy_median_px " << number(dy.median) << "\ndy_p95_px "
        << number(dy.p95) << '\n';
  }
  out.flush();
  if (!out) return fail(kExitBadInput, "the result cannot be written to standard output");
  return 0;
}

int disparity(const DisparityArguments& arguments, std::ostream& out, std::ostream& err) {
  const Failure fail("disparity", err);
  int status = 0;
  std::optional<Rectified> rectified = rectifyFiles(
      arguments.left, arguments.right, arguments.calibration, arguments.pairs, fail, status);
  if (!rectified) return status;

  const Image& left = *rectified->pictures.left;
  const Image& right = *rectified->pictures.right;
  DisparityMatcher matcher(rectified->rectification, sizeOf(left), sizeOf(right));
  const DisparityMap map = matcher.compute(left, right);
  if (map.empty()) return fail(kExitNoCalibration, "no disparity map (out of memory?)");

  std::string error;
  const std::unique_ptr<Image> colour = colourDisparity(map);
  if (!colour || !writePngFile(arguments.out, *colour, error)) {
    return fail(kExitBadInput, error.empty() ? "the colour map could not be made" : error);
  }
  const std::string rawPath = rawDisparityPath(arguments.out);
  if (!writePng16File(rawPath, map.width, map.height, disparityTimes256(map), error)) {
    return fail(kExitBadInput, error);
  }

  // The share is of the pixels rectified LEFT covers: the rest of the map lies outside it.
  std::unique_ptr<Image> white = Image::blank(left.width, left.height);
  for (int y = 0; y < white->height; ++y) std::memset(white->row(y), 255, 3 * left.width);
  const std::unique_ptr<Image> cover =
      RectifyingWarp(rectified->rectification, 0, sizeOf(left)).apply(*white);
  std::size_t covered = 0;
  std::size_t valid = 0;
  for (int y = 0; cover && y < map.height; ++y) {
    const std::uint8_t* row = cover->row(y);
    for (int x = 0; x < map.width; ++x) {
      if (row[3 * x] < 128) continue;
      ++covered;
      valid += std::isfinite(map.at(x, y)) ? 1 : 0;
    }
  }
  char summary[200];
  std::snprintf(summary,
                sizeof summary,
                "Disparity map: %d x %d, valid at %.1f%% of the pixels rectified LEFT covers, "
                "searched %.1f to %.1f px\n",
                map.width,
                map.height,
                covered ? 100.0 * static_cast<double>(valid) / static_cast<double>(covered) : 0.0,
                map.minDisparity,
                map.maxDisparity);
  out << summary << "Wrote " << arguments.out << " and " << rawPath << '\n' << std::flush;
  return 0;
}

template <typename Run>
int guarded(const char* command, std::ostream& err, Run run) {
  try {
    return run();
  } catch (const std::exception& error) {
    // Out of memory, in practice: readers and the vision calls report failures as values.
    return Failure(command, err)(kExitBadInput, error.what());
  }
}

CLI::Option* addFormat(CLI::App& command, CommandFormat& format, const char* help) {
  return command
      .add_option_function<std::string>(
          "--format",
          [&format](const std::string& name) {
            format = name == "json" ? CommandFormat::json : CommandFormat::text;
          },
          help)
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT");
}

void addPictures(CLI::App& command, std::string& left, std::string& right) {
  command.add_option("LEFT", left, "the picture of camera (0)")->required()->type_name("FILE");
  command.add_option("RIGHT", right, "the picture of camera (1)")->required()->type_name("FILE");
}

void addCalibration(CLI::App& command, std::string& calibration, std::string& pairs) {
  command
      .add_option("--calibration",
                  calibration,
                  "F and its pairs: a session JSON or a cams.conf; the calibration YAML needs "
                  "--pairs")
      ->required()
      ->type_name("FILE");
  command
      .add_option("--pairs",
                  pairs,
                  "the pairs to rectify by, in any format the calibrate command reads; without "
                  "inlier flags they are classified by F at 1 px")
      ->type_name("FILE");
}

constexpr const char* kStatusFooter =
    "Exit status: 0 done; 1 too few pairs, no model, or F cannot be rectified; 2 unreadable\n"
    "input, a usage error, or an output that cannot be written.";

}  // namespace

std::string rawDisparityPath(const std::string& out) {
  const std::string suffix = ".png";
  if (out.size() > suffix.size() && out.ends_with(suffix)) {
    return out.substr(0, out.size() - suffix.size()) + "-raw.png";
  }
  return out + "-raw.png";
}

CLI::App* addPairsCommand(CLI::App& app, PairsArguments& arguments) {
  CLI::App* command = app.add_subcommand(
      "pairs", "find matching pairs in two pictures automatically and print them (no window)");
  command->footer(std::string("Standard output: the pairs as CSV x0,y0,x1,y1 (text) or the "
                              "session JSON (json).\n") +
                  kStatusFooter);
  addPictures(*command, arguments.left, arguments.right);
  addFormat(*command,
            arguments.format,
            "text (default): CSV with the header x0,y0,x1,y1; json: the session JSON with F");
  command->add_option("--max", arguments.max, "at most N pairs, the most distinctive first")
      ->check(CLI::Range(1, 1000000))
      ->type_name("N");
  return command;
}

CLI::App* addRectifyCommand(CLI::App& app, RectifyArguments& arguments) {
  CLI::App* command = app.add_subcommand(
      "rectify", "rectify two pictures by a calibration: print H0, H1 and the row offsets");
  command->footer(std::string("Standard output: H0 and H1 (row-major) and the median and 95th "
                              "percentile vertical offset of the inlier pairs.\n") +
                  kStatusFooter);
  addPictures(*command, arguments.left, arguments.right);
  addCalibration(*command, arguments.calibration, arguments.pairs);
  command->add_option("--out-left", arguments.outLeft, "write the rectified LEFT as PNG")
      ->type_name("PATH");
  command->add_option("--out-right", arguments.outRight, "write the rectified RIGHT as PNG")
      ->type_name("PATH");
  addFormat(*command,
            arguments.format,
            "text (default) or json (keys H0, H1, width, height, inlier_count, dy_median_px, "
            "dy_p95_px)");
  return command;
}

CLI::App* addDisparityCommand(CLI::App& app, DisparityArguments& arguments) {
  CLI::App* command = app.add_subcommand(
      "disparity", "rectify two pictures and write their disparity map as PNG (no window)");
  command->footer(std::string("Writes PATH.png in colour and PATH-raw.png as 16-bit grey, "
                              "disparity x 256, 0 invalid.\n") +
                  kStatusFooter);
  addPictures(*command, arguments.left, arguments.right);
  addCalibration(*command, arguments.calibration, arguments.pairs);
  command->add_option("--out", arguments.out, "the colour map's PNG file")
      ->required()
      ->type_name("PATH.png");
  return command;
}

int runPairsCommand(const PairsArguments& arguments, std::ostream& out, std::ostream& err) {
  return guarded("pairs", err, [&] { return pairs(arguments, out, err); });
}

int runRectifyCommand(const RectifyArguments& arguments, std::ostream& out, std::ostream& err) {
  return guarded("rectify", err, [&] { return rectifyCommand(arguments, out, err); });
}

int runDisparityCommand(const DisparityArguments& arguments, std::ostream& out, std::ostream& err) {
  return guarded("disparity", err, [&] { return disparity(arguments, out, err); });
}

}  // namespace epipolar
