#include "geometry/Fundamental.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <list>
#include <random>
#include <sstream>

#include "geometry/FundamentalReference.h"
#include "geometry/testing/SyntheticRig.h"
#include "geometry/testing/UpToScale.h"
#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

// Exact data fits to rounding: entries of unit-norm F agree to about 1e-9 in practice.
constexpr double kExactFitTolerance = 1e-7;
// With 0.3 px noise a model fitted to eight of the points is a few tenths of a pixel off
// across the image (mean symmetric distance of noise-free check points).
constexpr double kNoisyFitPixels = 3.0;
constexpr double kNoisePixels = 0.3;
// Planted outliers sit at least this far (in the residual's own units) from the true lines.
constexpr double kOutlierResidual = 4 * kInlierThreshold;

Matrix matrix3(std::initializer_list<double> values) { return Matrix(values.begin(), 3, 3); }

using testing::SyntheticRig;

// Largest of the two residuals on lines scaled by their full norm.
double worstResidual(const Matrix& F, const Correspondence& c) {
  Vector l1 = F * homogeneousPoint(c.x0, c.y0);
  Vector l0 = F.transpose() * homogeneousPoint(c.x1, c.y1);
  const double d1 = std::fabs(l1.dot(homogeneousPoint(c.x1, c.y1))) / l1.norm();
  const double d0 = std::fabs(l0.dot(homogeneousPoint(c.x0, c.y0))) / l0.norm();
  return std::max(d0, d1);
}

// A pair whose camera-1 point is random and far from the true line in the residual's units.
Correspondence outlier(SyntheticRig& rig) {
  Correspondence c = rig.exact();
  for (;;) {
    c.x1 = rig.uniform(0, 640);
    c.y1 = rig.uniform(0, 480);
    const Correspondence one[1] = {c};
    const EpipolarErrorResult strict = epipolarErrorReference(rig.F(), one);
    if (strict.inliers == 0 && worstResidual(rig.F(), c) >= kOutlierResidual) return c;
  }
}

// F as a flat array for differenceUpToScale.
std::span<const double> entries(const Matrix& m) {
  return {m.data(), static_cast<size_t>(m.rows() * m.cols())};
}

