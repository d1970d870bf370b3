#include "ui/ImageWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "log/testing/LogCapture.h"
#include "ui/LiveImageWnd.h"

namespace epipolar {
namespace {

std::atomic<int> imagesDeleted{0};

// An Image that counts its deletions.
class CountedImage : public Image {
 public:
  explicit CountedImage(int width, int height, std::uint8_t blue = 0)
      : Image(*Image::blank(width, height)) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) row(y)[3 * x] = blue;
  }
  ~CountedImage() override { imagesDeleted.fetch_add(1); }
};

// A camera whose frames the test hands over, optionally from its own thread.
class FakeCamera : public Camera {
 public:
  FakeCamera(int width, int height) : Camera(&entry), width(width), height(height) {
    std::strcpy(entry.name, "Fake Camera");
  }
  int frameWidth() const override { return width; }
  int frameHeight() const override { return height; }
  void requestSnapshot() override { ++snapshots; }
  void stop() override {
    if (streamer.joinable()) {
      streaming.store(false);
      streamer.join();
    }
    Camera::stop();
  }
  void push(Image* frame) { deliver(std::unique_ptr<Image>(frame)); }
  // Delivers `count` frames from a streaming thread.
  void stream(int count) {
    streaming.store(true);
    streamer = std::thread([this, count] {
      for (int i = 0; i < count && streaming.load(); ++i)
        push(new CountedImage(width, height, static_cast<std::uint8_t>(i)));
      streaming.store(false);
    });
  }

  CameraEntry entry;
  int width, height;
  int snapshots = 0;
  std::atomic<bool> streaming{false};
  std::thread streamer;
};

class FrameWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { imagesDeleted.store(0); }
  void TearDown() override { shutdownPlatform(); }

  // Dispatches waiting messages; returns how many were paints.
  static int pump() {
    int paints = 0;
    Message msg;
    while (peekMessage(msg)) {
      if (msg.message == WM_PAINT) ++paints;
      if (msg.message != WM_QUIT) dispatchMessage(msg);
    }
    return paints;
  }
};

TEST_F(FrameWindowTest, FrameWindowShowsItsFrameAndClosesAlone) {
  auto* frame = new CountedImage(7, 5, 200);
  frame->row(4)[3 * 6 + 2] = 99;  // bottom-right pixel: red 99
  {
    ImageWnd edge(frame, "Edge Display", 0, 0);
    EXPECT_FALSE(edge.quitOnDestroy);
    int w = 0, h = 0;
    getClientSize(edge.hwnd, w, h);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);
    edge.show(true);
    EXPECT_EQ(pump(), 1);
    std::uint8_t r, g, b;
    ASSERT_TRUE(readSurfacePixel(edge.hwnd, 6, 4, r, g, b));
    EXPECT_EQ(r, 99);
    EXPECT_EQ(b, 200);
    ASSERT_TRUE(readSurfacePixel(edge.hwnd, 0, 0, r, g, b));
    EXPECT_EQ(b, 200);
  }
  EXPECT_EQ(imagesDeleted.load(), 1) << "the window owns its frame";
}

