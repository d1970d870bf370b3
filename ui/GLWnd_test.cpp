#include "ui/GLWnd.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace epipolar {
namespace {

// Clears to a known colour and draws a red quad over the middle; reads the back buffer
// before the swap.
class QuadView : public GLWnd {
 public:
  QuadView() : GLWnd("Ball Display", 700, 600, 64, 48) {}
  void drawScene() override {
    glClearColor(0.0f, 0.4f, 0.8f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -5.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex3f(-0.5f, -0.5f, 0.0f);
    glVertex3f(0.5f, -0.5f, 0.0f);
    glVertex3f(0.5f, 0.5f, 0.0f);
    glVertex3f(-0.5f, 0.5f, 0.0f);
    glEnd();
    glFinish();
    glReadPixels(32, 24, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, centre.data());
    glReadPixels(1, 1, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, corner.data());
    ++scenes;
  }
  std::array<unsigned char, 3> centre{}, corner{};
  int scenes = 0;
};

class GLWndTest : public ::testing::Test {
 protected:
  void TearDown() override { shutdownPlatform(); }
};

TEST_F(GLWndTest, PaintDrawsTheSceneAndRepaintsWhenNothingChanged) {
  QuadView view;
  ASSERT_TRUE(view.hwnd);
  ASSERT_NE(view.glContext, nullptr);
  EXPECT_EQ(sendMessage(view.hwnd, WM_PAINT, 0, 0), 0);
  EXPECT_EQ(view.scenes, 1);
  EXPECT_EQ(view.centre, (std::array<unsigned char, 3>{255, 0, 0}));
  EXPECT_EQ(view.corner[0], 0);
  EXPECT_NEAR(view.corner[1], 102, 1);
  EXPECT_NEAR(view.corner[2], 204, 1);
  sendMessage(view.hwnd, WM_PAINT, 0, 0);
  EXPECT_EQ(view.scenes, 2);
}

TEST_F(GLWndTest, ResizeTreatsZeroHeightAsOneAndSetsThePerspective) {
  QuadView view;
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 64) << "the constructor applies the client size";
  EXPECT_EQ(viewport[3], 48);

  view.resize(100, 0);
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 100);
  EXPECT_EQ(viewport[3], 1);
  double projection[16];
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
  const double nearPlane = static_cast<double>(0.1f);
  // GL keeps the matrix in single precision.
  EXPECT_NEAR(projection[5], f, 1e-5);
  EXPECT_NEAR(projection[0], f / 100.0, 1e-7);
  EXPECT_NEAR(projection[10], (100.0 + nearPlane) / (nearPlane - 100.0), 1e-6);
  EXPECT_NEAR(projection[14], 2.0 * 100.0 * nearPlane / (nearPlane - 100.0), 1e-6);
  GLint mode;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);

  EXPECT_EQ(sendMessage(view.hwnd, WM_SIZE, SIZE_RESTORED, makeLParam(200, 50)), 0);
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 200);
  EXPECT_EQ(viewport[3], 50);
}

TEST_F(GLWndTest, ScreenSaverCommandsAreSwallowedOnlyWhenExact) {
  QuadView view;
  EXPECT_FALSE(screenSaverEnabled()) << "off while the view exists";
  EXPECT_EQ(sendMessage(view.hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
  EXPECT_EQ(sendMessage(view.hwnd, WM_SYSCOMMAND, SC_MONITORPOWER, 2), 0);
  EXPECT_FALSE(screenSaverEnabled());
  // Other low bits: the default handling, which lets the screen saver start.
  EXPECT_EQ(sendMessage(view.hwnd, WM_SYSCOMMAND, SC_SCREENSAVE | 0x1, 0), 0);
  EXPECT_TRUE(screenSaverEnabled());
}

TEST_F(GLWndTest, ReleaseResourcesReportsEachFailedStepAndGoesOn) {
  MessageBoxScript script;
  {
    QuadView view;
    view.releaseResources();
    EXPECT_EQ(view.glContext, nullptr);
    EXPECT_FALSE(view.deviceContext);
    EXPECT_TRUE(script.calls().empty());
    view.releaseResources();  // nothing left to release
    EXPECT_TRUE(script.calls().empty());
  }
  {
    QuadView view;
    sendMessage(view.hwnd, WM_CLOSE, 0, 0);  // the window is gone, its drawable with it
    view.releaseResources();
    ASSERT_EQ(script.calls().size(), 1u);
    EXPECT_EQ(script.calls()[0].text, "Release Device Context Failed.");
    EXPECT_EQ(script.calls()[0].caption, "SHUTDOWN ERROR");
    EXPECT_EQ(script.calls()[0].type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(view.glContext, nullptr);
  }
}

// Prints the boxes a dying child showed, so the parent can check them.
MessageBoxScript* childScript = nullptr;
void printBoxes() {
  for (const MessageBoxCall& call : childScript->calls())
    std::fprintf(stderr, "box [%s] [%s] %u\n", call.caption.c_str(), call.text.c_str(), call.type);
}

TEST(GLWndDeathTest, FailedSetUpShowsTheBoxAndExitsWithMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The dummy video driver has no OpenGL, so the window cannot get a GL drawable.
  EXPECT_EXIT(
      {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        childScript = new MessageBoxScript;
        std::atexit(printBoxes);
        QuadView view;
      },
      ::testing::ExitedWithCode(255),
      "box \\[ERROR\\] \\[Can't Create A GL Device Context.\\] 48");
}

}  // namespace
}  // namespace epipolar