double determinant(const Matrix& m) {
  return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
         m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
         m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

TEST(RunLimit, FollowsTheConfidenceFormula) {
  EXPECT_EQ(ransacRunLimit(kAssumedInlierFraction, 8), 7024);
  EXPECT_EQ(ransacRunLimit(0.5, 8), 1176);
  EXPECT_EQ(ransacRunLimit(0.5, 100000), 1176);
  EXPECT_EQ(ransacRunLimit(0.9, 64), 8);
}

TEST(RunLimit, NeverCutsBelowTheFormulaUpTo7024Runs) {
  for (double fraction = 0.4; fraction < 1.0; fraction += 0.01) {
    const int formula = static_cast<int>(std::log(1.0 - kConfidence) /
                                         std::log(1.0 - std::pow(fraction, kSampleSize)));
    for (int count : {8, 64, 1000, 1000000}) EXPECT_EQ(ransacRunLimit(fraction, count), formula);
  }
}

TEST(RunLimit, BoundsTheWorkForFewInliers) {
  const int cap64 = static_cast<int>(kRunWorkBound / 64);
  EXPECT_GT(cap64, kMinRunCap);
  // 10% inliers asks for 46 million runs.
  EXPECT_EQ(ransacRunLimit(0.1, 8), cap64);
  EXPECT_EQ(ransacRunLimit(0.1, 64), cap64);
  EXPECT_EQ(ransacRunLimit(0.1, 640), cap64 / 10);
  EXPECT_EQ(ransacRunLimit(0.1, 100000000), kMinRunCap);
  // Beyond the int range, and where 1 - w^8 rounds to 1 (a zero logarithm).
  EXPECT_EQ(ransacRunLimit(0.05, 64), cap64);
  EXPECT_EQ(ransacRunLimit(1e-3, 64), cap64);
  EXPECT_EQ(ransacRunLimit(0.0, 64), cap64);
  EXPECT_EQ(ransacRunLimit(std::numeric_limits<double>::quiet_NaN(), 64), cap64);
  // Between the bound and 7024 the formula is kept.
  const int formula =
      static_cast<int>(std::log(1.0 - kConfidence) / std::log(1.0 - std::pow(0.3, kSampleSize)));
  EXPECT_EQ(formula, 70187);
  EXPECT_EQ(ransacRunLimit(0.3, 64), formula);
  EXPECT_EQ(ransacRunLimit(0.3, 640), static_cast<int>(kRunWorkBound / 640));
}

TEST(EpipolarError, ResidualIsTakenOnLinesScaledByTheirFullNorm) {
  // Horizontal translation: F (x0, y0, 1) = (0, -1, y0), norm sqrt(1 + y0^2).
  const Matrix F = matrix3({0, 0, 0, 0, 0, -1, 0, 1, 0});
  const Correspondence nearRow[1] = {{10, 0, 20, 0.2}};
  const EpipolarErrorResult result = epipolarErrorReference(F, nearRow);
  EXPECT_EQ(result.inliers, 1);
  const double d1 = 0.2;
  const double d0 = 0.2 / std::sqrt(1 + 0.2 * 0.2);
  EXPECT_DOUBLE_EQ(result.error, d0 * d0 + d1 * d1);
  // 30 px off the line at row 300 is still an inlier: the residual is not a pixel distance.
  const Correspondence farBelow[1] = {{10, 300, 20, 330}};
  EXPECT_EQ(epipolarErrorReference(F, farBelow).inliers, 1);
}

TEST(EpipolarError, AResidualOfExactlyTheThresholdIsNotAnInlier) {
  const Matrix F = matrix3({0, 0, 0, 0, 0, -1, 0, 1, 0});
  const Correspondence onBound[1] = {{10, 0, 20, kInlierThreshold}};
  const EpipolarErrorResult result = epipolarErrorReference(F, onBound);
  EXPECT_EQ(result.inliers, 0);
  EXPECT_EQ(result.error, std::numeric_limits<double>::infinity());
  const Correspondence justInside[1] = {{10, 0, 20, std::nextafter(kInlierThreshold, 0.0)}};
  EXPECT_EQ(epipolarErrorReference(F, justInside).inliers, 1);
  // The fast scorer: three copies reach both its two-at-a-time path and its single tail.
  const Correspondence onBoundThrice[3] = {onBound[0], onBound[0], onBound[0]};
  const EpipolarErrorResult fast = epipolarError({0, 0, 0, 0, 0, -1, 0, 1, 0}, onBoundThrice);
  EXPECT_EQ(fast.inliers, 0);
  EXPECT_EQ(fast.error, std::numeric_limits<double>::infinity());
}

TEST(EpipolarError, SumsEachPairLeftToRight) {
  // Horizontal translation, y0 = 0: d1 = |y1| and d0 = |y1| / sqrt(1 + y1^2). The second pair's
  // squares are each below half a unit in the last place of the first pair's sum, but not
  // together, so (sum + d0^2) + d1^2 and sum + (d0^2 + d1^2) differ.
  const Matrix F = matrix3({0, 0, 0, 0, 0, -1, 0, 1, 0});
  const Correspondence pairs[2] = {{0, 0, 0, 0.2}, {0, 0, 0, 2.2e-9}};
  auto squares = [](double y1) {
    const double d0 = y1 / std::sqrt(1 + y1 * y1);
    return std::pair(d0 * d0, y1 * y1);
  };
  const auto [a0, a1] = squares(0.2);
  const auto [b0, b1] = squares(2.2e-9);
  const double leftToRight = (0.0 + a0 + a1 + b0 + b1) / 2;
  ASSERT_NE(leftToRight, (0.0 + (a0 + a1) + (b0 + b1)) / 2);
  EXPECT_EQ(epipolarErrorReference(F, pairs).error, leftToRight);
  EXPECT_EQ(epipolarError({0, 0, 0, 0, 0, -1, 0, 1, 0}, pairs).error, leftToRight);
}

TEST(EpipolarError, MeanIsOverInliersOnly) {
  const Matrix F = matrix3({0, 0, 0, 0, 0, -1, 0, 1, 0});
  const Correspondence pairs[3] = {{0, 0, 0, 0}, {0, 0, 0, 0.1}, {0, 0, 0, 5}};
  const EpipolarErrorResult result = epipolarErrorReference(F, pairs);
  EXPECT_EQ(result.inliers, 2);
  const double d0 = 0.1 / std::sqrt(1.01);
  EXPECT_DOUBLE_EQ(result.error, (0.01 + d0 * d0) / 2);
}

TEST(EpipolarError, FastScoreIsBitIdentical) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  std::uniform_real_distribution<double> pixel(0.0, 640.0);
  for (int model = 0; model < 50; ++model) {
    // Entry sizes of a pixel-coordinate F: small where two coordinates multiply.
    const double scale[9] = {1e-6, 1e-6, 1e-3, 1e-6, 1e-6, 1e-3, 1e-3, 1e-3, 1.0};
    std::array<double, 9> f;
    for (int k = 0; k < 9; ++k) f[k] = entry(rng) * scale[k];
    if (model == 0) f[4] = NAN;
    SyntheticRig rig(model);
    std::vector<Correspondence> records;
    for (int k = 0; k < 21 + model % 2; ++k)
      records.push_back(k % 3 ? rig.noisy(kNoisePixels) : outlier(rig));
    records.push_back({pixel(rng), pixel(rng), pixel(rng), pixel(rng)});
    const Matrix F(f.data(), 3, 3);
    for (const Matrix& candidate : {F, rig.F()}) {
      std::array<double, 9> values;
      std::copy(candidate.data(), candidate.data() + 9, values.begin());
      const EpipolarErrorResult plain = epipolarErrorReference(candidate, records);
      const EpipolarErrorResult fast = epipolarError(values, records);
      EXPECT_EQ(plain.inliers, fast.inliers);
      EXPECT_EQ(std::memcmp(&plain.error, &fast.error, sizeof(double)), 0)
          << plain.error << " " << fast.error;
    }
  }
}

