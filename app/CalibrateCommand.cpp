#include "app/CalibrateCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <span>
#include <string_view>
#include <utility>

#include "geometry/Calibration.h"
#include "geometry/RandSequence.h"
#include "log/DebugStream.h"
#include "session/PairReader.h"
#include "session/Session.h"

namespace epipolar {
namespace {

constexpr const char* kPrefix = "epipolar calibrate: ";

// While alive, the log lines go to `err` instead of the process's sink.
class LogToStream {
 public:
  explicit LogToStream(std::ostream& err)
      : previous_(setLogSink([&err](std::string_view unit) {
          err.write(unit.data(), static_cast<std::streamsize>(unit.size()));
          err.flush();
        })) {}
  ~LogToStream() { setLogSink(std::move(previous_)); }
  LogToStream(const LogToStream&) = delete;
  LogToStream& operator=(const LogToStream&) = delete;

 private:
  LogSink previous_;
};

const char* methodName(FundamentalMethod method) {
  return method == FundamentalMethod::kClassic ? "classic" : "accurate";
}

std::string matrixRows(const Matrix3x3& F) {
  std::string text;
  char row[3 * 26 + 4];
  for (int r = 0; r < 3; ++r) {
    std::snprintf(row, sizeof row, "%.17g %.17g %.17g\n", F[3 * r], F[3 * r + 1], F[3 * r + 2]);
    text += row;
  }
  return text;
}

int fail(std::ostream& err, int status, const std::string& message) {
  err << kPrefix << message << '\n' << std::flush;
  return status;
}

int run(const CalibrateArguments& arguments,
        std::istream& in,
        std::ostream& out,
        std::ostream& err) {
  FundamentalOptions options;
  options.method = arguments.method;
  if (arguments.threshold) {
    if (arguments.method == FundamentalMethod::kClassic) {
      return fail(err,
                  kExitBadInput,
                  "--threshold applies to the accurate method only (the classic one has a "
                  "fixed bound)");
    }
    options.inlierThreshold = *arguments.threshold;
  }
  if (const std::string problem = options.check(); !problem.empty()) {
    return fail(err, kExitBadInput, "--threshold: " + problem);
  }

  const bool standardInput = arguments.pairs == "-";
  const std::string name = standardInput ? "standard input" : arguments.pairs;
  const PairFile file = standardInput ? readPairStream(in, name) : readPairFile(arguments.pairs);
  if (!file.ok()) return fail(err, kExitBadInput, file.error);
  const std::vector<Correspondence>& pairs = file.session.pairs;

  // A fresh sequence: the samples of the program's first C, whatever ran before in-process.
  RandSequence random;
  options.random = &random;
  Matrix F(3, 3);
  Vector epipole0;
  Vector epipole1;
  FundamentalReport report;
  bool calibrated = false;
  {
    LogToStream log(err);
    installGslErrorHandler();
    calibrated =
        calibrate(std::span<const Correspondence>(pairs), F, epipole0, epipole1, options, &report);
  }
  if (pairs.size() < static_cast<std::size_t>(kMinCalibrationPoints)) {
    return fail(err,
                kExitNoCalibration,
                std::to_string(pairs.size()) + " pairs in " + name + ": at least " +
                    std::to_string(kMinCalibrationPoints) + " are needed");
  }
  if (!calibrated || !report.found) {
    return fail(err,
                kExitNoCalibration,
                "no model found for " + std::to_string(pairs.size()) + " pairs in " + name + " (" +
                    methodName(arguments.method) + " method)");
  }

  if (arguments.format == CalibrateArguments::Format::json) {
    Session session = fittedSession(pairs, report, methodName(arguments.method));
    session.cameras = file.session.cameras;
    out << sessionJson(session);
  } else {
    out << matrixRows(report.F);
  }
  out.flush();
  if (!out) return fail(err, kExitBadInput, "the result cannot be written to standard output");
  return kExitCalibrated;
}

}  // namespace

CLI::App* addCalibrateCommand(CLI::App& app, CalibrateArguments& arguments) {
  CLI::App* command = app.add_subcommand(
      "calibrate", "estimate the fundamental matrix of a pairs file and print it (no window)");
  command->footer(
      "Standard output: F as three rows of three numbers (text), or the session JSON (json).\n"
      "Standard error: the calibration log, as key C writes it in the program.\n"
      "Exit status: 0 done; 1 fewer than 8 pairs or no model found; 2 unreadable or malformed\n"
      "input, or a usage error.");
  command
      ->add_option("PAIRS",
                   arguments.pairs,
                   "pairs: 'x0 y0 x1 y1' text, a session JSON or a cams.conf; - reads standard "
                   "input")
      ->required()
      ->type_name("FILE");
  // Each name goes through IsMember, so a wrong one is refused with the names to choose from.
  command
      ->add_option_function<std::string>(
          "--method",
          [&arguments](const std::string& name) {
            arguments.method =
                name == "classic" ? FundamentalMethod::kClassic : FundamentalMethod::kAccurate;
          },
          "accurate (default): LO-RANSAC on the Sampson distance with refinement; classic: the "
          "program's estimator without --assist, with its log and F")
      ->check(CLI::IsMember({"classic", "accurate"}))
      ->type_name("METHOD");
  command
      ->add_option("--threshold",
                   arguments.threshold,
                   "accurate method: inlier bound on the Sampson distance, pixels (default 1)")
      ->type_name("PX");
  command
      ->add_option_function<std::string>(
          "--format",
          [&arguments](const std::string& name) {
            arguments.format = name == "json" ? CalibrateArguments::Format::json
                                              : CalibrateArguments::Format::text;
          },
          "text (default): F as three rows of %.17g numbers; json: the session JSON with the "
          "pairs, their residuals and inlier flags")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT");
  return command;
}

int runCalibrateCommand(const CalibrateArguments& arguments,
                        std::istream& in,
                        std::ostream& out,
                        std::ostream& err) {
  try {
    return run(arguments, in, out, err);
  } catch (const std::exception& error) {
    // Out of memory, in practice: the reader bounds the input, the estimators do not throw.
    return fail(err, kExitBadInput, error.what());
  }
}

}  // namespace epipolar
