// The assisted camera windows' overlays and pair editing, driven through their messages with
// fake cameras: what the windows show, checked by pixels, and the pairs after each step.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "platform/PaintSurface.h"
#include "platform/testing/KeyInput.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::at;
using testing::HeldKeys;
using testing::makeUniformFrame;
using testing::queueKeyPress;

// Pure horizontal translation: a pair's residual is its vertical offset over sqrt(2).
constexpr double kTranslationF[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
constexpr int kW = 320;
constexpr int kH = 240;
constexpr std::uint8_t kGrey = 100;

struct Rgb {
  int r = 0, g = 0, b = 0;
};

class Editing : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    useCameraSize(kW, kH);
    Options options;
    options.assist = true;
    app = std::make_unique<StereoApp>(camera0.get(), camera1.get(), "cams.conf", options);
    w0 = app->cameraWnd0.get();
    w1 = app->cameraWnd1.get();
    ASSERT_TRUE(camera0->push(makeUniformFrame(kW, kH, kGrey, kGrey, kGrey)));
    ASSERT_TRUE(camera1->push(makeUniformFrame(kW, kH, kGrey, kGrey, kGrey)));
  }
  void TearDown() override {
    app.reset();
    AppFixture::TearDown();
  }

  void calibrateWithTranslation() {
    app->calibration().restore(Matrix(kTranslationF, 3, 3), true);
    app->markFitted();
  }
  static Rgb pixel(CameraWnd* window, int x, int y) {
    sendMessage(window->hwnd, WM_PAINT, 0, 0);
    std::uint8_t r = 0, g = 0, b = 0;
    EXPECT_TRUE(readSurfacePixel(window->hwnd, x, y, r, g, b));
    return {r, g, b};
  }
  static void press(CameraWnd* window, int x, int y, WPARAM flags = 0) {
    sendMessage(window->hwnd, WM_LBUTTONDOWN, MK_LBUTTON | flags, at(x, y));
  }
  static void moveTo(CameraWnd* window, int x, int y) {
    sendMessage(window->hwnd, WM_MOUSEMOVE, MK_LBUTTON, at(x, y));
  }
  static void release(CameraWnd* window, int x, int y) {
    sendMessage(window->hwnd, WM_LBUTTONUP, 0, at(x, y));
  }
  void click(CameraWnd* window, int x, int y, WPARAM flags = 0) {
    press(window, x, y, flags);
    release(window, x, y);
  }
  void key(CameraWnd* window, WPARAM code, HeldKeys held = {}) {
    ASSERT_TRUE(queueKeyPress(window->hwnd, code, held));
    drainMessages();
  }
  int snapshots() const {
    return camera0->snapshotRequests.load() + camera1->snapshotRequests.load();
  }
  const std::vector<Correspondence>& pairs() const { return app->pairs().correspondences(); }

  std::unique_ptr<StereoApp> app;
  CameraWnd* w0 = nullptr;
  CameraWnd* w1 = nullptr;
};

TEST_F(Editing, MarkersShowResidualColoursSelectionPendingClickLineAndStatus) {
  calibrateWithTranslation();
  // Residuals 0, 2 / sqrt(2) and 6 / sqrt(2) pixels.
  app->pairs().assign({{60, 60, 70, 60}, {150, 60, 160, 62}, {240, 60, 250, 66}});
  app->markFitted();
  // On each ring, at its radius right of the point.
  const Rgb good = pixel(w0, 66, 60), fair = pixel(w0, 156, 60), bad = pixel(w0, 246, 60);
  EXPECT_TRUE(good.g > 200 && good.r < 80 && good.b < 80);
  EXPECT_TRUE(fair.r > 240 && fair.g > 200 && fair.b < 60);
  EXPECT_TRUE(bad.r > 240 && bad.g < 80 && bad.b < 80);
  // Window (1) draws camera 1's points.
  EXPECT_GT(pixel(w1, 76, 60).g, 200);
  EXPECT_EQ(pixel(w1, 40, 60).g, kGrey);
  // Drawn on the surface, never into the frame.
  EXPECT_EQ(std::lround(w0->frame->pixel(66, 60).g * 255), kGrey);
  // The status line darkens the bottom rows.
  EXPECT_LT(pixel(w0, 1, kH - 2).r, 40);

  // Selecting pair 1 rings it in white and shows its partner's line (row 60) in cyan.
  click(w0, 62, 61);
  EXPECT_EQ(app->pairs().currentCorrespondence(), 0);
  const Rgb ring = pixel(w0, 71, 60);
  EXPECT_TRUE(ring.r > 200 && ring.g > 200 && ring.b > 200);
  const Rgb line = pixel(w0, 20, 60);
  EXPECT_TRUE(line.r < 60 && line.g > 200 && line.b > 200);

  // Shift marks a point even after calibration; the waiting click is magenta.
  click(w0, 100, 150, MK_SHIFT);
  EXPECT_EQ(app->pairs().pendingSource(), 0);
  const Rgb pending = pixel(w0, 106, 150);
  EXPECT_TRUE(pending.r > 240 && pending.g < 100 && pending.b > 240);

  // H shows the help panel in both windows and hides it again.
  key(w1, 'H');
  EXPECT_TRUE(app->helpShown());
  EXPECT_LT(pixel(w0, 5, 5).g, 40);  // the panel, larger than this window, starts at its corner
  key(w0, 'H');
  EXPECT_EQ(pixel(w0, 5, 5).g, kGrey);
  EXPECT_EQ(snapshots(), 0);
}