TEST(BetterRun, MoreInliersWinThenStrictlySmallerError) {
  EXPECT_TRUE(isBetterRun({5.0, 3}, {0.1, 2}));
  EXPECT_TRUE(isBetterRun({0.1, 3}, {0.2, 3}));
  EXPECT_FALSE(isBetterRun({0.2, 3}, {0.2, 3}));  // a tie keeps the first model
  EXPECT_FALSE(isBetterRun({0.3, 3}, {0.2, 3}));
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(isBetterRun({inf, 0}, {inf, 0}));
}

TEST(NormalisingTransform, CentresAndScalesTheFirstEightPoints) {
  std::vector<Correspondence> records;
  for (int k = 0; k < 8; ++k) records.push_back({100.0 + 10 * k, 50.0 - 4 * k, 3.0 * k, 7.0});
  records.push_back({1e6, 1e6, 1e6, 1e6});  // beyond the sample: ignored
  for (int camera : {0, 1}) {
    const Matrix T = normalisingTransformReference(records, camera);
    double meanX = 0, meanY = 0, meanDistance = 0;
    std::vector<Vector> moved;
    for (int k = 0; k < 8; ++k) {
      const Correspondence& c = records[k];
      moved.push_back(camera == 0 ? T * homogeneousPoint(c.x0, c.y0)
                                  : T * homogeneousPoint(c.x1, c.y1));
      meanX += moved.back()[0] / 8;
      meanY += moved.back()[1] / 8;
    }
    for (const Vector& p : moved) meanDistance += std::hypot(p[0], p[1]) / 8;
    EXPECT_NEAR(meanX, 0.0, 1e-12);
    EXPECT_NEAR(meanY, 0.0, 1e-12);
    EXPECT_NEAR(meanDistance, std::sqrt(2.0), 1e-12);
    EXPECT_EQ(T(1, 0), 0.0);
    EXPECT_EQ(T(2, 2), 1.0);
  }
}

TEST(EightPoint, FitsExactPairsWithARank2Matrix) {
  SyntheticRig rig(7);
  std::vector<Correspondence> records;
  for (int k = 0; k < 8; ++k) records.push_back(rig.exact());
  const Matrix T0 = normalisingTransformReference(records, 0);
  const Matrix T1 = normalisingTransformReference(records, 1);
  std::vector<VectorPair> pairs;
  for (const Correspondence& c : records)
    pairs.emplace_back(T0 * homogeneousPoint(c.x0, c.y0), T1 * homogeneousPoint(c.x1, c.y1));
  const Matrix Fn = eightPointReference(pairs);
  EXPECT_NEAR(determinant(Fn), 0.0, 1e-12);
  Matrix U;
  Vector S;
  Matrix V;
  Fn.svd(U, S, V);
  EXPECT_NEAR(S[0], 1.0, 1e-12);
  const Matrix F = T1.transpose() * Fn * T0;
  EXPECT_LT(testing::differenceUpToScale(entries(F), entries(rig.F())), kExactFitTolerance);
}

