// The application under live cameras: frames keep arriving on two capture threads while the
// UI thread paints, searches, pauses, shows edges and compares colours, and at teardown. Run
// under ThreadSanitizer, this checks the frame-lock rule: onFrame tests `paused` under the
// window's frame lock, and every UI-thread reader holds that lock or has paused and settled.
#include <gtest/gtest.h>

#include <chrono>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"

namespace epipolar {
namespace {

using namespace std::chrono_literals;
using testing::AppFixture;
using testing::at;
using testing::makeFrame;

constexpr double kTranslationF[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};

std::unique_ptr<Image> noise(int width, int height, unsigned seed) {
  unsigned state = seed;
  return makeFrame(width, height, [&state](int, int, std::uint8_t rgb[3]) {
    state = state * 1664525u + 1013904223u;
    rgb[0] = static_cast<std::uint8_t>(state >> 24);
    rgb[1] = static_cast<std::uint8_t>(state >> 16);
    rgb[2] = static_cast<std::uint8_t>(state >> 8);
  });
}

using LiveCameras = AppFixture;

TEST_F(LiveCameras, UiReadersAndCaptureThreadsNeverRace) {
  writeSettings("");
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    app.calibration().restore(Matrix(kTranslationF, 3, 3), true);
    app.pairs().assign({{10, 10, 12, 10}, {20, 30, 25, 30}});
    unsigned seed0 = 1;
    unsigned seed1 = 2;
    camera0->startStreaming([&seed0] { return noise(kWidth, kHeight, seed0++); }, 500us);
    camera1->startStreaming([&seed1] { return noise(kWidth, kHeight, seed1++); }, 500us);
    while (camera0->delivered.load() < 3 || camera1->delivered.load() < 3) {
      std::this_thread::sleep_for(1ms);
    }

    CameraWnd* windows[2] = {app.cameraWnd0.get(), app.cameraWnd1.get()};
    for (int round = 0; round < 20; ++round) {
      CameraWnd* window = windows[round % 2];
      sendMessage(window->hwnd, WM_PAINT, 0, 0);
      sendMessage(app.hwnd, WM_PAINT, 0, 0);
      sendMessage(window->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(20 + round, 20));
      sendMessage(app.cameraWnd0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(30, 10 + round));
      sendMessage(window->hwnd, WM_KEYDOWN, '1' + round % 3, 0);
      sendMessage(window->hwnd, WM_KEYDOWN, 'X', 0);
      sendMessage(window->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(5, 5 + round));
      if (round % 5 == 0) {
        sendMessage(window->hwnd, WM_KEYDOWN, 'E', 0);
        sendMessage(window->hwnd, WM_KEYDOWN, 'P', 0);  // resume after the edges
      }
      drainMessages();
    }
    EXPECT_EQ(app.balls().trackedPoints().size(), 20u);
    EXPECT_FALSE(app.paused());
    // Teardown runs while both cameras still deliver.
  }
  EXPECT_FALSE(camera0->isRunning());
  EXPECT_FALSE(camera1->isRunning());
  EXPECT_EQ(readSettings().rfind("mat0=0\n", 0), 0u);
}

}  // namespace
}  // namespace epipolar
