#include "geometry/AccurateEstimator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "geometry/Fundamental.h"
#include "geometry/SampsonRefinement.h"
#include "geometry/SmallMatrix.h"
#include "geometry/TwoViewSolvers.h"
#include "geometry/testing/SyntheticRig.h"
#include "geometry/testing/UpToScale.h"
#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

using testing::SyntheticRig;

constexpr double kNoisePixels = 0.5;
// Exact data fits to rounding; unit-norm entries agree to about 1e-9.
constexpr double kExactFitTolerance = 1e-7;

FundamentalOptions accurate() {
  FundamentalOptions options;
  options.method = FundamentalMethod::kAccurate;
  return options;
}

// A gross outlier: both points anywhere in the pictures.
Correspondence anywhere(SyntheticRig& rig) {
  return {rig.uniform(0, 640), rig.uniform(0, 480), rig.uniform(0, 640), rig.uniform(0, 480)};
}

// A false match: the point of one scene point in picture 0 with that of another in picture 1,
// as a matcher pairs features that exist in both pictures.
Correspondence falseMatch(SyntheticRig& rig, double sigma) {
  const Correspondence a = rig.noisy(sigma), b = rig.noisy(sigma);
  return {a.x0, a.y0, b.x1, b.y1};
}

TEST(SevenPoint, OneOfTheModelsIsTheTrueGeometry) {
  SyntheticRig rig(3);
  std::array<Correspondence, 7> pairs;
  for (Correspondence& c : pairs) c = rig.exact();
  // The solver takes coordinates of order one.
  Similarity t0, t1;
  ASSERT_TRUE(normalisingSimilarity(pairs, 0, t0) && normalisingSimilarity(pairs, 1, t1));
  std::array<Correspondence, 7> normalised;
  for (int k = 0; k < 7; ++k) {
    const Correspondence& c = pairs[k];
    normalised[k] = {
        t0.s * (c.x0 - t0.cx), t0.s * (c.y0 - t0.cy), t1.s * (c.x1 - t1.cx), t1.s * (c.y1 - t1.cy)};
  }
  std::array<Matrix3x3, 3> models;
  const int count = fitFundamentalSevenPoint(normalised, models);
  ASSERT_GE(count, 1);
  double closest = 1.0;
  for (int m = 0; m < count; ++m) {
    const Matrix3x3 F =
        small::multiply(small::multiply(small::transposed(t1.matrix()), models[m]), t0.matrix());
    EXPECT_NEAR(
        small::determinant(models[m]) / std::pow(small::frobeniusNorm(models[m]), 3), 0.0, 1e-12);
    closest = std::min(closest, testing::differenceUpToScale(F, rig.trueF()));
  }
  EXPECT_LT(closest, kExactFitTolerance);
}

TEST(SampsonMsacScorer, MeasuresPixelDistancesInNormalisedCoordinates) {
  // Picture 1 three times the size of picture 0, so the two normalisations differ.
  SyntheticRig rig(5);
  std::vector<Correspondence> pixels;
  for (int k = 0; k < 300; ++k) {
    Correspondence c = rig.noisy(1.5);
    c.x1 *= 3;
    c.y1 *= 3;
    pixels.push_back(c);
  }
  Matrix3x3 F = rig.trueF();
  for (int k : {0, 1, 2, 3, 4, 5}) F[k] /= 3;  // x1 scaled by 3
  Similarity t0, t1;
  ASSERT_TRUE(normalisingSimilarity(pixels, 0, t0) && normalisingSimilarity(pixels, 1, t1));
  std::vector<Correspondence> normalised;
  for (const Correspondence& c : pixels)
    normalised.push_back({t0.s * (c.x0 - t0.cx),
                          t0.s * (c.y0 - t0.cy),
                          t1.s * (c.x1 - t1.cx),
                          t1.s * (c.y1 - t1.cy)});
  // x1_hat^T Fn x0_hat = x1^T F x0.
  const Matrix3x3 Fn =
      small::multiply(small::multiply(small::transposed(t1.inverse()), F), t0.inverse());
  const SampsonMsacScorer scorer(1.0, t0.s * t0.s, t1.s * t1.s);
  const std::vector<bool> mask = scorer.inlierMask(Fn, normalised);
  int inliers = 0;
  for (std::size_t k = 0; k < pixels.size(); ++k) {
    const double r = sampsonDistance(F, pixels[k]);
    if (std::fabs(r - 1.0) > 1e-9) {
      EXPECT_EQ(mask[k], r < 1.0) << k << " " << r;
    }
    inliers += mask[k];
  }
  EXPECT_GT(inliers, 50);
  EXPECT_LT(inliers, 250);
}

