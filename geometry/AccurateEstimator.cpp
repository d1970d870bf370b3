#include "geometry/AccurateEstimator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace epipolar {
MsacScore SampsonMsacScorer::worst() { return {std::numeric_limits<double>::infinity(), 0}; }

MsacScore SampsonMsacScorer::score(const Matrix3x3& F,
                                   std::span<const Correspondence> data,
                                   const Score& best) const {
  double cost = 0.0;
  int inliers = 0;
  for (const Correspondence& c : data) {
    const SampsonTerms s = terms(F, c);
    if (isInlier(s)) {
      cost += s.e2 / s.g;
      ++inliers;
    } else {
      cost += threshold2_;
    }
    if (cost >= best.cost) return worst();
  }
  return {cost, inliers};
}

std::vector<bool> SampsonMsacScorer::inlierMask(const Matrix3x3& F,
                                                std::span<const Correspondence> data) const {
  std::vector<bool> mask(data.size());
  for (std::size_t k = 0; k < data.size(); ++k) mask[k] = isInlier(terms(F, data[k]));
  return mask;
}

SprtScorer::SprtScorer(const SampsonMsacScorer& exact, double modelCost, double modelsPerSample)
    : exact_(exact), modelCost_(modelCost), modelsPerSample_(modelsPerSample) {
  updateBound();
}

void SprtScorer::updateBound() {
  const double e = epsilon_, d = delta_;
  const double C = (1 - d) * std::log((1 - d) / (1 - e)) + d * std::log(d / e);
  if (!(e > d) || !(C > 0.0)) {
    // Bad models fit as well as the best one: no pair tells them apart, so none is rejected.
    logBound_ = std::numeric_limits<double>::infinity();
    passProbability_ = 1.0;
    return;
  }
  double A = modelCost_ * C / modelsPerSample_ + 1.0;
  for (int k = 0; k < 10; ++k) A = modelCost_ * C / modelsPerSample_ + 1.0 + std::log(A);
  logInlier_ = std::log(d / e);
  logOutlier_ = std::log((1 - d) / (1 - e));
  logBound_ = std::log(A);
  passProbability_ = 1.0 - 1.0 / A;
}

void SprtScorer::improved(const Score& best, int n) {
  epsilon_ = std::clamp(static_cast<double>(best.inliers) / n, 1e-3, 1.0 - 1e-3);
  updateBound();
}

MsacScore SprtScorer::score(const Matrix3x3& F,
                            std::span<const Correspondence> data,
                            const Score& best) {
  const double threshold2 = exact_.threshold2();
  double cost = 0.0, logLambda = 0.0;
  int inliers = 0;
  for (std::size_t k = 0; k < data.size(); ++k) {
    const SampsonTerms s = exact_.terms(F, data[k]);
    if (exact_.isInlier(s)) {
      cost += s.e2 / s.g;
      ++inliers;
      logLambda += logInlier_;
    } else {
      cost += threshold2;
      logLambda += logOutlier_;
    }
    if (logLambda > logBound_) {
      rejectedInliers_ += inliers;
      rejectedPairs_ += static_cast<double>(k + 1);
      // delta from the rejected models once there is enough of it; a change of more than a
      // tenth moves the bound.
      if (rejectedPairs_ > 500) {
        const double estimate = std::clamp(rejectedInliers_ / rejectedPairs_, 1e-4, 0.5);
        if (std::fabs(estimate - delta_) > 0.1 * delta_) {
          delta_ = estimate;
          updateBound();
        }
      }
      return worst();
    }
    if (cost >= best.cost) return worst();
  }
  return {cost, inliers};
}

int AdaptiveRunLimit::afterImprovement(int inliers, int n) const {
  const double share = static_cast<double>(inliers) / n;
  const double allInliers = std::pow(share, sampleSize_) * (sprt_ ? sprt_->passProbability() : 1.0);
  // Runs for an all-inlier sample with the given confidence: ln(1 - p) / ln(1 - w^K).
  const double runs = std::ceil(std::log(1.0 - confidence_) / std::log1p(-allInliers));
  if (!(runs < maxRuns_)) return allInliers >= 1.0 ? 1 : maxRuns_;
  return std::max(1, static_cast<int>(runs));
}

bool LeastSquaresLocalOptimiser::refit(const Matrix3x3& from,
                                       std::span<const Correspondence> data,
                                       Matrix3x3& candidate) {
  inliers_.clear();
  weights_.clear();
  for (const Correspondence& c : data) {
    const SampsonTerms s = scorer_.terms(from, c);
    if (!scorer_.isInlier(s)) continue;
    inliers_.push_back(c);
    // Weighting the algebraic residual e by 1 / sqrt(g) makes it the Sampson distance.
    weights_.push_back(1.0 / std::sqrt(s.g));
  }
  return inliers_.size() >= 8 && fitFundamentalLeastSquares(inliers_, weights_, candidate, &from);
}

