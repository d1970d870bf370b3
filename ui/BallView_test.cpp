#include "ui/BallView.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>

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

}  // namespace
}  // namespace epipolar
