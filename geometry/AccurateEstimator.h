// The accurate estimator's parts for the shared loop (geometry/Ransac.h), and its checks for
// degenerate input. LO-RANSAC (Chum, Matas and Kittler, "Locally optimized RANSAC", 2003, in
// the form COLMAP's LORANSAC takes) with MSAC scoring on the Sampson distance in pixels:
//
//   sampler    UniformSampler: K distinct pairs, uniformly, from a generator seeded once per
//              call, so the same pairs give the same F on every start;
//   solver     SevenPointSolver (up to three models per sample) or EightPointSolver;
//   scorer     SampsonMsacScorer: cost = sum over all pairs of min(r^2, t^2), r the Sampson
//              distance, t the inlier bound (inliers: r < t); a model stops being scored once
//              its cost reaches the best one's, which cannot change the outcome. SprtScorer
//              puts Wald's sequential test in front of it, which rejects most bad models
//              after a few dozen pairs;
//   run limit  AdaptiveRunLimit: ceil(ln(1 - confidence) / ln(1 - w^K P)) at the best
//              model's inlier share w, P the chance that the test passes a good model, never
//              more than the work bound allows;
//   local opt. LeastSquaresLocalOptimiser: least-squares fits to random subsets of a model's
//              inliers (an inner RANSAC), then least squares on all of them, each pair
//              weighted by the inverse of its Sampson gradient norm under the current model
//              (so the algebraic error approximates the Sampson one), while the cost falls;
//   log        none (the calibration driver writes the summary).
//
// After the loop, geometry/SampsonRefinement.h refines F over the final inliers.
//
// Convention: (x1, y1, 1) * F * (x0, y0, 1)^T = 0, pixels, origin top-left, y down; models
// are row-major with unit Frobenius norm unless a part says otherwise. Threads: every part
// belongs to one call; no shared state. Failure: degenerate samples give no model and are
// skipped.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/Ransac.h"
#include "geometry/Residuals.h"
#include "geometry/TwoViewSolvers.h"

namespace epipolar {

// Uniformly drawn samples of K distinct pairs: a partial Fisher-Yates shuffle of an index
// permutation kept between draws (each step picks uniformly among the indices not yet
// taken, so any starting order gives uniform samples). The generator is the standard's
// mt19937_64, whose sequence is fixed by the C++ standard, with Lemire's unbiased bounded
// integers ("Fast random integer generation in an interval", 2019): the same seed gives the
// same samples everywhere.
template <int K>
class UniformSampler {
 public:
  UniformSampler(std::span<const Correspondence> data, std::uint64_t seed)
      : data_(data), indices_(data.size()), random_(seed) {
    for (std::size_t k = 0; k < indices_.size(); ++k) indices_[k] = static_cast<std::uint32_t>(k);
  }
  // Needs at least K pairs.
  void draw(std::array<Correspondence, K>& sample) {
    const auto n = static_cast<std::uint32_t>(indices_.size());
    for (int k = 0; k < K; ++k) {
      const std::uint32_t j =
          static_cast<std::uint32_t>(k) + below(n - static_cast<std::uint32_t>(k));
      std::swap(indices_[k], indices_[j]);
      sample[k] = data_[indices_[k]];
    }
  }

 private:
  // Uniform in [0, range).
  std::uint32_t below(std::uint32_t range) {
    std::uint64_t product =
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(random_())) * range;
    auto low = static_cast<std::uint32_t>(product);
    if (low < range) {
      const std::uint32_t floor = static_cast<std::uint32_t>(-range) % range;
      while (low < floor) {
        product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(random_())) * range;
        low = static_cast<std::uint32_t>(product);
      }
    }
    return static_cast<std::uint32_t>(product >> 32);
  }

  std::span<const Correspondence> data_;
  std::vector<std::uint32_t> indices_;
  std::mt19937_64 random_;
};

struct SevenPointSolver {
  static constexpr int kSampleSize = 7;
  static constexpr int kMaxModels = 3;
  using Model = Matrix3x3;
  int fit(const std::array<Correspondence, 7>& sample, std::array<Matrix3x3, 3>& models) const {
    return fitFundamentalSevenPoint(sample, models);
  }
};

