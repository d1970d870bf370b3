#include "geometry/Fundamental.h"

#include <algorithm>
#include <mutex>

namespace epipolar {
namespace {

FundamentalReport classicReport(std::span<const Correspondence> correspondences,
                                RandSequence& random) {
  const auto result = estimateClassic(correspondences, random);
  FundamentalReport report;
  report.runs = result.runs;
  report.error = result.score.error;
  if (!result.found) return report;
  report.found = true;
  report.F = result.model.F;
  report.T0 = result.model.T0;
  report.T1 = result.model.T1;
  report.inlierMask = NormalisedLineScorer::inlierMask(report.F, correspondences);
  report.inlierCount = result.score.inliers;
  return report;
}

void assign3x3(Matrix& target, const Matrix3x3& m) {
  if (target.rows() != 3 || target.cols() != 3) target = Matrix(3, 3);
  std::copy(m.begin(), m.end(), target.data());
}

}  // namespace

FundamentalReport estimateFundamental(std::span<const Correspondence> correspondences,
                                      const FundamentalOptions& options) {
  if (options.random) return classicReport(correspondences, *options.random);
  std::lock_guard lock(processRandMutex());
  return classicReport(correspondences, processRandSequence());
}

void estimateFundamental(std::span<const Correspondence> correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F,
                         RandSequence& random) {
  const auto result = estimateClassic(correspondences, random);
  if (!result.found) return;
  assign3x3(F, result.model.F);
  assign3x3(T0, result.model.T0);
  assign3x3(T1, result.model.T1);
}

void estimateFundamental(std::span<const Correspondence> correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F) {
  std::lock_guard lock(processRandMutex());
  estimateFundamental(correspondences, T0, T1, F, processRandSequence());
}

void estimateFundamental(const std::list<Correspondence>& correspondences,
                         Matrix& T0,
                         Matrix& T1,
                         Matrix& F) {
  const std::vector<Correspondence> records(correspondences.begin(), correspondences.end());
  estimateFundamental(std::span<const Correspondence>(records), T0, T1, F);
}

}  // namespace epipolar
