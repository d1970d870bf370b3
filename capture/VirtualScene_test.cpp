#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "capture/VirtualView.h"

namespace epipolar {
namespace {

// Projections and F are computed along different routes (P = K[R|-RC] versus
// K1^-T [t]x R K0^-1); in double precision they agree far below a thousandth of a pixel.
constexpr double kLineDistanceTolerance = 1e-7;  // pixels
// A ball's projected centre must keep the ball's hue through shading and noise.
constexpr float kHueTolerance = 12.0f;  // degrees

// The static views take a moment to ray cast; share them across the tests.
class VirtualSceneTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scene_ = std::make_shared<const VirtualScene>();
    views_[0] = new VirtualView(scene_, 0, 11);
    views_[1] = new VirtualView(scene_, 1, 12);
  }
  static void TearDownTestSuite() {
    delete views_[0];
    delete views_[1];
    scene_.reset();
  }
  static std::shared_ptr<const VirtualScene> scene_;
  static VirtualView* views_[2];
};
std::shared_ptr<const VirtualScene> VirtualSceneTest::scene_;
VirtualView* VirtualSceneTest::views_[2];

// Distance in pixels from (x1, y1) to the epipolar line F (x0, y0, 1).
double epipolarDistance(const Mat3& F, double x0, double y0, double x1, double y1) {
  double line[3];
  for (int i = 0; i < 3; ++i) line[i] = F[i][0] * x0 + F[i][1] * y0 + F[i][2];
  return std::fabs(line[0] * x1 + line[1] * y1 + line[2]) / std::hypot(line[0], line[1]);
}

float hueAt(const Image& image, int x, int y, float& saturation) {
  float h, v;
  image.pixel(x, y).toHsv(h, saturation, v);
  return h;
}

float hueGap(float a, float b) {
  const float d = std::fabs(a - b);
  return std::min(d, 360.0f - d);
}

TEST_F(VirtualSceneTest, TrueFundamentalHoldsForProjectedPoints) {
  const VirtualScene& scene = *scene_;
  const Mat3 F = scene.trueFundamental();
  std::mt19937 engine(7);
  std::uniform_real_distribution<double> x(-1.8, 1.8), y(-0.5, 3.2), z(0.0, 2.5);
  int checked = 0;
  for (int i = 0; i < 500; ++i) {
    const Vec3 X = {x(engine), y(engine), z(engine)};
    double x0, y0, x1, y1;
    if (!scene.camera(0).project(X, x0, y0) || !scene.camera(1).project(X, x1, y1)) continue;
    EXPECT_LT(epipolarDistance(F, x0, y0, x1, y1), kLineDistanceTolerance);
    ++checked;
  }
  EXPECT_GT(checked, 400);
  for (const RigLandmark& l : scene.landmarks())
    EXPECT_LT(epipolarDistance(F, l.x0, l.y0, l.x1, l.y1), kLineDistanceTolerance) << l.name;
}

TEST_F(VirtualSceneTest, TrueFundamentalIsNormalisedRankTwoAndNotRectified) {
  const Mat3 F = scene_->trueFundamental();
  double norm = 0;
  for (double v : F.rowMajor()) norm += v * v;
  EXPECT_NEAR(norm, 1.0, 1e-12);
  EXPECT_GE(F[2][2], 0.0);
  const double det = F[0][0] * (F[1][1] * F[2][2] - F[1][2] * F[2][1]) -
                     F[0][1] * (F[1][0] * F[2][2] - F[1][2] * F[2][0]) +
                     F[0][2] * (F[1][0] * F[2][1] - F[1][1] * F[2][0]);
  EXPECT_NEAR(det, 0.0, 1e-12);

  // Rectified pairs have horizontal epipolar lines everywhere. Here they must visibly slant:
  // the lines through the landmarks span more than five degrees of direction in camera 1.
  double minAngle = 180, maxAngle = -180;
  for (const RigLandmark& l : scene_->landmarks()) {
    const double a = F[0][0] * l.x0 + F[0][1] * l.y0 + F[0][2];
    const double b = F[1][0] * l.x0 + F[1][1] * l.y0 + F[1][2];
    const double angle = std::atan(-a / b) * 180 / M_PI;
    minAngle = std::min(minAngle, angle);
    maxAngle = std::max(maxAngle, angle);
  }
  EXPECT_GT(maxAngle - minAngle, 5.0);
  EXPECT_GT(std::max(std::fabs(minAngle), std::fabs(maxAngle)), 5.0);
}