struct EightPointSolver {
  static constexpr int kSampleSize = 8;
  static constexpr int kMaxModels = 1;
  using Model = Matrix3x3;
  int fit(const std::array<Correspondence, 8>& sample, std::array<Matrix3x3, 1>& models) const {
    return fitFundamentalEightPoint(sample, models[0]) ? 1 : 0;
  }
};

struct MsacScore {
  double cost;  // pixels^2; +infinity for a model scored no further
  int inliers;
};

// x1^T F x0 squared and the squared norm of its gradient in the pixel coordinates
// (x0, y0, x1, y1): the Sampson distance is sqrt(e2 / g).
struct SampsonTerms {
  double e2;
  double g;
};

class SampsonMsacScorer {
 public:
  using Score = MsacScore;
  // `threshold` in pixels. For pairs given in coordinates scaled by s0 (picture 0) and s1
  // (picture 1) from pixels, pass s0^2 and s1^2: the distance is then still the pixel one.
  explicit SampsonMsacScorer(double threshold, double s0squared = 1.0, double s1squared = 1.0)
      : threshold2_(threshold * threshold), s0squared_(s0squared), s1squared_(s1squared) {}
  static Score worst();
  // Stops, returning worst(), once the partial cost reaches best.cost: every term is >= 0.
  Score score(const Matrix3x3& F, std::span<const Correspondence> data, const Score& best) const;
  static bool better(const Score& a, const Score& b) { return a.cost < b.cost; }
  static int inliers(const Score& s) { return s.inliers; }
  void improved(const Score&, int) {}
  // Pairs with Sampson distance strictly below the bound.
  std::vector<bool> inlierMask(const Matrix3x3& F, std::span<const Correspondence> data) const;

  SampsonTerms terms(const Matrix3x3& F, const Correspondence& c) const {
    const double a1 = F[0] * c.x0 + F[1] * c.y0 + F[2];
    const double b1 = F[3] * c.x0 + F[4] * c.y0 + F[5];
    const double c1 = F[6] * c.x0 + F[7] * c.y0 + F[8];
    const double a0 = F[0] * c.x1 + F[3] * c.y1 + F[6];
    const double b0 = F[1] * c.x1 + F[4] * c.y1 + F[7];
    const double e = a1 * c.x1 + b1 * c.y1 + c1;
    return {e * e, s1squared_ * (a1 * a1 + b1 * b1) + s0squared_ * (a0 * a0 + b0 * b0)};
  }
  // r < t as e^2 < t^2 g: no division, and a pair on an epipole (g = 0) or with non-finite
  // terms is never an inlier.
  bool isInlier(const SampsonTerms& s) const { return s.e2 < threshold2_ * s.g; }
  double threshold2() const { return threshold2_; }

 private:
  double threshold2_;
  double s0squared_;
  double s1squared_;
};

// The same score behind Wald's sequential probability ratio test, which rejects most bad
// models after a few dozen pairs instead of scoring them on all (Chum and Matas, "Optimal
// randomized RANSAC", 2008). Pairs are read in the order given, which should be random.
// Each pair multiplies the likelihood ratio lambda by delta / epsilon when it is an inlier and
// by (1 - delta) / (1 - epsilon) otherwise; the model is rejected once lambda exceeds A.
// epsilon is the best model's inlier share, delta the share of inliers bad models have
// (estimated from the rejected ones), and A the optimal bound for them:
//   A = t_M C / m_S + 1 + ln A,  C = (1 - delta) ln((1 - delta) / (1 - epsilon)) +
//                                    delta ln(delta / epsilon),
// with t_M the cost of a sample's models in pair evaluations and m_S the models per sample.
// A good model is rejected with probability at most 1 / A; AdaptiveRunLimit allows for it.
// t_M and m_S for the 7-point solver, measured on the shared scenes: drawing a sample and
// solving it costs as much as scoring 160 to 180 pairs, and a sample gives 2.1 models on a
// clean scene but 0.25 at 60% outliers, where the orientation check drops most. The bound
// follows t_M / m_S; the clean end keeps it low, so bad models go sooner, at a slightly
// higher risk for good ones (which the run limit allows for).
inline constexpr double kSprtModelCost = 150.0;
inline constexpr double kSprtModelsPerSample = 2.0;

