// Keys A, R and D with --assist on frames of the virtual rig, in process (offscreen), and the
// same keys without --assist.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "capture/VirtualScene.h"
#include "capture/VirtualView.h"
#include "vision/Rectification.h"

namespace epipolar {
namespace {

using testing::linesStartingWith;

class VisionViewsTest : public testing::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    entries_[1].id = 1;
    rigCamera0 = std::make_unique<testing::FakeCamera>(&entries_[0], 640, 480);
    rigCamera1 = std::make_unique<testing::FakeCamera>(&entries_[1], 640, 480);
  }
  void TearDown() override {
    rigCamera0.reset();
    rigCamera1.reset();
    AppFixture::TearDown();
  }

  // One rig frame pair into the two windows, as the cameras deliver them.
  void pushRigFrames() {
    static const auto scene = std::make_shared<const VirtualScene>();
    static const std::unique_ptr<Image> frame0 = VirtualView(scene, 0, 11).renderFrame(0.0);
    static const std::unique_ptr<Image> frame1 = VirtualView(scene, 1, 12).renderFrame(0.0);
    ASSERT_TRUE(rigCamera0->push(std::make_unique<Image>(*frame0)));
    ASSERT_TRUE(rigCamera1->push(std::make_unique<Image>(*frame1)));
  }

  static void key(CameraWnd* window, WPARAM code) {
    sendMessage(window->hwnd, WM_KEYDOWN, code, 0);
  }

  // Dispatches messages until `done` holds or `seconds` pass.
  template <typename Done>
  static bool pumpUntil(Done done, int seconds = 120) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      drainMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  CameraEntry entries_[2];
  std::unique_ptr<testing::FakeCamera> rigCamera0;
  std::unique_ptr<testing::FakeCamera> rigCamera1;
};

// A adds the verified pairs as one bulk addition from a worker; C fits F to them; R shows both
// rectified frames side by side, with the rig's landmarks on common rows; D shows a map.
TEST_F(VisionViewsTest, AutomaticPairsThenRectifiedAndDisparityViewsOnTheRig) {
  Options assisted;
  assisted.assist = true;
  StereoApp app(rigCamera0.get(), rigCamera1.get(), "cams.conf", assisted);
  key(app.cameraWnd0.get(), 'R');
  key(app.cameraWnd0.get(), 'D');
  key(app.cameraWnd0.get(), 'A');  // no frame yet
  EXPECT_EQ(linesStartingWith(log, "Rectified view: no F yet").size(), 1u);
  EXPECT_EQ(linesStartingWith(log, "Disparity view: rectify first").size(), 1u);
  EXPECT_EQ(linesStartingWith(log, "Automatic pairs: both windows need a frame").size(), 1u);

  pushRigFrames();
  key(app.cameraWnd1.get(), 'A');
  ASSERT_TRUE(app.vision->searching());
  ASSERT_TRUE(pumpUntil([&] { return !app.vision->searching(); }));
  const std::vector<std::string> summary = linesStartingWith(log, "Automatic pairs: ");
  ASSERT_FALSE(summary.empty());
  const std::size_t added = app.pairs().correspondences().size();
  EXPECT_GE(added, 200u) << summary.back();
  EXPECT_EQ(summary.back().rfind("Automatic pairs: " + std::to_string(added) + " added from ", 0),
            0u)
      << summary.back();

  // The same frames again: nothing new to add.
  key(app.cameraWnd0.get(), 'A');
  ASSERT_TRUE(pumpUntil([&] { return !app.vision->searching(); }));
  EXPECT_EQ(app.pairs().correspondences().size(), added);
  EXPECT_EQ(linesStartingWith(log, "Automatic pairs: 0 added from ").size(), 1u);

  key(app.cameraWnd0.get(), 'C');
  ASSERT_TRUE(app.calibration().calibrated());
  key(app.cameraWnd0.get(), 'R');
  ASSERT_TRUE(app.vision->rectification()) << log.lines().back();
  const Rectification& r = *app.vision->rectification();
  std::vector<double> dy;
  for (const RigLandmark& l : VirtualScene().landmarks()) {
    double x0, y0, x1, y1;
    ASSERT_TRUE(applyHomography(r.H0, l.x0, l.y0, x0, y0));
    ASSERT_TRUE(applyHomography(r.H1, l.x1, l.y1, x1, y1));
    dy.push_back(std::abs(y0 - y1));
  }
  std::nth_element(dy.begin(), dy.begin() + dy.size() / 2, dy.end());
  EXPECT_LE(dy[dy.size() / 2], 0.3);

  LiveViewWnd* rectified = app.vision->rectifiedWindow();
  ASSERT_NE(rectified, nullptr);
  EXPECT_EQ(rectified->getTitle(), "Rectified Display");
  ASSERT_TRUE(pumpUntil([&] { return rectified->counts().rendered >= 1; }));
  {
    std::lock_guard lock(rectified->frameLock);
    const Rectification& shown = app.vision->shown();
    ASSERT_EQ(rectified->frame->width, 2 * shown.width);
    ASSERT_EQ(rectified->frame->height, shown.height);
    EXPECT_LE(rectified->frame->width, 1600);
    const Colour guide = rectified->frame->pixel(shown.width, kGuideSpacing / 2);
    EXPECT_GT(guide.g, 0.99f);
    EXPECT_LT(guide.r + guide.b, 0.01f);
  }

  key(app.cameraWnd1.get(), 'D');
  LiveViewWnd* disparity = app.vision->disparityWindow();
  ASSERT_NE(disparity, nullptr);
  EXPECT_EQ(disparity->getTitle(), "Disparity Display");
  ASSERT_TRUE(pumpUntil([&] { return disparity->counts().rendered >= 1; }));
  {
    std::lock_guard lock(disparity->frameLock);
    const Image& map = *disparity->frame;
    int coloured = 0;
    for (int y = 0; y < map.height; y += 8) {
      for (int x = 0; x < map.width; x += 8) {
        const Colour c = map.pixel(x, y);
        coloured += (c.r + c.g + c.b > 0.0f) ? 1 : 0;
      }
    }
    // The rig's rectified frames are turned: about a third of the map lies in them.
    EXPECT_GT(coloured, (map.width / 8) * (map.height / 8) / 4);
  }

  // Closing the window stops its worker: frames after it reach nothing.
  sendMessage(disparity->hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(disparity->open());
  const auto before = disparity->counts().submitted;
  pushRigFrames();
  EXPECT_EQ(disparity->counts().submitted, before);
  EXPECT_EQ(rigCamera0->snapshotRequests.load() + rigCamera1->snapshotRequests.load(), 0);
}

// Without --assist, A, R and D are keys like any other: a snapshot each, nothing more.
TEST_F(VisionViewsTest, WithoutAssistTheKeysOnlyAskForSnapshots) {
  StereoApp app(rigCamera0.get(), rigCamera1.get(), "cams.conf");
  pushRigFrames();
  log.clear();
  for (WPARAM code : {'A', 'R', 'D'}) key(app.cameraWnd0.get(), code);
  drainMessages();
  EXPECT_EQ(rigCamera0->snapshotRequests.load(), 3);
  EXPECT_EQ(app.vision, nullptr);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(app.pairs().correspondences().empty());
}

}  // namespace
}  // namespace epipolar
