#include "geometry/Fundamental.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>

#include "geometry/AccurateEstimator.h"
#include "geometry/SampsonRefinement.h"
#include "geometry/SmallMatrix.h"
#include "geometry/TwoViewSolvers.h"

namespace epipolar {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLeverageRounds = 2;
constexpr double kHighLeverage = 3.0;
constexpr double kBiweightCutoff = 3.0;
// Up to this many pairs a fit to all of them competes with the loop's best model.
constexpr int kWholeSetRivalPairs = 64;
constexpr int kMaxRefinementIterations = 50;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// rmsSampson and meanSymmetric over the pairs the mask marks.
void pixelErrors(std::span<const Correspondence> correspondences, FundamentalReport& report) {
  double squares = 0.0, symmetric = 0.0;
  for (std::size_t k = 0; k < correspondences.size(); ++k) {
    if (!report.inlierMask[k]) continue;
    const double r = sampsonDistance(report.F, correspondences[k]);
    squares += r * r;
    symmetric += symmetricEpipolarDistance(report.F, correspondences[k]);
  }
  const double count = report.inlierCount;
  report.rmsSampson =
      count > 0 ? std::sqrt(squares / count) : std::numeric_limits<double>::quiet_NaN();
  report.meanSymmetric = count > 0 ? symmetric / count : std::numeric_limits<double>::quiet_NaN();
}

FundamentalReport classicReport(std::span<const Correspondence> correspondences,
                                RandSequence& random) {
  const Clock::time_point start = Clock::now();
  const auto result = estimateClassic(correspondences, random);
  FundamentalReport report;
  report.runs = result.runs;
  report.error = result.score.error;
  if (result.found) {
    report.found = true;
    report.F = result.model.F;
    report.T0 = result.model.T0;
    report.T1 = result.model.T1;
    report.inlierMask = NormalisedLineScorer::inlierMask(report.F, correspondences);
    report.inlierCount = result.score.inliers;
    pixelErrors(correspondences, report);
  }
  report.timeMs = millisecondsSince(start);
  return report;
}

// The loop runs on pairs normalised once (centroid 0, mean distance sqrt(2) in each picture),
// which keeps the 7-point solver well conditioned without normalising every sample; the
// scorer measures Sampson distances in pixels all the same. The model comes back in pixels.
std::vector<Correspondence> normalisedPairs(std::span<const Correspondence> correspondences,
                                            const Similarity& t0,
                                            const Similarity& t1) {
  std::vector<Correspondence> normalised;
  normalised.reserve(correspondences.size());
  for (const Correspondence& c : correspondences) {
    normalised.push_back({t0.s * (c.x0 - t0.cx),
                          t0.s * (c.y0 - t0.cy),
                          t1.s * (c.x1 - t1.cx),
                          t1.s * (c.y1 - t1.cy)});
  }
  return normalised;
}

// A model of normalised coordinates in pixels: F = T1^T Fn T0, unit norm.
Matrix3x3 inPixels(const Matrix3x3& Fn, const Similarity& t0, const Similarity& t1) {
  const Matrix3x3 F =
      small::multiply(small::multiply(small::transposed(t1.matrix()), Fn), t0.matrix());
  const double norm = small::frobeniusNorm(F);
  Matrix3x3 unit;
  for (int k = 0; k < 9; ++k) unit[k] = F[k] / norm;
  return unit;
}

template <typename Solver>
RansacResult<Matrix3x3, MsacScore> accurateRansac(std::span<const Correspondence> correspondences,
                                                  const Similarity& t0,
                                                  const Similarity& t1,
                                                  const FundamentalOptions& options) {
  const int n = static_cast<int>(correspondences.size());
  std::vector<Correspondence> normalised = normalisedPairs(correspondences, t0, t1);
  const int runs = static_cast<int>(
      std::min<double>(options.maxRuns, std::max(1.0, std::floor(kAccurateWorkBound / n))));
  // The test reads pairs in the order given: a seeded shuffle makes it a random one.
  std::mt19937_64 order(options.seed ^ 0x9e3779b97f4a7c15ull);
  for (std::size_t k = normalised.size(); k > 1; --k)
    std::swap(normalised[k - 1], normalised[order() % k]);
  UniformSampler<Solver::kSampleSize> sampler(normalised, options.seed);
  Solver solver;
  // Normalised coordinates are pixels times s, so the gradient of x1^T F x0 in pixels is s
  // times the normalised one.
  SampsonMsacScorer scorer(options.inlierThreshold, t0.s * t0.s, t1.s * t1.s);
  SilentRunLog log;
  LeastSquaresLocalOptimiser localOptimiser(scorer, options.seed + 1);
  SprtScorer sprt(scorer, kSprtModelCost, kSprtModelsPerSample);
  AdaptiveRunLimit runLimit(options.confidence, Solver::kSampleSize, runs, &sprt);
  auto result = ransac(std::span<const Correspondence>(normalised),
                       sampler,
                       solver,
                       sprt,
                       runLimit,
                       log,
                       localOptimiser);
  if (result.found) result.model = inPixels(result.model, t0, t1);
  return result;
}

// Sum over the pairs of min(d^2, threshold^2), d the Sampson distance in pixels: MSAC's cost.
double truncatedCost(const Matrix3x3& F, std::span<const Correspondence> pairs, double threshold) {
  double cost = 0.0;
  for (const Correspondence& c : pairs) {
    const double d = sampsonDistance(F, c);
    cost += d < threshold ? d * d : threshold * threshold;
  }
  return cost;
}

std::vector<Correspondence> selected(std::span<const Correspondence> pairs,
                                     const std::vector<bool>& mask) {
  std::vector<Correspondence> result;
  for (std::size_t k = 0; k < pairs.size(); ++k)
    if (mask[k]) result.push_back(pairs[k]);
  return result;
}

void warnAboutShape(std::span<const Correspondence> pairs, FundamentalReport& report) {
  const bool line0 = nearlyCollinear(pairs, 0);
  const bool line1 = nearlyCollinear(pairs, 1);
  if (line0 && line1) {
    report.warnings.push_back(
        "All points lie nearly on one line in both pictures: F is poorly constrained.");
  } else if (line0 || line1) {
    report.warnings.push_back("All points lie nearly on one line in picture " +
                              std::to_string(line0 ? 0 : 1) + ": F is poorly constrained.");
  }
}

// The accurate F from the loop's best model, in three steps, and the final inlier mask.
//  1. Levenberg-Marquardt on the Sampson error over the inliers; the refined F may gain or
//     lose pairs near the bound, so it is refitted on the new set until that settles.
//  2. Pairs that pull F onto themselves: a high leverage h (above three times the mean, 7 / m)
//     and a Sampson distance r / (1 - h) under the F fitted without them that is not below
//     the bound. Such a pair sits where no other pair constrains F, typically a false match
//     beyond the inliers' depth range; F is refitted without it and the inliers reselected.
//  3. Tukey's biweight over the pairs within three times the bound: at a 1 px bound and
//     0.5 px noise about one true pair in twenty lies beyond the bound, and with few pairs
//     dropping them costs more accuracy than their down-weighted presence.
std::vector<bool> finalRefinement(std::span<const Correspondence> correspondences,
                                  double threshold,
                                  Matrix3x3& F) {
  const SampsonMsacScorer scorer(threshold);
  std::vector<bool> mask = scorer.inlierMask(F, correspondences);
  auto refitOnInliers = [&](int rounds) {
    for (int round = 0; round < rounds; ++round) {
      const std::vector<Correspondence> inliers = selected(correspondences, mask);
      if (inliers.size() < 8) return;
      F = refineSampson(F, inliers).F;
      std::vector<bool> refined = scorer.inlierMask(F, correspondences);
      const bool settled = refined == mask;
      mask = std::move(refined);
      if (settled) return;
    }
  };
  refitOnInliers(2);

  for (int round = 0; round < kLeverageRounds; ++round) {
    const std::vector<Correspondence> inliers = selected(correspondences, mask);
    if (inliers.size() < 8) break;
    const std::vector<double> h = leverages(F, inliers);
    const double high = kHighLeverage * 7.0 / static_cast<double>(inliers.size());
    std::vector<Correspondence> kept;
    for (std::size_t k = 0; k < inliers.size(); ++k) {
      const bool pulling =
          h[k] > high && !(sampsonDistance(F, inliers[k]) < threshold * (1.0 - h[k]));
      if (!pulling) kept.push_back(inliers[k]);
    }
    if (kept.size() == inliers.size() || kept.size() < 8) break;
    F = refineSampson(F, kept).F;
    mask = scorer.inlierMask(F, correspondences);
    refitOnInliers(1);
  }

  const double cutoff = kBiweightCutoff * threshold;
  const std::vector<Correspondence> near =
      selected(correspondences, SampsonMsacScorer(cutoff).inlierMask(F, correspondences));
  if (near.size() >= 8) {
    F = refineSampson(F, near, kMaxRefinementIterations, cutoff).F;
    mask = scorer.inlierMask(F, correspondences);
  }
  return mask;
}

FundamentalReport accurateReport(std::span<const Correspondence> correspondences,
                                 const FundamentalOptions& options) {
  const Clock::time_point start = Clock::now();
  FundamentalReport report;
  const int n = static_cast<int>(correspondences.size());
  const int distinct = distinctPairCount(correspondences);
  if (distinct < 8) {
    report.warnings.push_back("Only " + std::to_string(distinct) +
                              " distinct pairs: at least 8 are needed.");
  }
  if (n < 8) {
    report.timeMs = millisecondsSince(start);
    return report;
  }

  Similarity t0, t1;
  const bool spread = normalisingSimilarity(correspondences, 0, t0) &&
                      normalisingSimilarity(correspondences, 1, t1);
  RansacResult<Matrix3x3, MsacScore> result;
  if (spread) {
    result = options.solver == MinimalSolver::kSevenPoint
                 ? accurateRansac<SevenPointSolver>(correspondences, t0, t1, options)
                 : accurateRansac<EightPointSolver>(correspondences, t0, t1, options);
  }
  report.runs = result.runs;
  if (!result.found) {
    warnAboutShape(correspondences, report);
    report.warnings.push_back("No model fits the pairs.");
    report.error = std::numeric_limits<double>::infinity();
    report.timeMs = millisecondsSince(start);
    return report;
  }

  Matrix3x3 F = result.model;
  std::vector<bool> mask = finalRefinement(correspondences, options.inlierThreshold, F);
  // With few pairs every minimal sample is poorly conditioned: the loop's best model fits
  // seven pairs exactly and may leave an eighth, true pair beyond the bound, which the
  // refinement then never looks at again. A fit to all the pairs is a rival start; the final
  // models compete on the truncated cost the loop minimises.
  if (n <= kWholeSetRivalPairs) {
    Matrix3x3 Fn;
    if (fitFundamentalLeastSquares(normalisedPairs(correspondences, t0, t1), {}, Fn)) {
      Matrix3x3 rival = refineSampson(inPixels(Fn, t0, t1), correspondences).F;
      std::vector<bool> rivalMask =
          finalRefinement(correspondences, options.inlierThreshold, rival);
      if (truncatedCost(rival, correspondences, options.inlierThreshold) <
          truncatedCost(F, correspondences, options.inlierThreshold)) {
        F = rival;
        mask = std::move(rivalMask);
      }
    }
  }
  // One sign for one geometry: the largest entry positive.
  const auto largest = std::max_element(
      F.begin(), F.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
  if (*largest < 0)
    for (double& v : F) v = -v;

  report.found = true;
  report.F = F;
  report.inlierMask = std::move(mask);
  report.inlierCount =
      static_cast<int>(std::count(report.inlierMask.begin(), report.inlierMask.end(), true));
  pixelErrors(correspondences, report);
  report.error = report.rmsSampson;

  const std::vector<Correspondence> inliers = selected(correspondences, report.inlierMask);
  warnAboutShape(inliers.size() >= 8 ? std::span<const Correspondence>(inliers) : correspondences,
                 report);
  const double plane = dominantPlaneShare(inliers, options.inlierThreshold, options.seed);
  if (plane >= kDominantPlaneShare) {
    report.warnings.push_back("A homography explains " +
                              std::to_string(static_cast<int>(std::lround(100 * plane))) +
                              "% of the inliers: most pairs lie on one plane, so F is poorly "
                              "constrained.");
  }
  report.timeMs = millisecondsSince(start);
  return report;
}

void assign3x3(Matrix& target, const Matrix3x3& m) {
  if (target.rows() != 3 || target.cols() != 3) target = Matrix(3, 3);
  std::copy(m.begin(), m.end(), target.data());
}

}  // namespace

std::string FundamentalOptions::check() const {
  if (method != FundamentalMethod::kAccurate) return {};
  if (!(inlierThreshold > 0.0) || !std::isfinite(inlierThreshold))
    return "the inlier threshold must be a positive number of pixels";
  if (!(confidence > 0.0 && confidence < 1.0)) return "the confidence must lie between 0 and 1";
  if (maxRuns < 1) return "at least one run is needed";
  return {};
}

FundamentalReport estimateFundamental(std::span<const Correspondence> correspondences,
                                      const FundamentalOptions& options) {
  if (options.method == FundamentalMethod::kAccurate) {
    if (const std::string problem = options.check(); !problem.empty()) {
      FundamentalReport report;
      report.warnings.push_back("Invalid options: " + problem + ".");
      return report;
    }
    return accurateReport(correspondences, options);
  }
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
