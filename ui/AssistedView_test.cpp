#include "ui/AssistedView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace epipolar {
namespace {

// The snapshot rules of the assisted windows, key by key, with and without Ctrl.
TEST(AssistedView, SnapshotRules) {
  struct Case {
    WPARAM key;
    bool snapshot;  // without Ctrl; with Ctrl never
  };
  const Case cases[] = {
      {'1', true},         {'9', true},      {'Z', true},        {'Y', true},
      {'S', true},         {'Q', true},      {VK_F1, true},      {VK_SPACE, true},
      {VK_RETURN, true},   {VK_UP, true},    {'C', false},       {'H', false},
      {'A', false},        {'R', false},     {'D', false},       {'E', false},
      {'P', false},        {'X', false},     {VK_LEFT, false},   {VK_RIGHT, false},
      {VK_DELETE, false},  {VK_BACK, false}, {VK_ESCAPE, false}, {VK_SHIFT, false},
      {VK_CONTROL, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(assistedKeyWritesSnapshot(c.key, false), c.snapshot) << c.key;
    EXPECT_FALSE(assistedKeyWritesSnapshot(c.key, true)) << c.key;
  }
}

TEST(AssistedView, StatusLineSaysPairsStateOfFAndHelp) {
  StatusFacts facts;
  EXPECT_EQ(statusLineText(facts), "no pairs - not calibrated: C needs 8 pairs - H for help");
  facts.pairs = 1;
  facts.pendingSource = 1;
  EXPECT_EQ(statusLineText(facts),
            "1 pair (first click in (1), now click in (0)) - not calibrated: C needs 8 pairs - "
            "H for help");
  facts.pairs = 12;
  facts.pendingSource = -1;
  EXPECT_EQ(statusLineText(facts), "12 pairs - not calibrated: press C - H for help");
  // Inliers lie under 3 px; the RMS is theirs: sqrt((0.3^2 + 0.5^2 + 0.43^2) / 3) = 0.418.
  facts.calibrated = true;
  facts.residuals = {0.3, 0.5, 0.43, 3.0, std::numeric_limits<double>::infinity(), std::nan("")};
  facts.pairs = facts.residuals.size();
  EXPECT_EQ(statusLineText(facts), "6 pairs - F: 3 inliers, RMS 0.42 px - H for help");
  facts.method = "accurate";
  facts.inliers = 11;
  facts.rmsPx = 0.4249;
  EXPECT_EQ(statusLineText(facts), "6 pairs - accurate F: 11 inliers, RMS 0.42 px - H for help");
  facts.helpShown = true;
  facts.outOfDate = true;
  EXPECT_EQ(statusLineText(facts), "6 pairs - F out of date: press C - H hides help");
  facts.findingPairs = true;
  EXPECT_EQ(statusLineText(facts),
            "6 pairs - F out of date: press C - finding pairs (A)... - H hides help");
}

TEST(AssistedView, PressPicksTheNearestPointOfItsCameraWithinTheRadius) {
  const std::vector<Correspondence> pairs{{10, 10, 100, 100}, {14, 10, 50, 50}, {13, 10, 0, 0}};
  EXPECT_EQ(pairNear(pairs, 0, 12, 10, kSelectRadius), 2);
  EXPECT_EQ(pairNear(pairs, 0, 4, 10, kSelectRadius), 0);  // exactly 6 px away
  EXPECT_EQ(pairNear(pairs, 0, 3.9, 10, kSelectRadius), -1);
  EXPECT_EQ(pairNear(pairs, 1, 12, 10, kSelectRadius), -1);  // camera 1's points are elsewhere
  EXPECT_EQ(pairNear(pairs, 1, 52, 48, kSelectRadius), 1);
  EXPECT_EQ(pairNear(pairs, 0, std::nan(""), 10, kSelectRadius), -1);
}

TEST(AssistedView, ResidualsAreSampsonDistancesUnderF) {
  // Pure horizontal translation: the residual of a pair is its vertical offset over sqrt(2).
  const double values[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  const std::vector<Correspondence> pairs{{5, 20, 9, 20}, {5, 20, 9, 23}};
  const std::vector<double> r = pairResiduals(Matrix(values, 3, 3), pairs);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_NEAR(r[0], 0.0, 1e-12);
  EXPECT_NEAR(r[1], 3.0 / std::sqrt(2.0), 1e-12);
  EXPECT_TRUE(pairResiduals(Matrix(2, 2), pairs).empty());
}

}  // namespace
}  // namespace epipolar