TEST(EstimateFundamental, EightExactPairsStopAfterTheFirstRun) {
  SyntheticRig rig(11);
  std::vector<Correspondence> records;
  for (int k = 0; k < 8; ++k) records.push_back(rig.exact());
  testing::LogCapture log;
  Matrix T0, T1, F;
  RandSequence random;
  estimateFundamental(records, T0, T1, F, random);
  const std::vector<std::string> lines = log.lines();
  ASSERT_EQ(lines.size(), 3u) << log.text();
  EXPECT_EQ(lines[0], "trying 7024 runs");
  EXPECT_TRUE(startsWith(lines[1], "Run 0: Error: ")) << lines[1];
  EXPECT_TRUE(lines[1].ends_with(", with 8 inliers")) << lines[1];
  EXPECT_TRUE(startsWith(lines[2], "Best error: ")) << lines[2];
  EXPECT_TRUE(lines[2].ends_with(", with 8 inliers")) << lines[2];
  EXPECT_LT(testing::differenceUpToScale(entries(F), entries(rig.F())), kExactFitTolerance);
  ASSERT_EQ(T0.rows(), 3);
  RandSequence fresh;  // the first run's sample
  EXPECT_EQ(T0, normalisingTransformReference(shuffledSampleReference(records, fresh), 0));
}

class ExactScene : public ::testing::TestWithParam<int> {};