void LeastSquaresLocalOptimiser::improve(Matrix3x3& F,
                                         MsacScore& score,
                                         std::span<const Correspondence> data) {
  auto accept = [&](const Matrix3x3& candidate) {
    const MsacScore candidateScore = scorer_.score(candidate, data, score);
    if (!SampsonMsacScorer::better(candidateScore, score)) return false;
    F = candidate;
    score = candidateScore;
    return true;
  };
  // Inner RANSAC (Lebeda, Matas and Chum, "Fixing the locally optimized RANSAC", 2012): fits
  // to random subsets of the inliers reach models a fit to all of them, pulled by the pairs
  // near the bound, does not; each one that wins is refined once.
  pool_.clear();
  for (const Correspondence& c : data)
    if (scorer_.isInlier(scorer_.terms(F, c))) pool_.push_back(c);
  const int subset = std::min<int>(kInnerSampleSize, static_cast<int>(pool_.size()) / 2);
  if (subset >= 8) {
    for (int k = 0; k < kInnerSamples; ++k) {
      for (int a = 0; a < subset; ++a) {
        const std::size_t b = a + random_() % (pool_.size() - a);
        std::swap(pool_[a], pool_[b]);
      }
      Matrix3x3 candidate, refined;
      if (!fitFundamentalLeastSquares(std::span(pool_).first(subset), {}, candidate, &F)) continue;
      if (accept(candidate) && refit(F, data, refined)) accept(refined);
    }
  }
  // Reweighted least squares on the inliers while the cost falls by more than a thousandth:
  // the basin is what counts here; the final refinement polishes.
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    const double before = score.cost;
    Matrix3x3 candidate;
    if (!refit(F, data, candidate) || !accept(candidate) || score.cost > (1.0 - 1e-3) * before)
      return;
  }
}

int distinctPairCount(std::span<const Correspondence> pairs) {
  std::vector<Correspondence> sorted(pairs.begin(), pairs.end());
  auto key = [](const Correspondence& c) { return std::tie(c.x0, c.y0, c.x1, c.y1); };
  std::sort(sorted.begin(), sorted.end(), [&](const Correspondence& a, const Correspondence& b) {
    return key(a) < key(b);
  });
  return static_cast<int>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

bool nearlyCollinear(std::span<const Correspondence> pairs, int picture) {
  if (pairs.empty()) return false;
  double mx = 0.0, my = 0.0;
  for (const Correspondence& c : pairs) {
    mx += picture == 0 ? c.x0 : c.x1;
    my += picture == 0 ? c.y0 : c.y1;
  }
  const double n = static_cast<double>(pairs.size());
  mx /= n;
  my /= n;
  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (const Correspondence& c : pairs) {
    const double dx = (picture == 0 ? c.x0 : c.x1) - mx;
    const double dy = (picture == 0 ? c.y0 : c.y1) - my;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
  }
  sxx /= n;
  sxy /= n;
  syy /= n;
  // Eigenvalues of the 2x2 covariance: the mean squared spread along and across the line.
  const double half = 0.5 * (sxx + syy);
  const double root = std::sqrt(0.25 * (sxx - syy) * (sxx - syy) + sxy * sxy);
  const double along = std::sqrt(half + root);
  const double across = std::sqrt(std::max(half - root, 0.0));
  return across < kCollinearPixels || across < kCollinearRatio * along;
}

double dominantPlaneShare(std::span<const Correspondence> inliers,
                          double threshold,
                          std::uint64_t seed) {
  if (inliers.size() < 8) return 0.0;
  // A share needs no more than a few hundred pairs: beyond that an even spread of them.
  std::vector<Correspondence> spread;
  if (inliers.size() > kPlaneTestPairs) {
    for (std::size_t k = 0; k < kPlaneTestPairs; ++k)
      spread.push_back(inliers[k * inliers.size() / kPlaneTestPairs]);
    inliers = spread;
  }
  const int m = static_cast<int>(inliers.size());
  const double bound2 = std::pow(kHomographyThresholdFactor * threshold, 2);
  // Samples for one of four pairs all on a plane holding kDominantPlaneShare of them, with
  // confidence 0.999: ln(0.001) / ln(1 - 0.8^4) = 13.4.
  const int samples =
      static_cast<int>(std::ceil(std::log(0.001) / std::log1p(-std::pow(kDominantPlaneShare, 4))));
  UniformSampler<4> sampler(inliers, seed);
  std::array<Correspondence, 4> sample;
  std::vector<Correspondence> planar;
  auto count = [&](const Matrix3x3& H, std::vector<Correspondence>* out) {
    const Matrix3x3 Hinverse = inverse3x3(H);
    int k = 0;
    for (const Correspondence& c : inliers) {
      if (homographyTransferError2(H, Hinverse, c) < bound2) {
        ++k;
        if (out) out->push_back(c);
      }
    }
    return k;
  };
  int best = 0;
  for (int s = 0; s < samples && best < kDominantPlaneShare * m; ++s) {
    sampler.draw(sample);
    Matrix3x3 H;
    if (!fitHomographyFourPoint(sample, H)) continue;
    planar.clear();
    const int found = count(H, &planar);
    if (found <= best) continue;
    best = found;
    // The four pairs carry their noise into H; a least-squares fit on all its pairs counts the
    // plane's true share.
    Matrix3x3 refined;
    if (planar.size() >= 4 && fitHomographyLeastSquares(planar, refined))
      best = std::max(best, count(refined, nullptr));
  }
  return static_cast<double>(best) / m;
}

}  // namespace epipolar
