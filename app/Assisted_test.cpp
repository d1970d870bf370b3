// The camera windows with --assist: the accurate search of right and middle clicks, refined
// marking clicks and the loupe, on the virtual rig's pictures with its true F; degenerate
// pictures; and none of it without --assist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "capture/VirtualView.h"
#include "geometry/Fundamental.h"
#include "geometry/PreciseClick.h"
#include "platform/PaintSurface.h"
#include "ui/Overlay.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::at;
using testing::linesStartingWith;
using testing::makeUniformFrame;

constexpr int kRigWidth = VirtualScene::kWidth;
constexpr int kRigHeight = VirtualScene::kHeight;

// The rig's noiseless pictures at time 0 and its true F, made once.
struct Rig {
  std::shared_ptr<const VirtualScene> scene = std::make_shared<const VirtualScene>();
  std::unique_ptr<Image> frames[2];
  Rig() {
    for (int i = 0; i < 2; ++i) frames[i] = VirtualView(scene, i, 5).renderClean(0.0);
  }
  Matrix fundamental() const {
    const std::array<double, 9> F = scene->trueFundamental().rowMajor();
    return Matrix(F.data(), 3, 3);
  }
};

const Rig& rig() {
  static const Rig instance;
  return instance;
}

// The rig's landmark called `name`.
RigLandmark landmark(const std::string& name) {
  for (const RigLandmark& l : rig().scene->landmarks()) {
    if (l.name == name) return l;
  }
  ADD_FAILURE() << "no landmark " << name;
  return {};
}

std::string twoDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The frame's colour bytes at (x, y) as the surface holds them, 0xRRGGBB.
std::uint32_t framePixel(const Image& frame, int x, int y) {
  const std::uint8_t* p = frame.row(y) + 3 * x;
  return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

std::uint32_t surfacePixel(WindowHandle window, int x, int y) {
  std::uint8_t r = 0, g = 0, b = 0;
  EXPECT_TRUE(readSurfacePixel(window, x, y, r, g, b));
  return static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 | b;
}

std::vector<std::uint8_t> bytesOf(const Image& frame) {
  return std::vector<std::uint8_t>(frame.data.get(), frame.data.get() + frame.size);
}

class Assisted : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    useCameraSize(kRigWidth, kRigHeight);
  }
  void TearDown() override {
    app.reset();
    AppFixture::TearDown();
  }

  void start(bool assist) {
    app.reset();
    Options options;
    options.assist = assist;
    app = std::make_unique<StereoApp>(camera0.get(), camera1.get(), "cams.conf", options);
    window0 = app->cameraWnd0.get();
    window1 = app->cameraWnd1.get();
  }
  void deliver(const Image& frame0, const Image& frame1) {
    ASSERT_TRUE(camera0->push(std::make_unique<Image>(frame0)));
    ASSERT_TRUE(camera1->push(std::make_unique<Image>(frame1)));
  }
  void deliverRig() { deliver(*rig().frames[0], *rig().frames[1]); }

  std::unique_ptr<StereoApp> app;
  CameraWnd* window0 = nullptr;
  CameraWnd* window1 = nullptr;
};

// "Match in (w): x, y (score s, next n)", perhaps with " uncertain" after it, coordinates
// "%.2f" and scores "%.3f", with the numbers read back; empty when the line has another form.
std::vector<double> parseMatchLine(const std::string& line, int window) {
  const bool uncertain = line.ends_with(" uncertain");
  int logged = -1;
  double x = 0, y = 0, score = 0, next = 0;
  if (std::sscanf(line.c_str(),
                  "Match in (%d): %lf, %lf (score %lf, next %lf)",
                  &logged,
                  &x,
                  &y,
                  &score,
                  &next) != 5) {
    return {};
  }
  char again[160];
  std::snprintf(again,
                sizeof again,
                "Match in (%d): %.2f, %.2f (score %.3f, next %.3f)%s",
                window,
                x,
                y,
                score,
                next,
                uncertain ? " uncertain" : "");
  if (line != again) return {};
  return {x, y, score, next};
}