TEST_P(ExactScene, TheFirstCleanSampleRecoversTheRigAndEndsTheLoop) {
  SyntheticRig rig(200 + GetParam());
  std::vector<Correspondence> records;
  for (int k = 0; k < GetParam(); ++k) records.push_back(rig.exact());
  testing::LogCapture log;
  Matrix T0, T1, F;
  RandSequence random;
  estimateFundamental(records, T0, T1, F, random);
  // Every pair fits: the limit drops to one run.
  EXPECT_EQ(log.lines().size(), 3u);
  EXPECT_TRUE(log.lines().back().ends_with(", with " + std::to_string(GetParam()) + " inliers"))
      << log.lines().back();
  EXPECT_LT(testing::differenceUpToScale(entries(F), entries(rig.F())), kExactFitTolerance);
  const double norm = Vector(F.data(), 9).norm();
  EXPECT_NEAR(determinant(F) / (norm * norm * norm), 0.0, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(PointCounts, ExactScene, ::testing::Values(8, 64, 1024));

struct NoisyScene {
  int inliers;
  int outliers;
};

class NoisySceneTest : public ::testing::TestWithParam<NoisyScene> {};

// The inlier bound is loose in pixels (the residual divides by the whole line norm, so 0.25
// is tens of pixels across the image), and a run with more inliers always wins. A model
// fitted to eight noisy pairs that also admits a few planted outliers is therefore a normal
// result, and these tolerances are wide. They still catch gross faults: a transposed or
// wrongly denormalised F is off by hundreds of pixels and keeps few inliers.
constexpr double kLooseFitPixels = 60.0;
constexpr double kMinConsensusShare = 0.8;

TEST_P(NoisySceneTest, FindsTheConsensusOfTheRig) {
  const NoisyScene scene = GetParam();
  SyntheticRig rig(100 + scene.inliers);
  std::vector<Correspondence> records;
  for (int k = 0; k < scene.inliers; ++k) records.push_back(rig.noisy(kNoisePixels));
  for (int k = 0; k < scene.outliers; ++k) {
    const int at = static_cast<int>(rig.uniform(0, static_cast<double>(records.size())));
    records.insert(records.begin() + at, outlier(rig));
  }
  testing::LogCapture log;
  Matrix T0, T1, F;
  RandSequence random;
  estimateFundamental(records, T0, T1, F, random);
  const EpipolarErrorResult result = epipolarErrorReference(F, records);
  EXPECT_TRUE(log.lines().back().ends_with(", with " + std::to_string(result.inliers) + " inliers"))
      << log.lines().back();
  EXPECT_GE(result.inliers, kMinConsensusShare * scene.inliers);
  EXPECT_LE(result.inliers, scene.inliers + scene.outliers / 4);
  EXPECT_LT(rig.pixelError(F), kLooseFitPixels);
  // The chosen transforms belong to the chosen model's sample: they are similarities.
  EXPECT_EQ(T0(0, 0), T0(1, 1));
  EXPECT_EQ(T1(0, 0), T1(1, 1));
}

INSTANTIATE_TEST_SUITE_P(PointCounts,
                         NoisySceneTest,
                         ::testing::Values(NoisyScene{8, 0},
                                           NoisyScene{64, 0},
                                           NoisyScene{40, 24},
                                           NoisyScene{640, 384}));

TEST(EstimateFundamental, CoincidentPointsFindNoInliersAndKeepTheInputs) {
  std::vector<Correspondence> records;
  for (int k = 0; k < 8; ++k) records.push_back({5.0, 5.0, 10.0 * k, 3.0 * k * k});
  testing::LogCapture log;
  const Matrix initial = matrix3({1, 2, 3, 4, 5, 6, 7, 8, 9});
  Matrix T0 = initial, T1 = initial, F = initial;
  RandSequence random;
  estimateFundamental(records, T0, T1, F, random);
  EXPECT_EQ(log.lines().size(), 7024u + 2);
  EXPECT_EQ(log.lines().back(), "Best error: inf, with 0 inliers");
  EXPECT_EQ(F, initial);
  EXPECT_EQ(T0, initial);
  EXPECT_EQ(T1, initial);
}

// The described loop written plainly with the public building blocks and Matrix arithmetic.
// The production loop avoids allocations and copies; it must give the same log and the same
// bits.
void referenceEstimate(std::span<const Correspondence> records,
                       Matrix& T0,
                       Matrix& T1,
                       Matrix& F,
                       RandSequence& random) {
  const int n = static_cast<int>(records.size());
  int limit = ransacRunLimit(kAssumedInlierFraction, n);
  DebugStream << "trying " << limit << " runs";
  DebugStream.put('\n');
  DebugStream.flush();
  EpipolarErrorResult best{std::numeric_limits<double>::infinity(), 0};
  int run = 0;
  do {
    const std::vector<Correspondence> shuffled = shuffledSampleReference(records, random);
    const Matrix t0 = normalisingTransformReference(shuffled, 0);
    const Matrix t1 = normalisingTransformReference(shuffled, 1);
    std::vector<VectorPair> pairs;
    for (const Correspondence& c : shuffled)
      pairs.emplace_back(t0 * homogeneousPoint(c.x0, c.y0), t1 * homogeneousPoint(c.x1, c.y1));
    const Matrix model = (t1.transpose() * eightPointReference(pairs)) * t0;
    const EpipolarErrorResult result = epipolarErrorReference(model, records);
    DebugStream << "Run " << run << ": Error: " << result.error << ", with " << result.inliers
                << " inliers";
    DebugStream.put('\n');
    DebugStream.flush();
    if (isBetterRun(result, best)) {
      F = model;
      T0 = t0;
      T1 = t1;
      best = result;
      const double e = 1.0 - static_cast<double>(result.inliers) / n;
      limit = e > 0 ? ransacRunLimit(1.0 - e, n) : 1;
    }
    ++run;
  } while (run < limit);
  DebugStream << "Best error: " << best.error << ", with " << best.inliers << " inliers";
  DebugStream.put('\n');
  DebugStream.flush();
}

TEST(EstimateFundamental, MatchesThePlainLoopBitForBit) {
  SyntheticRig rig(5);
  std::vector<Correspondence> records;
  for (int k = 0; k < 40; ++k) records.push_back(rig.noisy(kNoisePixels));
  for (int k = 0; k < 24; ++k) records.push_back(outlier(rig));
  // Two coincident samples' worth of points, so some runs are non-finite.
  for (int k = 0; k < 16; ++k) records.push_back({200, 200, 300, 300});

  Matrix T0, T1, F, referenceT0, referenceT1, referenceF;
  std::string fastLog, referenceLog;
  {
    testing::LogCapture log;
    RandSequence random;
    estimateFundamental(records, T0, T1, F, random);
    fastLog = log.text();
  }
  {
    testing::LogCapture log;
    RandSequence random;
    referenceEstimate(records, referenceT0, referenceT1, referenceF, random);
    referenceLog = log.text();
  }
  EXPECT_GT(std::count(fastLog.begin(), fastLog.end(), '\n'), 10);
  EXPECT_EQ(fastLog, referenceLog);
  EXPECT_EQ(F, referenceF);
  EXPECT_EQ(T0, referenceT0);
  EXPECT_EQ(T1, referenceT1);
}

TEST(EstimateFundamental, ListOverloadUsesTheProcessSequence) {
  SyntheticRig rig(3);
  std::list<Correspondence> records;
  for (int k = 0; k < 8; ++k) records.push_back(rig.exact());
  testing::LogCapture log;
  Matrix T0, T1, F;
  estimateFundamental(records, T0, T1, F);
  EXPECT_EQ(log.lines().size(), 3u);
  EXPECT_LT(testing::differenceUpToScale(entries(F), entries(rig.F())), kExactFitTolerance);
}

TEST(EstimateFundamental, FewerThanEightPairsChangeNothing) {
  testing::LogCapture log;
  const std::vector<Correspondence> records(7, Correspondence{1, 2, 3, 4});
  Matrix T0, T1, F;
  RandSequence random;
  estimateFundamental(records, T0, T1, F, random);
  EXPECT_TRUE(log.units().empty());
  EXPECT_EQ(F, Matrix());
}

}  // namespace
}  // namespace epipolar