class SprtScorer {
 public:
  using Score = MsacScore;
  SprtScorer(const SampsonMsacScorer& exact, double modelCost, double modelsPerSample);
  static Score worst() { return SampsonMsacScorer::worst(); }
  Score score(const Matrix3x3& F, std::span<const Correspondence> data, const Score& best);
  static bool better(const Score& a, const Score& b) { return a.cost < b.cost; }
  static int inliers(const Score& s) { return s.inliers; }
  // A new best model: its inlier share becomes epsilon.
  void improved(const Score& best, int n);
  // The probability that a good model passes the test, 1 - 1 / A.
  double passProbability() const { return passProbability_; }

 private:
  void updateBound();

  const SampsonMsacScorer& exact_;
  double modelCost_;
  double modelsPerSample_;
  double epsilon_ = 0.1;
  double delta_ = 0.05;
  double logInlier_ = 0.0;
  double logOutlier_ = 0.0;
  double logBound_ = 0.0;
  double passProbability_ = 1.0;
  // Inliers and pairs read over the rejected models, for delta.
  double rejectedInliers_ = 0.0;
  double rejectedPairs_ = 0.0;
};

class AdaptiveRunLimit {
 public:
  // `sprt`, when given, is the test whose pass probability scales the chance of a sample
  // giving an accepted good model.
  AdaptiveRunLimit(double confidence, int sampleSize, int maxRuns, const SprtScorer* sprt = nullptr)
      : confidence_(confidence), sampleSize_(sampleSize), maxRuns_(maxRuns), sprt_(sprt) {}
  int initial(int /*n*/) const { return maxRuns_; }
  int afterImprovement(int inliers, int n) const;

 private:
  double confidence_;
  int sampleSize_;
  int maxRuns_;
  const SprtScorer* sprt_;
};

class LeastSquaresLocalOptimiser {
 public:
  LeastSquaresLocalOptimiser(const SampsonMsacScorer& scorer, std::uint64_t seed)
      : scorer_(scorer), random_(seed) {}
  void improve(Matrix3x3& F, MsacScore& score, std::span<const Correspondence> data);

 private:
  static constexpr int kInnerSamples = 10;
  static constexpr int kInnerSampleSize = 14;
  static constexpr int kMaxIterations = 10;
  // Least squares on the inliers of `from`, weighted to approximate the Sampson distance.
  bool refit(const Matrix3x3& from, std::span<const Correspondence> data, Matrix3x3& candidate);

  const SampsonMsacScorer& scorer_;
  std::mt19937_64 random_;
  std::vector<Correspondence> pool_;
  std::vector<Correspondence> inliers_;
  std::vector<double> weights_;
};

// ---- degenerate input ----

// Pairs that differ in at least one coordinate.
int distinctPairCount(std::span<const Correspondence> pairs);

// True when picture `picture`'s points of `pairs` lie nearly on one line: their spread across
// the best-fitting line (root mean square, pixels) is below kCollinearPixels or below
// kCollinearRatio of their spread along it.
inline constexpr double kCollinearPixels = 1.0;
inline constexpr double kCollinearRatio = 0.02;
bool nearlyCollinear(std::span<const Correspondence> pairs, int picture);

// The share of `inliers` (pairs that fit F) that one homography also explains: the H/F
// inlier-ratio test (as in DEGENSAC, Chum, Werner and Matas, 2005). Homographies through
// four of the pairs, each refitted on its own inliers, at kHomographyThresholdFactor times
// the F bound on the larger transfer distance of the two pictures. Samples are drawn until a
// plane holding kDominantPlaneShare of the pairs would have been found with confidence 0.999
// (all-plane samples are then likely), or one is found.
inline constexpr double kDominantPlaneShare = 0.8;
inline constexpr double kHomographyThresholdFactor = 2.0;
inline constexpr std::size_t kPlaneTestPairs = 200;
double dominantPlaneShare(std::span<const Correspondence> inliers,
                          double threshold,
                          std::uint64_t seed);

}  // namespace epipolar
