#include "ui/BallView.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

#include "ui/FixedFont.h"
#include "ui/GLWnd.h"

namespace epipolar {
namespace {

TrackedPoint ball(double x, double y, double d, Colour colour) {
  TrackedPoint point;
  point.position[0] = x;
  point.position[1] = y;
  point.position[2] = d;
  point.colour = colour;
  return point;
}

TEST(BallQuads, AreSortedByAscendingDepthWithTiesInTheOrderSet) {
  const std::vector<TrackedPoint> points = {ball(0, 0, 5, Colour(1, 0, 0)),
                                            ball(0, 0, -2, Colour(0, 1, 0)),
                                            ball(0, 0, 5, Colour(0, 0, 1)),
                                            ball(0, 0, 0, Colour(1, 1, 1))};
  const std::vector<BallQuad> quads = ballQuads(points, 0.1f);
  ASSERT_EQ(quads.size(), 4u);
  EXPECT_EQ(quads[0].colour.g, 1.0f);  // d = -2
  EXPECT_EQ(quads[1].colour.b, 1.0f);
  EXPECT_EQ(quads[1].colour.r, 1.0f);  // d = 0
  EXPECT_EQ(quads[2].colour.r, 1.0f);  // the first d = 5
  EXPECT_EQ(quads[2].colour.b, 0.0f);
  EXPECT_EQ(quads[3].colour.b, 1.0f);  // the second d = 5
  EXPECT_TRUE(ballQuads({}, 0.1f).empty());
}

TEST(BallQuads, MapThePictureOntoTheUnitSquareWithYUp) {
  const std::vector<TrackedPoint> points = {ball(640, 0, 50, Colour())};
  const float s = 0.075f;
  const BallQuad quad = ballQuads(points, s)[0];
  // x = 640 -> X = 0.5; y = 0 -> Y = 0.5; d = 50 -> Z = 0.5.
  const double X = 0.5;
  const double Y = 0.5;
  const float expected[4][2] = {{static_cast<float>(X - s), static_cast<float>(Y - s)},
                                {static_cast<float>(X - s), static_cast<float>(Y + s)},
                                {static_cast<float>(X + s), static_cast<float>(Y + s)},
                                {static_cast<float>(X + s), static_cast<float>(Y - s)}};
  for (int corner = 0; corner < 4; ++corner) {
    EXPECT_EQ(quad.corners[corner][0], expected[corner][0]) << corner;
    EXPECT_EQ(quad.corners[corner][1], expected[corner][1]) << corner;
    EXPECT_EQ(quad.corners[corner][2], 0.5f) << corner;
  }
  // The y factor is 1/480 to double precision: y = 480 lands exactly on -0.5.
  EXPECT_EQ(ballQuads(std::vector<TrackedPoint>{ball(0, 480, 0, Colour())}, 0.0f)[0].corners[0][1],
            -0.5f);
}

TEST(FittedBallQuads, SpreadTheDepthsOverTheFittedRangeInTheDescribedOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<TrackedPoint> points = {ball(10, 20, 500, Colour(1, 0, 0)),
                                            ball(30, 40, 1e300, Colour(0, 1, 0)),
                                            ball(50, 60, nan, Colour(0, 0, 1)),
                                            ball(70, 80, -1e300, Colour(1, 1, 0)),
                                            ball(90, 100, 500, Colour(1, 0, 1))};
  const std::vector<BallQuad> fitted = fittedBallQuads(points, 0.05f);
  // The ball without a finite depth has no place; the others keep the described order, and
  // X and Y, and carry their numbers in the order set.
  const std::vector<BallQuad> described =
      ballQuads(std::vector<TrackedPoint>{points[0], points[1], points[3], points[4]}, 0.05f);
  ASSERT_EQ(fitted.size(), 4u);
  const int numbers[4] = {4, 1, 5, 2};
  const float Z[4] = {-1.0f, 0.0f, 0.0f, 1.0f};  // -1e300, 500, 500, 1e300: no overflow
  for (std::size_t i = 0; i < fitted.size(); ++i) {
    EXPECT_EQ(fitted[i].number, numbers[i]) << i;
    EXPECT_EQ(fitted[i].colour.r, described[i].colour.r) << i;
    EXPECT_EQ(fitted[i].colour.b, described[i].colour.b) << i;
    for (int corner = 0; corner < 4; ++corner) {
      EXPECT_EQ(fitted[i].corners[corner][0], described[i].corners[corner][0]) << i;
      EXPECT_EQ(fitted[i].corners[corner][1], described[i].corners[corner][1]) << i;
      EXPECT_NEAR(fitted[i].corners[corner][2], Z[i], 1e-6) << i;
    }
  }
  // One depth, or the same depth for all: the picture's plane.
  EXPECT_EQ(
      fittedBallQuads(std::vector<TrackedPoint>{ball(0, 0, 7e9, Colour())}, 0.1f)[0].corners[0][2],
      0.0f);
  EXPECT_TRUE(fittedBallQuads(std::vector<TrackedPoint>{ball(0, 0, nan, Colour())}, 0.1f).empty());
}

// A 400 x 400 view like the application's, drawing the given balls and reading pixels back
// from the finished frame before the swap.
class BallWindow : public GLWnd {
 public:
  explicit BallWindow(std::vector<TrackedPoint> points)
      : GLWnd("Ball Display", 700, 600, 400, 400), balls(std::move(points)) {}
  void drawScene() override {
    drawBallScene(balls, size);
    glFinish();
    for (std::size_t i = 0; i < probes.size(); ++i) {
      glReadPixels(probes[i][0], probes[i][1], 1, 1, GL_RGB, GL_UNSIGNED_BYTE, read[i].data());
    }
  }
  std::vector<TrackedPoint> balls;
  float size = kInitialPointSize;
  std::vector<std::array<int, 2>> probes;  // GL window coordinates, y up
  std::array<std::array<unsigned char, 3>, 8> read{};
};

// The same view drawing the assisted scene and keeping the whole finished frame.
class FittedBallWindow : public GLWnd {
 public:
  explicit FittedBallWindow(std::vector<TrackedPoint> points)
      : GLWnd("Ball Display", 700, 600, kSide, kSide), balls(std::move(points)) {}
  void drawScene() override {
    if (fitted) {
      drawFittedBallScene(balls, kInitialPointSize, text);
    } else {
      drawBallScene(balls, kInitialPointSize);
    }
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSide, kSide, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
  }
  // The pixel at (x, y), y down.
  std::array<unsigned char, 3> at(int x, int y) const {
    const unsigned char* p = &frame[static_cast<std::size_t>(((kSide - 1 - y) * kSide + x) * 3)];
    return {p[0], p[1], p[2]};
  }
  static constexpr int kSide = 400;
  std::vector<TrackedPoint> balls;
  bool fitted = true;
  GLText text;
  std::vector<unsigned char> frame = std::vector<unsigned char>(kSide * kSide * 3);
};

// Where the view's projection (45 degree field, square window, eye 3 units from Z = 0) puts a
// point: pixels, y down.
std::array<double, 2> onScreen(double X, double Y, double Z) {
  const double pixelsPerUnit = 200.0 / ((3.0 - Z) * std::tan(std::numbers::pi / 8.0));
  return {200.0 + X * pixelsPerUnit, 200.0 - Y * pixelsPerUnit};
}

int glyphPixels(char c) {
  int count = 0;
  for (int row = 0; row < kFixedFontHeight; ++row) count += std::popcount(fixedFontGlyph(c)[row]);
  return count;
}

class BallScene : public ::testing::Test {
 protected:
  void TearDown() override { shutdownPlatform(); }
};

TEST_F(BallScene, ABallAtThePictureCentreIsDrawnOnTheViewAxis) {
  BallWindow view({ball(320, 240, 0, Colour(1, 0.5f, 0))});
  // Half side 0.075 at distance 3 with a 45 degree field: about 12 pixels of a 400 pixel view.
  view.probes = {{200, 200}, {209, 191}, {215, 200}, {5, 5}};
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(view.read[0], (std::array<unsigned char, 3>{255, 128, 0}));
  EXPECT_EQ(view.read[1], (std::array<unsigned char, 3>{255, 128, 0}));
  EXPECT_EQ(view.read[2], (std::array<unsigned char, 3>{0, 0, 0}));
  EXPECT_EQ(view.read[3], (std::array<unsigned char, 3>{0, 0, 0}));
}

TEST_F(BallScene, TheNearerBallCoversTheFartherWhateverTheOrderSet) {
  BallWindow view({ball(320, 240, 10, Colour(0, 1, 0)), ball(320, 240, 0, Colour(1, 0, 0))});
  view.probes = {{200, 200}};
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(view.read[0], (std::array<unsigned char, 3>{0, 255, 0}));
}

TEST_F(BallScene, ANegativeSizeStillDrawsTheSquare) {
  BallWindow view({ball(320, 240, 0, Colour(1, 1, 1))});
  view.size = -0.075f;
  view.probes = {{200, 200}};
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(view.read[0], (std::array<unsigned char, 3>{255, 255, 255}));
  view.size = 0.0f;
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(view.read[0], (std::array<unsigned char, 3>{0, 0, 0}));
}

TEST_F(BallScene, TheFittedViewShowsBallsTheDescribedOneHidesNearestInFrontAndNumbered) {
  // Depths 300 to 400 put every ball behind the eye in the described view (Z = 3 to 4).
  FittedBallWindow view({ball(320, 240, 300, Colour(1, 0, 0)),
                         ball(320, 240, 400, Colour(0, 1, 0)),
                         ball(96, 72, 350, Colour(0, 0, 1))});
  view.fitted = false;
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(std::count(view.frame.begin(), view.frame.end(), 0), std::ssize(view.frame));

  view.fitted = true;
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  // Ball 2 (d = 400, Z = 1) covers ball 1 (d = 300, Z = -1) on the axis; ball 3 sits at Z = 0.
  const auto green = onScreen(0, 0, 1);
  EXPECT_EQ(view.at(static_cast<int>(green[0]), static_cast<int>(green[1]) + 5),
            (std::array<unsigned char, 3>{0, 255, 0}));
  const auto blue = onScreen(96 / 640.0 - 0.5, 0.5 - 72 / 480.0, 0);
  EXPECT_EQ(view.at(static_cast<int>(blue[0]) - 3, static_cast<int>(blue[1]) + 3),
            (std::array<unsigned char, 3>{0, 0, 255}));
  // Ball 1's square is smaller than ball 2's and wholly behind it: no red pixel anywhere.
  int red = 0, white = 0;
  for (int y = 0; y < FittedBallWindow::kSide; ++y) {
    for (int x = 0; x < FittedBallWindow::kSide; ++x) {
      const auto pixel = view.at(x, y);
      red += pixel == std::array<unsigned char, 3>{255, 0, 0};
      white += pixel == std::array<unsigned char, 3>{255, 255, 255};
    }
  }
  EXPECT_EQ(red, 0);
  // The numbers 1, 2 and 3 are drawn whole (only text is white).
  EXPECT_EQ(white, glyphPixels('1') + glyphPixels('2') + glyphPixels('3'));
  // Number 3 at ball 3's top-right corner.
  const double s = kInitialPointSize;
  const auto corner = onScreen(96 / 640.0 - 0.5 + s, 0.5 - 72 / 480.0 + s, 0);
  int near = 0;
  for (int y = -8; y <= 8; ++y) {
    for (int x = -5; x <= 5; ++x) {
      near += view.at(static_cast<int>(corner[0]) + x, static_cast<int>(corner[1]) + y) ==
              std::array<unsigned char, 3>{255, 255, 255};
    }
  }
  EXPECT_EQ(near, glyphPixels('3'));
}

}  // namespace
}  // namespace epipolar
