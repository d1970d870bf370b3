// Thread-safe entry points of the platform: invalidate() and postMessage() from other threads.
// (No GL here, so the test also runs under ThreadSanitizer.)
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace epipolar {
namespace {

struct Seen {
  UINT msg;
};
std::vector<Seen> seen;

LRESULT recordingProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  seen.push_back({msg});
  return defWindowProc(hwnd, msg, wParam, lParam);
}

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    registerClass(WindowClass{"Recording", &recordingProc, false});
  }
  void TearDown() override { shutdownPlatform(); }

  WindowHandle make() {
    WindowHandle hwnd = createWindow("Recording", "Test window", 10, 20, 64, 48, nullptr);
    EXPECT_TRUE(hwnd);
    return hwnd;
  }

  static std::vector<UINT> pump() {
    std::vector<UINT> ids;
    Message msg;
    while (peekMessage(msg)) {
      ids.push_back(msg.message);
      if (msg.message != WM_QUIT) dispatchMessage(msg);
    }
    return ids;
  }

  static int count(const std::vector<UINT>& ids, UINT id) {
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
  }
};

TEST_F(PlatformTest, InvalidateFromManyThreadsCoalescesIntoOnePaint) {
  WindowHandle hwnd = make();
  pump();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([hwnd] {
      for (int i = 0; i < 100; ++i) invalidate(hwnd);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count(pump(), WM_PAINT), 1);
  EXPECT_EQ(count(pump(), WM_PAINT), 0);
  invalidate(hwnd);
  EXPECT_EQ(count(pump(), WM_PAINT), 1) << "a new request after the paint paints again";
}

TEST_F(PlatformTest, PostedMessagesKeepOrderAndQuitComesAfterThem) {
  WindowHandle hwnd = make();
  WindowHandle dead = make();
  destroyWindow(dead);
  pump();
  seen.clear();
  std::thread poster([&] {
    postMessage(hwnd, WM_USER + 1, 7, -3);
    postMessage(dead, WM_USER + 2, 0, 0);
  });
  poster.join();
  postQuitMessage(5);
  Message msg;
  ASSERT_TRUE(getMessage(msg));
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(msg.lParam, -3);
  dispatchMessage(msg);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(getMessage(msg)) << "the message for the dead window is skipped";
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 5u);
}

}  // namespace
}  // namespace epipolar