TEST_F(Assisted, RightAndMiddleClicksFindTheRigsMatchToSubPixelAfterTheDescribedLines) {
  start(true);
  deliverRig();
  app->calibration().restore(rig().fundamental(), true);
  // A corner of the poster: flat, seen nearly alike by both cameras, so the clicked pixel's
  // match lies off the corner's partner by the clicked pixel's offset from the corner.
  const RigLandmark corner = landmark("poster top-left");
  const int x = static_cast<int>(std::lround(corner.x0));
  const int y = static_cast<int>(std::lround(corner.y0));
  const double trueX = corner.x1 + (x - corner.x0);
  const double trueY = corner.y1 + (y - corner.y0);

  log.clear();
  sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(x, y));
  const std::vector<std::string> lines = log.lines();
  ASSERT_EQ(lines.size(), 3u) << log.text();
  EXPECT_EQ(lines[0].rfind("Line: <", 0), 0u);
  EXPECT_NE(lines[1].find("> -> <"), std::string::npos);
  const std::vector<double> logged = parseMatchLine(lines[2], 1);
  ASSERT_EQ(logged.size(), 4u) << lines[2];

  // The marker holds the sub-pixel match itself, w = 0 as the described right click.
  const Vector match = window1->marker;
  EXPECT_EQ(twoDecimals(match[0]) + ", " + twoDecimals(match[1]),
            twoDecimals(logged[0]) + ", " + twoDecimals(logged[1]));
  EXPECT_EQ(match[2], 0.0);
  EXPECT_NE(match[0], std::round(match[0]));
  EXPECT_NEAR(match[0], trueX, 0.3);
  EXPECT_NEAR(match[1], trueY, 0.3);
  EXPECT_FALSE(app->paused());

  // Painted, the orange cross is centred on the match: its arms cover the nearest whole pixel's
  // row and column.
  sendMessage(window1->hwnd, WM_PAINT, 0, 0);
  const int cx = static_cast<int>(std::lround(match[0]));
  const int cy = static_cast<int>(std::lround(match[1]));
  for (int d : {-7, 7}) {
    for (const std::uint32_t rgb :
         {surfacePixel(window1->hwnd, cx, cy + d), surfacePixel(window1->hwnd, cx + d, cy)}) {
      EXPECT_EQ(rgb, 0xFF8C00u) << d;
    }
  }

  // From (1) back into (0): the corner again.
  log.clear();
  const int x1 = static_cast<int>(std::lround(corner.x1));
  const int y1 = static_cast<int>(std::lround(corner.y1));
  sendMessage(window1->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(x1, y1));
  ASSERT_EQ(log.lines().size(), 3u);
  EXPECT_EQ(parseMatchLine(log.lines()[2], 0).size(), 4u) << log.lines()[2];
  EXPECT_NEAR(window0->marker[0], corner.x0 + (x1 - corner.x1), 0.3);
  EXPECT_NEAR(window0->marker[1], corner.y0 + (y1 - corner.y1), 0.3);

  // The ball takes the same match for its depth and its marker; the rest is as described.
  log.clear();
  sendMessage(window0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(x, y));
  EXPECT_EQ(linesStartingWith(log, "Match in (1): "), std::vector<std::string>{lines[2]});
  ASSERT_EQ(app->balls().trackedPoints().size(), 1u);
  const Vector& e = app->calibration().epipole1();
  const double dx = match[0] - e[0], dy = match[1] - e[1];
  const TrackedPoint& ball = app->balls().trackedPoints()[0];
  const double expected[3] = {double(x), double(y), 0.001 * (dx * dx + dy * dy)};
  EXPECT_EQ(ball.position, Vector(expected, 3));
  std::ostringstream position;
  position << ball.position;
  EXPECT_EQ(log.lines().back(), position.str());
  const double marked[3] = {match[0], match[1], 1.0};
  EXPECT_EQ(window1->marker, Vector(marked, 3));
}

