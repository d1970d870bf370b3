#include "ui/GLText.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/FixedFont.h"
#include "ui/GLWnd.h"

namespace epipolar {
namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 80;

// A view that clears to black, runs `draw` and keeps the finished frame (top row first).
class TextView : public GLWnd {
 public:
  TextView() : GLWnd("Ball Display", 700, 600, kWidth, kHeight) {}
  void drawScene() override {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    draw();
    glFinish();
    std::vector<unsigned char> rgb(kWidth * kHeight * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    lit.clear();
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const unsigned char* p = &rgb[((kHeight - 1 - y) * kWidth + x) * 3];
        if (p[0] | p[1] | p[2]) lit.insert({x, y});
      }
  }
  std::function<void()> draw;
  std::set<std::pair<int, int>> lit;  // pixels not black, y down
};

class GLTextTest : public ::testing::Test {
 protected:
  void TearDown() override { shutdownPlatform(); }
};

// The pixels the canvas renderer lights for `text` at (x, y).
std::set<std::pair<int, int>> canvasPixels(int x, int y, std::string_view text) {
  std::vector<std::uint32_t> buffer(kWidth * kHeight, 0);
  Canvas canvas{reinterpret_cast<std::uint8_t*>(buffer.data()), kWidth, kHeight, kWidth * 4};
  drawText(canvas, x, y, text, Rgba{255, 255, 255, 255});
  std::set<std::pair<int, int>> lit;
  for (int py = 0; py < kHeight; ++py)
    for (int px = 0; px < kWidth; ++px)
      if (canvas.at(px, py) != 0) lit.insert({px, py});
  return lit;
}

TEST_F(GLTextTest, DrawsTheFontsPixelsOnScreenAndAtAProjectedPoint) {
  TextView view;
  GLText text;
  // On screen, the texture gives exactly the pixels the window canvases draw.
  view.draw = [&] { text.drawScreen(7, 5, "Ball 12 {g}", Rgba{255, 200, 0, 255}); };
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(view.lit, canvasPixels(7, 5, "Ball 12 {g}"));

  // A point straight ahead lands in the middle of the view; the text is centred on it and
  // its box lies around the text. The view's matrices and colour come back unchanged.
  std::vector<GLfloat> projectionBefore(16), projectionAfter(16), colour(4);
  view.draw = [&] {
    glGetFloatv(GL_PROJECTION_MATRIX, projectionBefore.data());
    glColor4f(0.25f, 0.5f, 0.75f, 1.0f);
    text.drawAt(0.0, 0.0, -3.0, "88", Rgba{255, 255, 255, 255}, Rgba{0, 0, 255, 255});
    glGetFloatv(GL_PROJECTION_MATRIX, projectionAfter.data());
    glGetFloatv(GL_CURRENT_COLOR, colour.data());
  };
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(projectionBefore, projectionAfter);
  EXPECT_EQ(colour[1], 0.5f);
  // 6.5 rows above the middle row boundary: either row may be the top one.
  ASSERT_FALSE(view.lit.empty());
  int top = kHeight;
  for (const auto& p : view.lit) top = std::min(top, p.second + 2);
  EXPECT_TRUE(top == kHeight / 2 - 7 || top == kHeight / 2 - 6) << top;
  const int left = kWidth / 2 - kFixedFontWidth;
  std::set<std::pair<int, int>> box;
  for (int y = top - 2; y < top + kFixedFontHeight + 2; ++y)
    for (int x = left - 2; x < left + 2 * kFixedFontWidth + 2; ++x) box.insert({x, y});
  EXPECT_EQ(view.lit, box);

  // Behind the eye, or not finite: nothing.
  view.draw = [&] {
    text.drawAt(0.0, 0.0, 3.0, "88", Rgba{255, 255, 255, 255});
    text.drawAt(
        0.0, std::numeric_limits<double>::quiet_NaN(), -3.0, "88", Rgba{255, 255, 255, 255});
  };
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_TRUE(view.lit.empty());
  text.release();
}

}  // namespace
}  // namespace epipolar
