#include "geometry/Calibration.h"

#include <cstdio>
#include <string>
#include <vector>

#include "geometry/Epipolar.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

void logTestResults(std::span<const Correspondence> correspondences, const Matrix& F) {
  for (const Correspondence& c : correspondences) {
    Vector l = F * homogeneousPoint(c.x0, c.y0);
    const double norm = l.norm();
    for (int i = 0; i < l.count(); ++i) l[i] = l[i] / norm;
    const double residual = l[1] * c.y1 + l[0] * c.x1 + l[2];
    logLine("Test results: ",
            l[0],
            " * ",
            c.x1,
            " + ",
            l[1],
            " * ",
            c.y1,
            " + ",
            l[2],
            " = ",
            residual);
  }
}

void logWarnings(const FundamentalReport& report) {
  for (const std::string& warning : report.warnings) logLine("Warning: ", warning);
}

void logAccurateResults(std::span<const Correspondence> correspondences,
                        const Matrix& F,
                        const FundamentalReport& report) {
  logLine(accurateSummaryLine(report, static_cast<int>(correspondences.size())));
  Matrix3x3 f;
  std::copy(F.data(), F.data() + 9, f.begin());
  for (std::size_t k = 0; k < correspondences.size(); ++k) {
    const bool inlier = report.inlierMask[k];
    logLine(
        accuratePairLine(static_cast<int>(k) + 1, sampsonDistance(f, correspondences[k]), inlier));
  }
  logWarnings(report);
}

}  // namespace

std::string accurateSummaryLine(const FundamentalReport& report, int pairCount) {
  char line[160];
  std::snprintf(line,
                sizeof line,
                "Accurate calibration: %d of %d pairs are inliers, RMS error %.2f px, %.1f ms",
                report.inlierCount,
                pairCount,
                report.rmsSampson,
                report.timeMs);
  return line;
}

std::string accurateFailureLine(const FundamentalReport& report, int pairCount) {
  char line[120];
  std::snprintf(line,
                sizeof line,
                "Accurate calibration: no model found for %d pairs, %.1f ms",
                pairCount,
                report.timeMs);
  return line;
}

std::string accuratePairLine(int number, double residual, bool inlier) {
  char line[96];
  std::snprintf(line,
                sizeof line,
                "Pair %d: residual %.2f px %s",
                number,
                residual,
                inlier ? "inlier" : "outlier");
  return line;
}

bool calibrate(std::span<const Correspondence> correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1,
               const FundamentalOptions& options,
               FundamentalReport* report) {
  const int n = static_cast<int>(correspondences.size());
  if (n < kMinCalibrationPoints) {
    logLine("Can't calibrate, too few points");
    return false;
  }
  logLine("Working with ", n, " matches");

  // F is a 3x3 matrix from here on, also when no model is found and F keeps its value.
  if (F.rows() != 3 || F.cols() != 3) F = Matrix(3, 3);
  if (options.method == FundamentalMethod::kClassic) {
    // The described estimator writes to F only when a run finds inliers; its normalising
    // transforms are not needed here.
    Matrix T0(3, 3);
    Matrix T1(3, 3);
    if (report) {
      *report = estimateFundamental(correspondences, options);
      if (report->found) std::copy(report->F.begin(), report->F.end(), F.data());
    } else if (options.random) {
      estimateFundamental(correspondences, T0, T1, F, *options.random);
    } else {
      estimateFundamental(correspondences, T0, T1, F);
    }
    logTestResults(correspondences, F);
  } else {
    const FundamentalReport estimate = estimateFundamental(correspondences, options);
    if (report) *report = estimate;
    if (!estimate.found) {
      // Residuals and epipoles of an F that did not come from these pairs would read as
      // their result: the failure and its reasons are all there is to say.
      logLine(accurateFailureLine(estimate, n));
      logWarnings(estimate);
      return false;
    }
    std::copy(estimate.F.begin(), estimate.F.end(), F.data());
    logAccurateResults(correspondences, F, estimate);
  }
  computeEpipoles(F, epipole0, epipole1);
  return true;
}

bool calibrate(const std::list<Correspondence>& correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1,
               const FundamentalOptions& options,
               FundamentalReport* report) {
  const std::vector<Correspondence> array(correspondences.begin(), correspondences.end());
  return calibrate(std::span<const Correspondence>(array), F, epipole0, epipole1, options, report);
}

}  // namespace epipolar