TEST(SampsonRefinement, LowersTheCostAndKeepsRankTwo) {
  SyntheticRig rig(8);
  std::vector<Correspondence> pairs;
  for (int k = 0; k < 200; ++k) pairs.push_back(rig.noisy(kNoisePixels));
  Matrix3x3 start;
  ASSERT_TRUE(fitFundamentalLeastSquares(std::span(pairs).first(8), {}, start));
  const SampsonRefinement refined = refineSampson(start, pairs);
  EXPECT_LT(refined.finalCost, 0.5 * refined.initialCost);
  EXPECT_GT(refined.iterations, 0);
  EXPECT_NEAR(small::determinant(refined.F), 0.0, 1e-12);
  // The minimum of the Sampson error: about the noise, and no worse than the truth's.
  double truth = 0.0;
  for (const Correspondence& c : pairs) truth += std::pow(sampsonDistance(rig.trueF(), c), 2);
  EXPECT_LE(refined.finalCost, truth);
  EXPECT_LT(rig.pixelError(refined.F), 0.5);
}

// 1,000 pairs, half of them false matches, 0.5 px noise on all.
TEST(AccurateEstimator, FitsAsWellAsTheTruthAndSortsOutEveryFarPair) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SyntheticRig rig(seed);
    std::vector<Correspondence> pairs;
    std::vector<bool> isTrue;
    for (int k = 0; k < 1000; ++k) {
      const bool inlier = k % 2 == 0;
      pairs.push_back(inlier ? rig.noisy(kNoisePixels) : falseMatch(rig, kNoisePixels));
      isTrue.push_back(inlier);
    }
    const FundamentalReport report = estimateFundamental(pairs, accurate());
    ASSERT_TRUE(report.found) << seed;
    std::vector<Correspondence> trueInliers;
    for (std::size_t k = 0; k < pairs.size(); ++k)
      if (isTrue[k]) trueInliers.push_back(pairs[k]);
    EXPECT_LE(meanSymmetricEpipolarDistance(report.F, trueInliers),
              1.05 * meanSymmetricEpipolarDistance(rig.trueF(), trueInliers))
        << seed;
    int marked = 0;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      if (sampsonDistance(rig.trueF(), pairs[k]) > 3.0) {
        EXPECT_FALSE(report.inlierMask[k]) << seed << " " << k;
      }
      marked += isTrue[k] && report.inlierMask[k];
    }
    // At 0.5 px noise about 95% of the true pairs lie within the 1 px bound.
    EXPECT_GT(marked, 0.9 * 500) << seed;
    EXPECT_EQ(report.inlierCount,
              std::count(report.inlierMask.begin(), report.inlierMask.end(), true));
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();

    // Reproducible: the same pairs give the same bits.
    const FundamentalReport again = estimateFundamental(pairs, accurate());
    EXPECT_EQ(std::memcmp(again.F.data(), report.F.data(), sizeof report.F), 0);
    EXPECT_EQ(again.inlierMask, report.inlierMask);
  }
}