TEST_F(Assisted, TheBandNarrowsAfterAnAccurateCalibrationAndWidensForAnyOtherF) {
  start(true);
  deliverRig();
  std::vector<Correspondence> exact;
  for (const RigLandmark& l : rig().scene->landmarks()) exact.push_back({l.x0, l.y0, l.x1, l.y1});
  ASSERT_TRUE(app->calibration().calibrate(exact, FundamentalMethod::kAccurate));
  const Matrix F = app->calibration().epipolarMatrix(0);
  // Picture (1) moved 6 rows down: every match now lies 6 px off its line, beyond the 3 px of
  // a near-exact accurate calibration, within the 20 px of a restored F (the same matrix).
  Image shifted(*rig().frames[1]);
  for (int y = kRigHeight - 1; y >= 0; --y) {
    std::memcpy(shifted.row(y), rig().frames[1]->row(std::max(y - 6, 0)), 3 * kRigWidth);
  }
  deliver(*rig().frames[0], shifted);
  const RigLandmark corner = landmark("poster top-left");
  const int x = static_cast<int>(std::lround(corner.x0));
  const int y = static_cast<int>(std::lround(corner.y0));
  const double trueX = corner.x1 + (x - corner.x0);
  const double trueY = corner.y1 + (y - corner.y0) + 6;
  sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(x, y));
  EXPECT_GT(std::hypot(window1->marker[0] - trueX, window1->marker[1] - trueY), 2.0);
  app->calibration().restore(F, true);
  sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(x, y));
  EXPECT_NEAR(window1->marker[0], trueX, 0.3);
  EXPECT_NEAR(window1->marker[1], trueY, 0.3);
}

TEST_F(Assisted, MarkingClicksAreRefinedOntoTheJunctionAndStoredSoOnlyWithAssist) {
  // A floor corner: a junction of straight edges on one plane (capture/testing/RigJunctions.h).
  const RigLandmark junction = landmark("floor corner (0.0, 1.8)");
  // Whole-pixel clicks 2 px off in (0) and 1 to 2 px off in (1).
  const ImagePosition click0{std::round(junction.x0) + 2, std::round(junction.y0) - 1};
  const ImagePosition click1{std::round(junction.x1) - 1, std::round(junction.y1) + 2};
  for (bool assist : {true, false}) {
    SCOPED_TRACE(assist ? "assisted" : "classic");
    start(assist);
    deliverRig();
    log.clear();
    sendMessage(window0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(int(click0.x), int(click0.y)));
    sendMessage(window1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(int(click1.x), int(click1.y)));
    ASSERT_EQ(app->pairs().correspondences().size(), 1u);
    const Correspondence& pair = app->pairs().correspondences()[0];
    if (!assist) {
      EXPECT_EQ(pair, (Correspondence{click0.x, click0.y, click1.x, click1.y}));
      EXPECT_EQ(log.lines(), std::vector<std::string>{"1 points reached"});
      continue;
    }
    EXPECT_NEAR(pair.x0, junction.x0, 0.3);
    EXPECT_NEAR(pair.y0, junction.y0, 0.3);
    EXPECT_NEAR(pair.x1, junction.x1, 0.3);
    EXPECT_NEAR(pair.y1, junction.y1, 0.3);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  formatRefinedClickLine(0, click0, {pair.x0, pair.y0}),
                  formatRefinedClickLine(1, click1, {pair.x1, pair.y1}),
                  "1 points reached",
              }));
  }
}