TEST_F(VirtualSceneTest, LandmarksAreSpreadUniqueAndInsideBothPictures) {
  const auto landmarks = scene_->landmarks();
  ASSERT_GE(landmarks.size(), 20u);
  std::set<std::string> names;
  double minY = 1e9, maxY = -1e9, minX = 1e9, maxX = -1e9;
  for (const RigLandmark& l : landmarks) {
    EXPECT_TRUE(names.insert(l.name).second) << l.name;
    for (double v : {l.x0, l.x1}) EXPECT_TRUE(v >= 8 && v <= VirtualScene::kWidth - 9) << l.name;
    for (double v : {l.y0, l.y1}) EXPECT_TRUE(v >= 8 && v <= VirtualScene::kHeight - 9) << l.name;
    EXPECT_TRUE(scene_->visibleFrom(0, l.world) && scene_->visibleFrom(1, l.world));
    minX = std::min(minX, l.x0), maxX = std::max(maxX, l.x0);
    minY = std::min(minY, l.y0), maxY = std::max(maxY, l.y0);
  }
  // Spread over the picture, as an eight-point estimate needs.
  EXPECT_GT(maxX - minX, 300);
  EXPECT_GT(maxY - minY, 250);
}

TEST_F(VirtualSceneTest, HiddenBoxCornersAreNotLandmarks) {
  // The back bottom corner of a box sits behind the box from both cameras.
  for (const RigLandmark& l : scene_->landmarks())
    EXPECT_NE(l.name, "yellow-top box bottom corner 2");
  EXPECT_FALSE(scene_->visibleFrom(0, {-0.85, 2.15, 0.26}));  // the box's own centre
}

// The renderer and the projections must agree to the pixel: the poster's four quadrants lie
// around the projected poster centre, in both views.
TEST_F(VirtualSceneTest, RenderedPosterSitsAtItsProjection) {
  for (const RigLandmark& l : scene_->landmarks()) {
    if (l.name != "poster centre") continue;
    for (int view = 0; view < 2; ++view) {
      const auto frame = views_[view]->renderClean(0.0);
      const int x = static_cast<int>(std::lround(view == 0 ? l.x0 : l.x1));
      const int y = static_cast<int>(std::lround(view == 0 ? l.y0 : l.y1));
      const Colour topLeft = frame->pixel(x - 3, y - 3), topRight = frame->pixel(x + 3, y - 3);
      const Colour bottomLeft = frame->pixel(x - 3, y + 3);
      const Colour bottomRight = frame->pixel(x + 3, y + 3);
      EXPECT_GT(topLeft.r, 0.4f) << "yellow, view " << view;
      EXPECT_LT(topLeft.b, 0.15f) << "yellow, view " << view;
      EXPECT_GT(topRight.b, topRight.r + 0.2f) << "blue, view " << view;
      EXPECT_GT(bottomLeft.b, 0.5f) << "white, view " << view;
      EXPECT_LT(bottomRight.r + bottomRight.g + bottomRight.b, 0.4f) << "black, view " << view;
    }
    return;
  }
  FAIL() << "the poster centre is not a landmark";
}

TEST_F(VirtualSceneTest, BallCentreHasTheBallsColourInBothViews) {
  const float ballHue[2] = {25.2f, 125.5f};  // orange (1, 0.42, 0), green (0.05, 0.8, 0.12)
  for (double seconds : {0.0, 2.5, 5.2, 9.9, 13.7}) {
    for (int view = 0; view < 2; ++view) {
      const auto frame = views_[view]->renderFrame(seconds);
      for (int ball = 0; ball < VirtualScene::kBallCount; ++ball) {
        double x, y;
        ASSERT_TRUE(scene_->camera(view).project(scene_->ballCentre(ball, seconds), x, y));
        float saturation;
        const float hue = hueAt(
            *frame, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), saturation);
        EXPECT_LT(hueGap(hue, ballHue[ball]), kHueTolerance)
            << scene_->ball(ball).name << " at " << seconds << " s, view " << view;
        EXPECT_GT(saturation, 0.7f);
      }
    }
  }
}