// Few noisy pairs against the described estimator on the same pairs. Error: mean symmetric
// distance of 500 fresh noise-free pairs of the same rig. Measured over 300 rigs each, ours
// is the closer one in 99.3% of them at 24 pairs, in 96% at 12, and in 72% at 8, where both
// fit eight points with seven degrees of freedom (the described one by the linear 8-point
// method, ours by the Sampson error) and neither is always ahead; its median error is lower
// at every count. The test holds those shares, with some slack, on fewer rigs.
TEST(AccurateEstimator, IsNoWorseThanTheDescribedEstimatorOnFewPairs) {
  for (int count : {8, 12, 24}) {
    const int rigs = count == 8 ? 40 : 10;
    const double share = count == 8 ? 0.6 : count == 12 ? 0.9 : 1.0;
    int closer = 0;
    std::vector<double> ourErrors, describedErrors;
    for (int seed = 0; seed < rigs; ++seed) {
      SyntheticRig rig(100 * count + seed);
      std::vector<Correspondence> pairs;
      for (int k = 0; k < count; ++k) pairs.push_back(rig.noisy(kNoisePixels));
      RandSequence random;
      FundamentalOptions classic;
      classic.random = &random;
      FundamentalReport described;
      {
        testing::LogCapture quiet;
        described = estimateFundamental(pairs, classic);
      }
      const FundamentalReport ours = estimateFundamental(pairs, accurate());
      ASSERT_TRUE(described.found && ours.found) << count << " " << seed;
      std::vector<Correspondence> heldOut;
      for (int k = 0; k < 500; ++k) heldOut.push_back(rig.exact());
      ourErrors.push_back(meanSymmetricEpipolarDistance(ours.F, heldOut));
      describedErrors.push_back(meanSymmetricEpipolarDistance(described.F, heldOut));
      closer += ourErrors.back() <= describedErrors.back();
    }
    std::sort(ourErrors.begin(), ourErrors.end());
    std::sort(describedErrors.begin(), describedErrors.end());
    EXPECT_LT(ourErrors[rigs / 2], describedErrors[rigs / 2]) << count;
    EXPECT_GE(closer, share * rigs) << count;
  }
}

TEST(AccurateEstimator, WarnsAboutDegenerateInput) {
  auto hasWarning = [](const FundamentalReport& report, const std::string& start) {
    return std::any_of(report.warnings.begin(), report.warnings.end(), [&](const std::string& w) {
      return w.rfind(start, 0) == 0;
    });
  };
  SyntheticRig rig(21);

  // A good general scene: none.
  std::vector<Correspondence> general;
  for (int k = 0; k < 200; ++k) general.push_back(k % 3 ? rig.noisy(kNoisePixels) : anywhere(rig));
  EXPECT_TRUE(estimateFundamental(general, accurate()).warnings.empty());

  // Five pairs, each given twice.
  std::vector<Correspondence> repeated;
  for (int k = 0; k < 5; ++k) repeated.insert(repeated.end(), 2, rig.noisy(kNoisePixels));
  EXPECT_TRUE(hasWarning(estimateFundamental(repeated, accurate()), "Only 5 distinct pairs"));

  // Points along one 3D line are on a line in both pictures.
  std::vector<Correspondence> line;
  for (int k = 0; k < 40; ++k)
    line.push_back(rig.pairOf({-1.0 + 0.05 * k, 0.3 - 0.02 * k, 5.0 + 0.03 * k}));
  EXPECT_TRUE(hasWarning(estimateFundamental(line, accurate()),
                         "All points lie nearly on one line in both pictures"));

  // 90% of the pairs on the plane Z = 6 + 0.2 X, the rest anywhere in depth.
  std::vector<Correspondence> plane;
  for (int k = 0; k < 200; ++k) {
    const double X = rig.uniform(-2, 2), Y = rig.uniform(-1.5, 1.5);
    plane.push_back(k % 10 ? rig.pairOf({X, Y, 6.0 + 0.2 * X}) : rig.exact());
  }
  const FundamentalReport planar = estimateFundamental(plane, accurate());
  EXPECT_TRUE(hasWarning(planar, "A homography explains"))
      << ::testing::PrintToString(planar.warnings);

  FundamentalOptions invalid = accurate();
  invalid.inlierThreshold = -1.0;
  EXPECT_FALSE(invalid.check().empty());
  EXPECT_TRUE(hasWarning(estimateFundamental(general, invalid), "Invalid options"));
}

}  // namespace
}  // namespace epipolar
