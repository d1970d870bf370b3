#include "ui/BaseWnd.h"

#include <gtest/gtest.h>

#include <vector>

namespace epipolar {
namespace {

// Records what reaches the derived handler, and the object's hwnd at that moment.
class RecordingWnd : public BaseWnd {
 public:
  RecordingWnd(const std::string& title, bool quits) {
    quitOnDestroy = quits;
    create(baseClass(), title, 10, 10, 40, 30);
  }
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
    received.push_back(msg);
    if (msg == WM_CREATE) hwndAtCreate = hwnd;
    return BaseWnd::handleMessage(msg, wParam, lParam);
  }
  std::vector<UINT> received;
  WindowHandle hwndAtCreate{12345};
};

class BaseWndTest : public ::testing::Test {
 protected:
  void TearDown() override { shutdownPlatform(); }

  // Runs the loop until the quit message; returns the number of messages dispatched.
  static int runLoop() {
    Message msg;
    int dispatched = 0;
    while (getMessage(msg)) {
      dispatchMessage(msg);
      ++dispatched;
    }
    return dispatched;
  }

  // True when a quit message is waiting (dispatching everything else).
  static bool quitPending() {
    Message msg;
    while (peekMessage(msg)) {
      if (msg.message == WM_QUIT) return true;
      dispatchMessage(msg);
    }
    return false;
  }
};

TEST_F(BaseWndTest, CreateReachesTheDerivedHandlerBeforeTheHandleIsRecorded) {
  RecordingWnd first("first", true);
  ASSERT_FALSE(first.received.empty());
  EXPECT_EQ(first.received[0], WM_CREATE);
  EXPECT_FALSE(first.hwndAtCreate) << "hwnd is still null during WM_CREATE";
  ASSERT_TRUE(first.hwnd);
  EXPECT_EQ(BaseWnd::windowMap.at(first.hwnd), &first);

  // The class is registered already; a second window of it works all the same.
  RecordingWnd second("second", true);
  ASSERT_TRUE(second.hwnd);
  EXPECT_NE(second.hwnd, first.hwnd);
  EXPECT_EQ(second.received[0], WM_CREATE);
  sendMessage(second.hwnd, WM_USER, 0, 0);
  EXPECT_EQ(second.received.back(), WM_USER);
  EXPECT_EQ(first.received.back(), WM_CREATE);
}

TEST_F(BaseWndTest, TitlesAndVisibility) {
  RecordingWnd wnd("Camera", true);
  EXPECT_EQ(wnd.getTitle(), "Camera");
  wnd.setTitle("(0) " + wnd.getTitle());
  EXPECT_EQ(wnd.getTitle(), "(0) Camera");
  wnd.setTitle(std::string(300, 'x'));
  EXPECT_EQ(wnd.getTitle().size(), 255u);
  EXPECT_FALSE(wnd.show(true));
  EXPECT_TRUE(wnd.show(true));
}

TEST_F(BaseWndTest, ClosingAWindowThatDoesNotQuitLeavesTheLoopRunning) {
  RecordingWnd edge("Edge Display", false);
  RecordingWnd camera("(0) camera", true);
  postMessage(edge.hwnd, WM_CLOSE, 0, 0);
  postMessage(camera.hwnd, WM_USER, 0, 0);  // still handled: the loop went on
  postMessage(camera.hwnd, WM_CLOSE, 0, 0);
  postMessage(camera.hwnd, WM_USER + 1, 0, 0);  // never reached: the window is gone
  runLoop();
  EXPECT_FALSE(isWindow(edge.hwnd));
  EXPECT_FALSE(isWindow(camera.hwnd));
  EXPECT_EQ(camera.received, (std::vector<UINT>{WM_CREATE, WM_USER, WM_CLOSE, WM_DESTROY}));
  EXPECT_EQ(edge.received.back(), WM_DESTROY);

  // The objects keep their dead handles and map entries until they are destroyed.
  EXPECT_TRUE(edge.hwnd);
  EXPECT_EQ(BaseWnd::windowMap.count(edge.hwnd), 1u);
}

TEST_F(BaseWndTest, DestroyingAnObjectWhoseWindowWasAlreadyClosed) {
  WindowHandle handle;
  {
    RecordingWnd closed("closed", true);
    handle = closed.hwnd;
    sendMessage(closed.hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(isWindow(handle));
    EXPECT_TRUE(quitPending());
  }
  EXPECT_EQ(BaseWnd::windowMap.count(handle), 0u);
  EXPECT_FALSE(quitPending()) << "no second WM_DESTROY, so no second quit";
}

TEST_F(BaseWndTest, DestroyingALiveWindowPostsQuitOnlyWhenItEndsTheProgram) {
  WindowHandle quitting, staying;
  {
    RecordingWnd stays("stays", false);
    staying = stays.hwnd;
  }
  EXPECT_FALSE(isWindow(staying));
  EXPECT_FALSE(quitPending());
  {
    RecordingWnd quits("quits", true);
    quitting = quits.hwnd;
  }
  EXPECT_FALSE(isWindow(quitting));
  EXPECT_TRUE(BaseWnd::windowMap.empty());
  EXPECT_TRUE(quitPending());
}

TEST_F(BaseWndTest, MessagesForUnknownHandlesGetTheDefaultHandling) {
  EXPECT_EQ(BaseWnd::windowProc(WindowHandle{999999}, WM_USER, 1, 2), 0);
  EXPECT_EQ(BaseWnd::windowProc(WindowHandle{999999}, WM_CREATE, 0, 0), 0);
}

}  // namespace
}  // namespace epipolar