TEST_F(Editing, SelectDragDeleteUndoRedoStepByStep) {
  click(w0, 50, 50);
  click(w1, 55, 50);
  ASSERT_EQ(pairs(), (std::vector<Correspondence>{{50, 50, 55, 50}}));
  click(w0, 100, 100);
  key(w1, VK_ESCAPE);
  EXPECT_EQ(app->pairs().pendingSource(), -1);

  // A press near the point selects it and marks nothing; 2 px of travel is no drag.
  press(w0, 52, 51);
  EXPECT_EQ(app->pairs().currentCorrespondence(), 0);
  EXPECT_EQ(app->pairs().pendingSource(), -1);
  moveTo(w0, 53, 52);
  release(w0, 53, 52);
  EXPECT_EQ(pairs()[0].x0, 50);
  // A drag keeps the press's offset from the point and moves it once, on release.
  calibrateWithTranslation();
  press(w0, 52, 51);
  moveTo(w0, 57, 56);
  moveTo(w0, 62, 61);
  EXPECT_EQ(pairs()[0].x0, 50);
  EXPECT_FALSE(app->calibrationOutOfDate());
  release(w0, 62, 61);
  EXPECT_EQ(pairs(), (std::vector<Correspondence>{{60, 60, 55, 50}}));
  EXPECT_TRUE(app->calibrationOutOfDate());
  // Released beyond the frame, the point stays.
  press(w1, 55, 50);
  moveTo(w1, 30, 50);
  release(w1, -20, 50);
  EXPECT_EQ(pairs()[0].x1, 55);

  key(w1, VK_DELETE);
  EXPECT_TRUE(pairs().empty());
  EXPECT_EQ(app->pairs().currentCorrespondence(), -1);
  key(w0, 'Z', {.ctrl = true});
  EXPECT_EQ(pairs(), (std::vector<Correspondence>{{60, 60, 55, 50}}));
  key(w0, 'Z', {.ctrl = true});
  EXPECT_EQ(pairs(), (std::vector<Correspondence>{{50, 50, 55, 50}}));
  key(w0, 'Y', {.ctrl = true});
  EXPECT_EQ(pairs()[0].x0, 60);
  key(w1, 'Z', {.shift = true, .ctrl = true});
  EXPECT_TRUE(pairs().empty());
  // Undone back to the pairs F was fitted to, F is current again.
  key(w0, 'Z', {.ctrl = true});
  key(w0, 'Z', {.ctrl = true});
  EXPECT_EQ(pairs(), (std::vector<Correspondence>{{50, 50, 55, 50}}));
  EXPECT_FALSE(app->calibrationOutOfDate());

  // After calibration a plain click away from markers shows a line and marks nothing.
  click(w0, 200, 120);
  EXPECT_EQ(app->pairs().pendingSource(), -1);
  EXPECT_TRUE(w1->showLine);
  // Backspace with nothing selected changes nothing.
  key(w0, VK_BACK);
  EXPECT_EQ(pairs().size(), 1u);
  EXPECT_EQ(snapshots(), 0);
}

TEST_F(Editing, SnapshotsFollowTheAssistedRules) {
  struct Case {
    WPARAM key;
    HeldKeys held;
    int snapshot;
  };
  const Case cases[] = {
      {'1', {}, 1},
      {'Z', {}, 1},
      {'Y', {}, 1},
      {'S', {.shift = true}, 1},
      {'Q', {}, 1},
      {'H', {}, 0},
      {'H', {}, 0},
      {VK_ESCAPE, {}, 0},
      {VK_DELETE, {}, 0},
      {VK_BACK, {}, 0},
      {'A', {}, 0},
      {'R', {}, 0},
      {'D', {}, 0},
      {VK_SHIFT, {.shift = true}, 0},
      {VK_CONTROL, {.ctrl = true}, 0},
      {'Q', {.ctrl = true}, 0},
      {'1', {.ctrl = true}, 0},
      {'S', {.ctrl = true}, 0},
  };
  for (const Case& c : cases) {
    const int before = snapshots();
    key(w0, c.key, c.held);
    EXPECT_EQ(snapshots() - before, c.snapshot) << c.key;
  }
}

}  // namespace
}  // namespace epipolar