TEST_F(VirtualSceneTest, BallsAreShadedNotFlat) {
  // A flat disc makes every match window inside it tie; a shaded ball varies across.
  const auto frame = views_[0]->renderClean(1.0);
  double x, y;
  ASSERT_TRUE(scene_->camera(0).project(scene_->ballCentre(0, 1.0), x, y));
  std::set<std::uint32_t> colours;
  for (int dy = -4; dy <= 4; ++dy) {
    for (int dx = -4; dx <= 4; ++dx) {
      const std::uint8_t* p = frame->row(static_cast<int>(y) + dy) + 3 * (static_cast<int>(x) + dx);
      colours.insert(p[0] | p[1] << 8 | p[2] << 16);
    }
  }
  EXPECT_GT(colours.size(), 20u);
}

TEST_F(VirtualSceneTest, FramesAreCompleteBmpBlocks) {
  const auto frame = views_[1]->renderFrame(0.5);
  ASSERT_EQ(frame->width, 640);
  ASSERT_EQ(frame->height, 480);
  ASSERT_EQ(frame->pixelOffset, 54);
  ASSERT_EQ(frame->size, 921654u);
  const std::uint8_t* d = frame->data.get();
  auto le32 = [d](int at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
  };
  EXPECT_EQ(d[0], 'B');
  EXPECT_EQ(d[1], 'M');
  EXPECT_EQ(le32(2), 921654u);
  EXPECT_EQ(le32(10), 54u);
  EXPECT_EQ(le32(14), 40u);
  EXPECT_EQ(le32(18), 640u);
  EXPECT_EQ(le32(22), 480u);
  EXPECT_EQ(d[28], 24);
  EXPECT_EQ(le32(30), 0u);
  EXPECT_EQ(le32(34), 921600u);
}

TEST_F(VirtualSceneTest, NoiseIsSmallAndChangesEveryFrame) {
  const auto clean = views_[0]->renderClean(3.0);
  const auto first = views_[0]->renderFrame(3.0);
  const auto second = views_[0]->renderFrame(3.0);
  int maxDifference = 0;
  std::size_t changed = 0;
  for (std::uint32_t i = 54; i < clean->size; ++i) {
    maxDifference = std::max(maxDifference, std::abs(first->data[i] - clean->data[i]));
    changed += first->data[i] != second->data[i];
  }
  EXPECT_LE(maxDifference, 6);
  EXPECT_GT(changed, clean->size / 4);
  // The header is never touched by noise.
  EXPECT_EQ(std::memcmp(first->data.get(), clean->data.get(), 54), 0);
}

TEST_F(VirtualSceneTest, BallsMoveBetweenFrames) {
  for (int ball = 0; ball < VirtualScene::kBallCount; ++ball) {
    const Vec3 a = scene_->ballCentre(ball, 1.0), b = scene_->ballCentre(ball, 2.0);
    const double moved = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
    EXPECT_GT(moved, 0.02);  // visibly live
    EXPECT_LT(moved, 0.6);   // yet slow
  }
  const auto early = views_[0]->renderClean(0.0), late = views_[0]->renderClean(4.0);
  EXPECT_NE(std::memcmp(early->data.get(), late->data.get(), early->size), 0);
}

TEST_F(VirtualSceneTest, PrintedRigCarriesTheTrueFundamentalMatrix) {
  std::ostringstream out;
  printVirtualRig(out);
  const std::string text = out.str();
  for (const char* label : {"K0 =",
                            "K1 =",
                            "R0 =",
                            "C1 =",
                            "P0 =",
                            "P1 =",
                            "F =",
                            "Epipole in camera 1:",
                            "poster centre"})
    EXPECT_NE(text.find(label), std::string::npos) << label;
  std::istringstream in(text.substr(text.find("F =\n") + 4));
  const Mat3 F = scene_->trueFundamental();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double v;
      ASSERT_TRUE(in >> v);
      EXPECT_NEAR(v, F[i][j], 1e-7 * std::fabs(F[i][j]) + 1e-12);
    }
}

}  // namespace
}  // namespace epipolar
