#include "vision/Rectification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "vision/RectificationInternal.h"
#include "vision/testing/RigPair.h"

namespace epipolar {
namespace {

constexpr PictureSize kVga{640, 480};
// Exact projections under the exact F: rows agree to rounding.
constexpr double kExactRowPx = 1e-6;
// Targets on the rig's landmarks with F and pairs found automatically.
constexpr double kMaxMedianRowPx = 0.3;
constexpr double kMaxP95RowPx = 1.0;

cv::Point2d mapped(const Matrix3x3& H, double x, double y) {
  double u = 0, v = 0;
  EXPECT_TRUE(applyHomography(H, x, y, u, v));
  return {u, v};
}

// Rows agree for the pairs, both pictures lie wholly inside the output, neither shrinks
// (centre lines at least the picture's width and height), neither is mirrored, and the
// pairs' disparities are positive and inside the range to search.
void expectSoundRectification(const Rectification& r,
                              std::span<const Correspondence> pairs,
                              double rowTolerance) {
  const VerticalOffsets rows = verticalOffsets(r, pairs);
  EXPECT_EQ(rows.count, static_cast<int>(pairs.size()));
  EXPECT_LE(rows.p95, rowTolerance);
  for (const Matrix3x3& H : {r.H0, r.H1}) {
    const double w = kVga.width, h = kVga.height;
    for (const cv::Point2d& corner : {mapped(H, -0.5, -0.5),
                                      mapped(H, w - 0.5, -0.5),
                                      mapped(H, -0.5, h - 0.5),
                                      mapped(H, w - 0.5, h - 0.5)}) {
      EXPECT_GE(corner.x, -0.5 - 1e-6);
      EXPECT_GE(corner.y, -0.5 - 1e-6);
      EXPECT_LE(corner.x, r.width - 0.5 + 1e-6);
      EXPECT_LE(corner.y, r.height - 0.5 + 1e-6);
    }
    const cv::Point2d across = mapped(H, w - 0.5, h / 2 - 0.5) - mapped(H, -0.5, h / 2 - 0.5);
    const cv::Point2d down = mapped(H, w / 2 - 0.5, h - 0.5) - mapped(H, w / 2 - 0.5, -0.5);
    EXPECT_GE(cv::norm(across), w - 1e-6);
    EXPECT_GE(cv::norm(down), h - 1e-6);
    EXPECT_GT(across.x * down.y - across.y * down.x, 0.0) << "mirrored";
  }
  for (const Correspondence& c : pairs) {
    const double d = mapped(r.H0, c.x0, c.y0).x - mapped(r.H1, c.x1, c.y1).x;
    EXPECT_GT(d, 0.0);
    EXPECT_LE(d, r.maxDisparity);
  }
}

TEST(RectificationTest, RigTrueGeometryAlignsRowsExactlyAndKeepsPicturesWhole) {
  const testing::RigPair& rig = testing::rigPair();
  const RectificationResult result = rectify(rig.trueF, rig.landmarks, kVga, kVga);
  ASSERT_EQ(result.outcome, RectificationOutcome::kRectified) << result.message;
  EXPECT_TRUE(result.message.empty());
  expectSoundRectification(result.rectification, rig.landmarks, kExactRowPx);
  // The rig's epipolar lines slant by about 20 degrees: rotation makes the output larger, but
  // not without bound.
  EXPECT_LE(result.rectification.width, 2 * kVga.width);
  EXPECT_LE(result.rectification.height, 2 * kVga.height);
}

TEST(RectificationTest, RigAutomaticPairsAlignTheLandmarksRowsWithinTargets) {
  const testing::RigPair& rig = testing::rigPair();
  ASSERT_EQ(rig.automatic.outcome, AutomaticPairsOutcome::kFound);
  const RectificationResult result = rectify(rig.automatic.F, rig.automatic.pairs, kVga, kVga);
  ASSERT_EQ(result.outcome, RectificationOutcome::kRectified) << result.message;
  const VerticalOffsets rows = verticalOffsets(result.rectification, rig.landmarks);
  EXPECT_LE(rows.median, kMaxMedianRowPx);
  EXPECT_LE(rows.p95, kMaxP95RowPx);
}

// Cameras K [I | 0] and K [R | t] (X_1 = R X_0 + t) seeing random points 3 to 7 units away.
struct TwoCameras {
  Matrix3x3 F{};
  std::vector<Correspondence> pairs;
};

TwoCameras twoCameras(const cv::Matx33d& R, const cv::Vec3d& t, int count = 40) {
  const cv::Matx33d K(500, 0, 320, 0, 500, 240, 0, 0, 1);
  const cv::Matx33d tx(0, -t[2], t[1], t[2], 0, -t[0], -t[1], t[0], 0);
  // F = K^-T [t]x R K^-1 (Hartley and Zisserman, 9.2.2).
  const cv::Matx33d F = K.inv().t() * tx * R * K.inv();
  TwoCameras cameras;
  for (int i = 0; i < 9; ++i) cameras.F[i] = F.val[i] / cv::norm(F);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  while (static_cast<int>(cameras.pairs.size()) < count) {
    const cv::Vec3d X(2.0 * unit(random), 1.5 * unit(random), 5.0 + 2.0 * unit(random));
    const cv::Vec3d a = K * X, b = K * (R * X + t);
    cameras.pairs.push_back({a[0] / a[2], a[1] / a[2], b[0] / b[2], b[1] / b[2]});
  }
  return cameras;
}

TEST(RectificationTest, EveryBaselineDirectionGivesUprightUnmirroredPictures) {
  const cv::Matx33d I = cv::Matx33d::eye();
  const double turn = 0.2;
  const cv::Matx33d converge(
      std::cos(turn), 0, std::sin(turn), 0, 1, 0, -std::sin(turn), 0, std::cos(turn));
  struct Case {
    const char* name;
    cv::Matx33d R;
    cv::Vec3d t;
  };
  for (const Case& c : {Case{"camera 1 right", I, {-1, 0, 0}},
                        Case{"camera 1 left", I, {1, 0, 0}},
                        Case{"camera 1 below", I, {0, -1, 0}},
                        Case{"camera 1 above", I, {0, 1, 0}},
                        Case{"diagonal", I, {-1, -1, 0}},
                        Case{"converging", converge, {-1, 0, 0.1}},
                        Case{"epipole just outside", I, {2, 0, 1}}}) {
    SCOPED_TRACE(c.name);
    const TwoCameras cameras = twoCameras(c.R, c.t);
    const RectificationResult result = rectify(cameras.F, cameras.pairs, kVga, kVga);
    ASSERT_EQ(result.outcome, RectificationOutcome::kRectified) << result.message;
    expectSoundRectification(result.rectification, cameras.pairs, 1e-6);
  }
}

TEST(RectificationTest, UnrectifiableInputIsRefusedWithAReason) {
  const cv::Matx33d I = cv::Matx33d::eye();
  const TwoCameras forward = twoCameras(I, {0, 0, 1});
  RectificationResult result = rectify(forward.F, forward.pairs, kVga, kVga);
  EXPECT_EQ(result.outcome, RectificationOutcome::kEpipoleInside);
  EXPECT_EQ(result.message,
            "Cannot rectify: the epipole of picture 0 lies inside it, at 320.0, 240.0");

  // Just outside the picture: the far side would stretch to thousands of pixels.
  const TwoCameras near = twoCameras(I, {0.7, 0, 1});
  result = rectify(near.F, near.pairs, kVga, kVga);
  EXPECT_EQ(result.outcome, RectificationOutcome::kFailed);
  EXPECT_NE(result.message.find("too distorted"), std::string::npos) << result.message;

  const TwoCameras sideways = twoCameras(I, {-1, 0, 0});
  result = rectify(sideways.F, sideways.pairs, {8192, 8192}, {8192, 8192});
  EXPECT_EQ(result.outcome, RectificationOutcome::kFailed);
  EXPECT_NE(result.message.find("more than the 64 megapixels"), std::string::npos)
      << result.message;

  result = rectify(sideways.F, std::span(sideways.pairs).first(7), kVga, kVga);
  EXPECT_EQ(result.outcome, RectificationOutcome::kTooFewPairs);
  EXPECT_EQ(result.message, "Cannot rectify: 7 inlier pairs, at least 8 needed");

  Matrix3x3 broken{};
  result = rectify(broken, sideways.pairs, kVga, kVga);
  EXPECT_EQ(result.outcome, RectificationOutcome::kFailed);
  broken = sideways.F;
  broken[4] = std::nan("");
  result = rectify(broken, sideways.pairs, kVga, kVga);
  EXPECT_EQ(result.outcome, RectificationOutcome::kFailed);
  EXPECT_FALSE(result.message.empty());
  result = rectify(sideways.F, sideways.pairs, kVga, {0, 480});
  EXPECT_EQ(result.outcome, RectificationOutcome::kFailed);
}

TEST(RectificationTest, OffsetsAndDisparitySpanAreRobustStatistics) {
  // H1 moves rows down by 0, 1, ..., 20 px as x grows by 10 px: a known spread of offsets.
  Rectification r;
  r.H0 = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  r.H1 = {1, 0, 0, 0.1, 1, 0, 0, 0, 1};
  std::vector<Correspondence> pairs;
  for (int k = 20; k >= 0; --k) pairs.push_back({0, 5, 10.0 * k, 5});
  const VerticalOffsets rows = verticalOffsets(r, pairs);
  EXPECT_EQ(rows.count, 21);
  EXPECT_DOUBLE_EQ(rows.median, 10.0);
  EXPECT_DOUBLE_EQ(rows.p95, 19.0);
  EXPECT_EQ(verticalOffsets(r, {}).count, 0);

  // Many pairs on a surface spread over 20..60 px, two wrong matches far below and a stray
  // cluster above: the strays go, the surface's extremes stay. Among a few pairs (clicked by
  // hand) a gap is sparse sampling: nothing goes.
  std::vector<double> disparities = {-30.0, -25.0};
  for (int k = 0; k <= 160; ++k) disparities.push_back(20.0 + 0.25 * k);
  disparities.insert(disparities.end(), {95.0, 96.0});
  const DisparitySpan span = disparitySpan(disparities);
  EXPECT_DOUBLE_EQ(span.lowest, 20.0);
  EXPECT_DOUBLE_EQ(span.highest, 60.0);
  EXPECT_EQ(span.dropped, 4);
  const DisparitySpan sparse = disparitySpan({-30.0, 20.0, 30.0, 40.0, 50.0, 60.0, 96.0});
  EXPECT_DOUBLE_EQ(sparse.lowest, -30.0);
  EXPECT_DOUBLE_EQ(sparse.highest, 96.0);
  EXPECT_EQ(sparse.dropped, 0);
}

}  // namespace
}  // namespace epipolar
