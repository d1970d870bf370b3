// A real X11 window (under Xvfb): the frame reaches the screen, and a window manager's close
// request ends the message loop.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/testing/XClose.h"
#include "ui/ImageWnd.h"

namespace epipolar {
namespace {

constexpr const char* kTitle = "epipolar X11 frame test";

TEST(X11WindowTest, FrameIsShownAndDeleteWindowEndsTheLoop) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (xvfb-run)";
  auto frame = Image::blank(48, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x) {
      std::uint8_t* p = frame->row(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(5 * x);  // blue
      p[1] = 128;
      p[2] = static_cast<std::uint8_t>(7 * y);  // red
    }
  ImageWnd wnd(new Image(*frame), kTitle, 50, 50);
  wnd.quitOnDestroy = true;  // closing it ends the program, like a camera window
  ASSERT_TRUE(wnd.hwnd);
  wnd.show(true);

  // Let the window map and paint; then read the screen back from the X server.
  bool shown = false;
  unsigned char r = 0, g = 0, b = 0;
  for (int attempt = 0; attempt < 200 && !shown; ++attempt) {
    Message msg;
    while (peekMessage(msg)) dispatchMessage(msg);
    shown = testing::readXWindowPixel(kTitle, 47, 31, r, g, b) && g == 128;
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(shown);
  EXPECT_EQ(r, 7 * 31);
  EXPECT_EQ(b, 5 * 47);
  ASSERT_TRUE(testing::readXWindowPixel(kTitle, 3, 2, r, g, b));
  EXPECT_EQ(r, 14);
  EXPECT_EQ(b, 15);

  ASSERT_EQ(testing::sendDeleteWindow(kTitle), 1);
  Message msg;
  while (getMessage(msg)) dispatchMessage(msg);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_FALSE(isWindow(wnd.hwnd));
  EXPECT_TRUE(testing::findXWindows(kTitle).empty());
  shutdownPlatform();
}

}  // namespace
}  // namespace epipolar