TEST_F(Assisted, TheLoupeFollowsThePointerAndNeverTouchesTheFrame) {
  const int px = 100, py = 80;
  // The pointer is in the upper left: the loupe goes to the lower right corner (above the
  // status line).
  const int left = kRigWidth - kLoupeMargin - kLoupeSize;
  const int top = kRigHeight - kStatusLineHeight - kLoupeMargin - kLoupeSize;
  // Blocks away from the crosshair, given as offsets from the pointer's pixel.
  const int blocks[][2] = {{-20, -20}, {20, -20}, {-20, 20}, {20, 20}, {-10, 5}, {7, -13}};
  for (bool assist : {true, false}) {
    SCOPED_TRACE(assist ? "assisted" : "classic");
    start(assist);
    deliverRig();
    const Image& frame = *window0->frame;
    const std::vector<std::uint8_t> before = bytesOf(frame);

    sendMessage(window0->hwnd, WM_MOUSEMOVE, 0, at(px, py));
    sendMessage(window0->hwnd, WM_PAINT, 0, 0);
    for (const auto& b : blocks) {
      const int sx = left + kLoupeZoom * (b[0] + kLoupeRadius) + 1;
      const int sy = top + kLoupeZoom * (b[1] + kLoupeRadius) + 2;
      const std::uint32_t expected =
          assist ? framePixel(frame, px + b[0], py + b[1]) : framePixel(frame, sx, sy);
      EXPECT_EQ(surfacePixel(window0->hwnd, sx, sy), expected) << b[0] << ", " << b[1];
    }
    // The other window has not seen the pointer.
    sendMessage(window1->hwnd, WM_PAINT, 0, 0);
    EXPECT_EQ(surfacePixel(window1->hwnd, left + 1, top + 1),
              framePixel(*window1->frame, left + 1, top + 1));

    sendMessage(window0->hwnd, WM_MOUSELEAVE, 0, 0);
    sendMessage(window0->hwnd, WM_PAINT, 0, 0);
    for (const auto& b : blocks) {
      const int sx = left + kLoupeZoom * (b[0] + kLoupeRadius) + 1;
      const int sy = top + kLoupeZoom * (b[1] + kLoupeRadius) + 2;
      EXPECT_EQ(surfacePixel(window0->hwnd, sx, sy), framePixel(frame, sx, sy));
    }
    EXPECT_EQ(window0->frame, &frame);
    EXPECT_TRUE(bytesOf(frame) == before) << "the loupe drew into the frame";
    EXPECT_EQ(log.text(), "");
  }
}

TEST_F(Assisted, FlatBlackAndNonFinitePicturesAreUncertainAndHarmless) {
  start(true);
  const std::unique_ptr<Image> black = makeUniformFrame(kRigWidth, kRigHeight, 0, 0, 0);
  const std::unique_ptr<Image> grey = makeUniformFrame(kRigWidth, kRigHeight, 128, 128, 128);
  const std::string nothing = "Match in (1): 0.00, 0.00 (score 0.000, next 0.000) uncertain";
  deliver(*black, *grey);

  // Marking clicks on flat pictures stay where they were clicked.
  sendMessage(window0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(30, 20));
  sendMessage(window1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(35, 22));
  EXPECT_EQ(app->pairs().correspondences(), (std::vector<Correspondence>{{30, 20, 35, 22}}));
  EXPECT_TRUE(linesStartingWith(log, "Refined").empty());

  const double translation[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  const double nan = std::nan("");
  const double notFinite[9] = {nan, 0, 0, 0, nan, -1, 0, 1, 0};
  for (const double* F : {translation, notFinite}) {
    app->calibration().restore(Matrix(F, 3, 3), true);
    log.clear();
    sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(30, 20));
    sendMessage(window0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(30, 20));
    EXPECT_EQ(linesStartingWith(log, "Match in "), (std::vector<std::string>{nothing, nothing}));
    EXPECT_EQ(window1->marker[0], 0.0);
    sendMessage(window1->hwnd, WM_PAINT, 0, 0);
  }
  EXPECT_EQ(app->balls().trackedPoints().size(), 2u);
}

}  // namespace
}  // namespace epipolar