TEST_F(FrameWindowTest, LiveWindowTakesTitleAndSizeFromTheCameraAndKeysRequestSnapshots) {
  FakeCamera camera(32, 24);
  LiveImageWnd wnd(&camera, 100, 100);
  EXPECT_EQ(wnd.getTitle(), "Fake Camera");
  EXPECT_TRUE(wnd.quitOnDestroy);
  int w = 0, h = 0;
  getClientSize(wnd.hwnd, w, h);
  EXPECT_EQ(w, 32);
  EXPECT_EQ(h, 24);
  for (WPARAM key : {WPARAM{'Q'}, VK_LEFT, VK_SPACE}) sendMessage(wnd.hwnd, WM_KEYDOWN, key, 0);
  EXPECT_EQ(camera.snapshots, 3);
  sendMessage(wnd.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  EXPECT_EQ(camera.snapshots, 3);
}

TEST_F(FrameWindowTest, CameraDeliversOnlyBetweenOwnerStartAndStop) {
  FakeCamera camera(8, 8);
  auto* wnd = new LiveImageWnd(&camera, 0, 0);
  camera.push(new CountedImage(8, 8));
  EXPECT_EQ(imagesDeleted.load(), 1) << "not started by the constructor: frame dropped";
  EXPECT_EQ(wnd->frame, nullptr);
  wnd->startCamera();
  camera.push(new CountedImage(8, 8));
  EXPECT_NE(wnd->frame, nullptr);
  wnd->stopCamera();
  camera.push(new CountedImage(8, 8));
  EXPECT_EQ(imagesDeleted.load(), 2);
  delete wnd;
  EXPECT_EQ(imagesDeleted.load(), 3);
}

TEST_F(FrameWindowTest, OnFrameSwapsDeletesTheOldFrameAndInvalidates) {
  FakeCamera camera(8, 8);
  LiveImageWnd wnd(&camera, 0, 0);
  pump();
  auto* first = new CountedImage(8, 8);
  wnd.onFrame(first);
  EXPECT_EQ(wnd.frame, first);
  EXPECT_EQ(imagesDeleted.load(), 0);
  wnd.onFrame(first);  // the frame already shown: nothing is deleted
  EXPECT_EQ(wnd.frame, first);
  EXPECT_EQ(imagesDeleted.load(), 0);
  EXPECT_EQ(pump(), 1) << "every delivery invalidates; pending paints coalesce";
  auto* second = new CountedImage(8, 8);
  wnd.onFrame(second);
  EXPECT_EQ(wnd.frame, second);
  EXPECT_EQ(imagesDeleted.load(), 1);
  EXPECT_EQ(pump(), 1);
}

TEST_F(FrameWindowTest, FrameDeliveredDuringPaintingWaitsForTheLock) {
  FakeCamera camera(8, 8);
  LiveImageWnd wnd(&camera, 0, 0);
  auto* shown = new CountedImage(8, 8);
  wnd.onFrame(shown);
  auto* arriving = new CountedImage(8, 8);
  std::atomic<bool> delivered{false};
  std::thread capture;
  {
    std::lock_guard painting(wnd.frameLock);  // as a paint holds it
    capture = std::thread([&] {
      wnd.onFrame(arriving);
      delivered.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(delivered.load());
    EXPECT_EQ(wnd.frame, shown);
    EXPECT_EQ(imagesDeleted.load(), 0) << "the shown frame is not deleted under the painter";
  }
  capture.join();
  EXPECT_EQ(wnd.frame, arriving);
  EXPECT_EQ(imagesDeleted.load(), 1);
}

TEST_F(FrameWindowTest, FramesFromAStreamingThreadWhileTheWindowPaints) {
  FakeCamera camera(40, 30);
  LiveImageWnd wnd(&camera, 0, 0);
  wnd.show(true);
  wnd.startCamera();
  constexpr int kFrames = 400;
  camera.stream(kFrames);
  int paints = 0;
  while (camera.streaming.load()) paints += pump();
  wnd.stopCamera();
  paints += pump();
  EXPECT_GE(paints, 1);
  EXPECT_EQ(imagesDeleted.load(), kFrames - 1);
  // The last frame delivered is the one shown.
  std::uint8_t r, g, b;
  ASSERT_TRUE(readSurfacePixel(wnd.hwnd, 5, 5, r, g, b));
  EXPECT_EQ(b, static_cast<std::uint8_t>(kFrames - 1));
}

TEST(FrameWindowDeathTest, NullCameraLogsAndExitsWithZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(LiveImageWnd(nullptr, 0, 0),
              ::testing::ExitedWithCode(0),
              "Camera was NULL, what are you trying to pull here!\n");
}

}  // namespace
}  // namespace epipolar
