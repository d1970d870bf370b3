#include "vision/Features.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <set>
#include <utility>

#include "vision/ImageMat.h"
#include "vision/testing/RigPair.h"

namespace epipolar {
namespace {

// The matcher against OpenCV's brute-force matcher on random descriptors, where near ties and
// non-mutual best matches are common: the same matches, in the same order, with the same
// ratios. Then planted cases: a clear match, an ambiguous one, and one whose partner prefers
// another descriptor.
TEST(MatchFeaturesTest, AgreesWithBruteForceAndKeepsOnlyMutualDistinctMatches) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  cv::Mat d0(300, 128, CV_8U), d1(280, 128, CV_8U);
  for (int i = 0; i < d0.rows; ++i) {
    for (int k = 0; k < 128; ++k)
      d0.at<std::uint8_t>(i, k) = static_cast<std::uint8_t>(byte(random));
  }
  // Picture 1 holds noisy copies of the first 200 descriptors, then random ones.
  std::normal_distribution<double> noise(0.0, 12.0);
  for (int j = 0; j < d1.rows; ++j) {
    for (int k = 0; k < 128; ++k) {
      const double v = j < 200 ? d0.at<std::uint8_t>(j, k) + noise(random) : byte(random);
      d1.at<std::uint8_t>(j, k) = cv::saturate_cast<std::uint8_t>(v);
    }
  }
  constexpr double kRatio = 0.8;
  const std::vector<FeatureMatch> matches = matchFeatures(d0, d1, kRatio);

  cv::Mat f0, f1;
  d0.convertTo(f0, CV_32F);
  d1.convertTo(f1, CV_32F);
  cv::BFMatcher brute(cv::NORM_L2);
  std::vector<std::vector<cv::DMatch>> forward, backward;
  brute.knnMatch(f0, f1, forward, 2);
  brute.knnMatch(f1, f0, backward, 1);
  std::vector<FeatureMatch> expected;
  for (const auto& m : forward) {
    const cv::DMatch& best = m[0];
    if (backward[best.trainIdx][0].trainIdx != best.queryIdx) continue;
    if (!(best.distance < kRatio * m[1].distance)) continue;
    expected.push_back({best.queryIdx, best.trainIdx, best.distance / m[1].distance});
  }
  ASSERT_GT(expected.size(), 150u);
  ASSERT_EQ(matches.size(), expected.size());
  for (size_t i = 0; i < matches.size(); ++i) {
    EXPECT_EQ(matches[i].index0, expected[i].index0);
    EXPECT_EQ(matches[i].index1, expected[i].index1);
    EXPECT_NEAR(matches[i].ratio, expected[i].ratio, 1e-5);
  }

  // Planted: row 0 matches row 0 alone; row 1 sits halfway between rows 1 and 2 (ambiguous);
  // row 2 is clearly nearest row 3, but row 3 is nearer still to row 3 of picture 0 (not
  // mutual).
  cv::Mat a(4, 128, CV_8U, cv::Scalar(0)), b(4, 128, CV_8U, cv::Scalar(0));
  a.at<std::uint8_t>(0, 0) = 200;
  b.at<std::uint8_t>(0, 0) = 190;
  a.at<std::uint8_t>(1, 10) = 100;
  b.at<std::uint8_t>(1, 10) = 150;
  b.at<std::uint8_t>(2, 10) = 50;
  a.at<std::uint8_t>(2, 20) = 150;
  a.at<std::uint8_t>(3, 20) = 195;
  b.at<std::uint8_t>(3, 20) = 200;
  std::set<std::pair<int, int>> planted;
  for (const FeatureMatch& m : matchFeatures(a, b, kRatio)) planted.insert({m.index0, m.index1});
  EXPECT_EQ(planted, (std::set<std::pair<int, int>>{{0, 0}, {3, 3}}));

  EXPECT_TRUE(matchFeatures(a, b.rowRange(0, 1), kRatio).empty());  // no second-best
  EXPECT_TRUE(matchFeatures(a, f1, kRatio).empty());                // not byte descriptors
}

// Pictures beyond the detection bound are searched smaller and answered in their own pixels.
// A picture doubled (each pixel a 2x2 block, so position x becomes 2x + 0.5) and searched at
// the original size gives the original's features, at the doubled positions.
TEST(DetectFeaturesTest, LargePicturesAreSearchedSmallerAndAnsweredInTheirOwnPixels) {
  const testing::RigPair& rig = testing::rigPair();
  const cv::Mat picture = toGrayMat(*rig.frame0);
  cv::Mat doubled;
  cv::resize(picture, doubled, cv::Size(), 2, 2, cv::INTER_NEAREST);
  AutomaticPairsOptions options;
  options.maxDetectionSide = picture.cols;
  const Features original = detectFeatures(picture, options);
  const Features big = detectFeatures(doubled, options);
  ASSERT_GT(original.keypoints.size(), 1000u);
  ASSERT_EQ(big.keypoints.size(), original.keypoints.size());
  int misplaced = 0;
  for (size_t i = 0; i < big.keypoints.size(); ++i) {
    const cv::Point2f& p = big.keypoints[i].pt;
    const cv::Point2f& q = original.keypoints[i].pt;
    if (std::hypot(p.x - (2 * q.x + 0.5f), p.y - (2 * q.y + 0.5f)) > 1e-3f) ++misplaced;
  }
  EXPECT_EQ(misplaced, 0);
  EXPECT_EQ(cv::norm(big.descriptors, original.descriptors, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace epipolar
