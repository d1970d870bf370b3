#include "vision/AutomaticPairs.h"

#include <gtest/gtest.h>

#include "geometry/testing/StereoPair.h"
#include "vision/testing/RigPair.h"

namespace epipolar {
namespace {

// Targets for a 640x480 rig frame pair.
constexpr size_t kMinRigPairs = 200;
constexpr double kMaxLandmarkDistancePx = 0.3;  // mean symmetric epipolar distance, true F
// Share of pairs within 1 px of the true geometry: wrong matches along an epipolar line
// (repeated bricks or tiles) pass any F check, but they must stay few.
constexpr double kMinTrueShare = 0.9;

TEST(AutomaticPairsTest, RigFramesGiveManyDistinctPairsThatFixTheTrueGeometry) {
  const testing::RigPair& rig = testing::rigPair();
  const AutomaticPairsResult& result = rig.automatic;
  ASSERT_EQ(result.outcome, AutomaticPairsOutcome::kFound) << result.message;
  EXPECT_TRUE(result.message.empty());
  ASSERT_GE(result.pairs.size(), kMinRigPairs);
  EXPECT_EQ(static_cast<int>(result.pairs.size()), result.verified);
  EXPECT_GE(result.matches, result.verified);
  EXPECT_LE(meanSymmetricEpipolarDistance(result.F, rig.landmarks), kMaxLandmarkDistancePx);

  int nearTruth = 0;
  for (size_t i = 0; i < result.pairs.size(); ++i) {
    const Correspondence& c = result.pairs[i];
    EXPECT_LE(sampsonDistance(result.F, c), 1.0);
    if (symmetricEpipolarDistance(rig.trueF, c) <= 1.0) ++nearTruth;
    for (size_t j = 0; j < i; ++j) {
      const Correspondence& d = result.pairs[j];
      ASSERT_FALSE(std::hypot(c.x0 - d.x0, c.y0 - d.y0) < 0.5 ||
                   std::hypot(c.x1 - d.x1, c.y1 - d.y1) < 0.5)
          << "pairs " << j << " and " << i << " share a point";
    }
  }
  EXPECT_GE(nearTruth, kMinTrueShare * static_cast<double>(result.pairs.size()));

  // The same frames give the same pairs again; a cap keeps the most distinctive ones.
  AutomaticPairsOptions capped;
  capped.maxPairs = 50;
  const AutomaticPairsResult again = findAutomaticPairs(*rig.frame0, *rig.frame1, capped);
  ASSERT_EQ(again.pairs.size(), 50u);
  EXPECT_EQ(again.verified, result.verified);
  for (size_t i = 0; i < again.pairs.size(); ++i) EXPECT_EQ(again.pairs[i], result.pairs[i]);
}

TEST(AutomaticPairsTest, PicturesWithoutACommonViewAreRefusedWithAReason) {
  const auto blank = Image::blank(320, 240);
  const AutomaticPairsResult none = findAutomaticPairs(*blank, *blank);
  EXPECT_EQ(none.outcome, AutomaticPairsOutcome::kTooFewMatches);
  EXPECT_EQ(none.features0, 0);
  EXPECT_EQ(none.message,
            "Automatic pairs: only 0 matches between the pictures, at least 12 needed");

  // Two unrelated textures: a handful of chance matches, never a model.
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    const auto a = testing::texturedPicture(320, 240, 0, 0, seed);
    const auto b = testing::texturedPicture(320, 240, 0, 0, seed + 100);
    const AutomaticPairsResult unrelated = findAutomaticPairs(*a, *b);
    EXPECT_NE(unrelated.outcome, AutomaticPairsOutcome::kFound) << "seed " << seed;
    EXPECT_TRUE(unrelated.pairs.empty());
    EXPECT_FALSE(unrelated.message.empty());
  }
}

TEST(AutomaticPairsTest, LogLineGivesCountsAndTenthsOfAMillisecond) {
  EXPECT_EQ(automaticPairsLogText(312, 455, 143.26),
            "Automatic pairs: 312 added from 455 matches in 143.3 ms");
  EXPECT_EQ(automaticPairsLogText(0, 0, 0.0), "Automatic pairs: 0 added from 0 matches in 0.0 ms");
}

}  // namespace
}  // namespace epipolar
