// The camera windows' mouse and keys after set-up: stepping, lines, matches, balls, edges,
// pause, colour comparison and calibration, with fake cameras delivering known frames.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "geometry/Calibration.h"
#include "geometry/testing/SyntheticRig.h"
#include "platform/PaintSurface.h"
#include "settings/Calibration.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::at;
using testing::linesStartingWith;
using testing::makeFrame;
using testing::makeUniformFrame;

// Pure horizontal translation: the epipolar line of (x, y) is the row y in the other image.
constexpr double kTranslationF[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
// Image (1) shows image (0) moved this many pixels to the right.
constexpr int kShift = 5;

std::uint8_t texture(int x, int y) {
  // A fixed random texture, the same for every call.
  static const std::vector<std::uint8_t> values = [] {
    std::mt19937 engine(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> v(200 * 200);
    for (auto& value : v) value = static_cast<std::uint8_t>(byte(engine));
    return v;
  }();
  return values[static_cast<std::size_t>((y + 50) * 200 + x + 50)];
}

std::unique_ptr<Image> texturedFrame(int width, int height, int shift) {
  return makeFrame(width, height, [shift](int x, int y, std::uint8_t rgb[3]) {
    rgb[0] = texture(x - shift, y);
    rgb[1] = texture(y, x - shift);
    rgb[2] = static_cast<std::uint8_t>(texture(x - shift, y) ^ texture(y, x - shift));
  });
}

class Interaction : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    app = std::make_unique<StereoApp>(camera0.get(), camera1.get(), "cams.conf");
    window0 = app->cameraWnd0.get();
    window1 = app->cameraWnd1.get();
  }
  void TearDown() override {
    app.reset();
    AppFixture::TearDown();
  }

  void deliverStereoPair() {
    ASSERT_TRUE(camera0->push(texturedFrame(kWidth, kHeight, 0)));
    ASSERT_TRUE(camera1->push(texturedFrame(kWidth, kHeight, kShift)));
  }
  void useTranslation() { app->calibration().restore(Matrix(kTranslationF, 3, 3), true); }
  static Vector point(double x, double y, double w) {
    const double values[3] = {x, y, w};
    return Vector(values, 3);
  }
  static void key(CameraWnd* window, WPARAM code) {
    sendMessage(window->hwnd, WM_KEYDOWN, code, 0);
  }

  std::unique_ptr<StereoApp> app;
  CameraWnd* window0 = nullptr;
  CameraWnd* window1 = nullptr;
};

TEST_F(Interaction, ArrowsWalkPastTheEndsAndNeedAsManyStepsBack) {
  useTranslation();
  app->pairs().assign({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  key(window1, VK_RIGHT);
  EXPECT_EQ(app->pairs().currentCorrespondence(), 0);
  // Pressed in window (1): its own marker is the camera-1 point.
  EXPECT_EQ(window1->marker, point(3, 4, 1));
  EXPECT_EQ(window0->marker, point(1, 2, 1));
  EXPECT_TRUE(window0->showLine);
  EXPECT_TRUE(window1->showLine);

  key(window1, VK_LEFT);
  EXPECT_EQ(app->pairs().currentCorrespondence(), -1);
  EXPECT_EQ(window0->marker, Vector(3));
  EXPECT_EQ(window1->marker, Vector(3));
  EXPECT_FALSE(window0->showLine);
  EXPECT_FALSE(window1->showLine);
  key(window1, VK_LEFT);
  EXPECT_EQ(app->pairs().currentCorrespondence(), -2);
  key(window1, VK_RIGHT);
  EXPECT_EQ(window0->marker, Vector(3));
  key(window0, VK_RIGHT);
  EXPECT_EQ(app->pairs().currentCorrespondence(), 0);
  EXPECT_EQ(window0->marker, point(1, 2, 1));

  for (int i = 0; i < 3; ++i) key(window0, VK_RIGHT);
  EXPECT_EQ(app->pairs().currentCorrespondence(), 3);
  EXPECT_EQ(window1->marker, Vector(3));
  EXPECT_EQ(camera0->snapshotRequests.load() + camera1->snapshotRequests.load(), 0);
}

TEST_F(Interaction, DigitsSelectACorrespondenceAndAlsoAskForASnapshot) {
  useTranslation();
  app->pairs().assign({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
  key(window0, '2');
  EXPECT_EQ(app->pairs().currentCorrespondence(), 1);
  EXPECT_EQ(window0->marker, point(5, 6, 1));
  EXPECT_EQ(window1->marker, point(7, 8, 1));
  // Each window shows the line of the other's point: the rows 8 and 6 under this F.
  EXPECT_NEAR(window0->epipolarLine[2] / window0->epipolarLine[1], -8, 1e-12);
  EXPECT_NEAR(window1->epipolarLine[2] / window1->epipolarLine[1], -6, 1e-12);
  EXPECT_EQ(camera0->snapshotRequests.load(), 1);

  key(window0, '5');
  EXPECT_EQ(app->pairs().currentCorrespondence(), 4);
  EXPECT_EQ(window0->marker, Vector(3));
  EXPECT_FALSE(window1->showLine);
  EXPECT_EQ(camera0->snapshotRequests.load(), 2);
}

TEST_F(Interaction, ALeftClickAfterCalibrationShowsTheRowInTheOtherWindow) {
  useTranslation();
  deliverStereoPair();
  sendMessage(window0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(100, 20));
  EXPECT_EQ(window0->marker, point(100, 20, 1));
  EXPECT_TRUE(window1->showLine);
  EXPECT_FALSE(window0->showLine);
  EXPECT_EQ(linesStartingWith(log, "Point: "),
            std::vector<std::string>{"Point: <100, 20, 1> = <0, -1, 20>"});
  EXPECT_EQ(linesStartingWith(log, "y0 = "), std::vector<std::string>{"y0 = 20, y1 = 20"});

  // The stored line is normalised, so its row comes out as 20 or just below; painting truncates.
  const int row = static_cast<int>(-window1->epipolarLine[2] / window1->epipolarLine[1]);
  EXPECT_TRUE(row == 19 || row == 20) << row;
  sendMessage(window1->hwnd, WM_PAINT, 0, 0);
  for (int y : {row, 30}) {
    std::uint8_t rgb[3];
    ASSERT_TRUE(readSurfacePixel(window1->hwnd, 30, y, rgb[0], rgb[1], rgb[2]));
    const long frameRed = std::lround(window1->frame->pixel(30, y).r * 255);
    EXPECT_EQ(rgb[0], y == row ? 255 - frameRed : frameRed) << y;
  }
}

TEST_F(Interaction, ALineIsLoggedWithTheCameraWidthBeforeAnyFrame) {
  app->calibration().restore(Matrix(kTranslationF, 3, 3), false);
  window1->showEpipolarLine(point(1, -1, 50));  // y = x + 50
  // 64 pixels wide.
  EXPECT_EQ(linesStartingWith(log, "y0 = "), std::vector<std::string>{"y0 = 50, y1 = 114"});
}

TEST_F(Interaction, ACrossAtXZeroIsNotDrawn) {
  ASSERT_TRUE(camera0->push(makeUniformFrame(kWidth, kHeight, 10, 20, 30)));
  std::uint8_t r = 0, g = 0, b = 0;
  window0->marker = point(0, 10, 1);
  sendMessage(window0->hwnd, WM_PAINT, 0, 0);
  ASSERT_TRUE(readSurfacePixel(window0->hwnd, 5, 10, r, g, b));
  EXPECT_EQ(r, 10);
  window0->marker = point(30, 10, 0);  // w does not matter for the drawing
  sendMessage(window0->hwnd, WM_PAINT, 0, 0);
  ASSERT_TRUE(readSurfacePixel(window0->hwnd, 15, 10, r, g, b));
  EXPECT_EQ(r, 245);
  ASSERT_TRUE(readSurfacePixel(window0->hwnd, 30, 25, r, g, b));
  EXPECT_EQ(r, 245);
  ASSERT_TRUE(readSurfacePixel(window0->hwnd, 31, 25, r, g, b));
  EXPECT_EQ(r, 10);
}

TEST_F(Interaction, ARightClickFindsTheShiftedPixelAndMarksItWithWZero) {
  useTranslation();
  deliverStereoPair();
  sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(30, 20));
  EXPECT_EQ(window1->marker, point(30 + kShift, 20, 0));
  EXPECT_FALSE(app->paused()) << "the search restores the pause flag";
  EXPECT_TRUE(log.contains("Line: <0, -0.0499376, 0.998752>\n"));

  // From window (1) the search runs with the transpose, back into window (0).
  sendMessage(window1->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(40, 25));
  EXPECT_EQ(window0->marker, point(40 - kShift, 25, 0));
}

TEST_F(Interaction, ClicksOutsideTheFrameReadNoPixels) {
  useTranslation();
  deliverStereoPair();
  window1->marker = point(7, 7, 1);
  sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(kWidth, 5));
  sendMessage(window0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(5, kHeight + 100));
  EXPECT_EQ(window1->marker, point(7, 7, 1));
  EXPECT_TRUE(app->balls().trackedPoints().empty());
  // Stored points from a larger picture, stepped to and compared.
  app->pairs().assign({{500, 400, 600, 450}});
  key(window0, '1');
  log.clear();
  key(window0, 'X');
  EXPECT_FALSE(log.contains(" - "));
}

TEST_F(Interaction, SearchesNeedAFrameInBothWindows) {
  useTranslation();
  ASSERT_TRUE(camera0->push(texturedFrame(kWidth, kHeight, 0)));
  window1->marker = point(7, 7, 1);
  sendMessage(window0->hwnd, WM_RBUTTONDOWN, MK_RBUTTON, at(30, 20));
  sendMessage(window0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(30, 20));
  EXPECT_EQ(window1->marker, point(7, 7, 1));
  EXPECT_TRUE(app->balls().trackedPoints().empty());
  EXPECT_FALSE(log.contains("Line: "));
}

TEST_F(Interaction, AMiddleClickInWindowZeroSetsABall) {
  useTranslation();
  deliverStereoPair();
  const Colour expected = window0->frame->pixel(30, 20);
  sendMessage(window0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(30, 20));
  ASSERT_EQ(app->balls().trackedPoints().size(), 1u);
  const TrackedPoint& ball = app->balls().trackedPoints()[0];
  // The depth is the squared distance of the match from the epipole of (1), (+-1, 0, 0) here.
  const Vector& e = app->calibration().epipole1();
  ASSERT_EQ(e.count(), 3);
  const double dx = 30 + kShift - e[0];
  const double depth = 0.001 * (dx * dx + (20 - e[1]) * (20 - e[1]));
  EXPECT_EQ(ball.position, point(30, 20, depth));
  EXPECT_EQ(ball.colour.r, expected.r);
  EXPECT_EQ(ball.colour.g, expected.g);
  EXPECT_EQ(ball.colour.b, expected.b);
  EXPECT_EQ(window1->marker, point(30 + kShift, 20, 1));
  std::ostringstream line;
  line << ball.position;
  EXPECT_EQ(linesStartingWith(log, "<30, 20, "), std::vector<std::string>{line.str()});
}

TEST_F(Interaction, ABallBeforeAnyCalibrationLiesAtTheOriginsDepth) {
  deliverStereoPair();
  sendMessage(window0->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(30, 20));
  ASSERT_EQ(app->balls().trackedPoints().size(), 1u);
  // F is zero, so the search finds nothing, (0, 0); the epipole still has its one starting
  // element, and the components it lacks count as 0.
  EXPECT_EQ(app->balls().trackedPoints()[0].position, point(30, 20, 0));
  EXPECT_EQ(window1->marker, point(0, 0, 1));
  EXPECT_EQ(linesStartingWith(log, "<30, 20, "), std::vector<std::string>{"<30, 20, 0>"});
}

TEST_F(Interaction, AMiddleClickInWindowOneOnlyComplains) {
  MessageBoxScript boxes;
  deliverStereoPair();
  sendMessage(window1->hwnd, WM_MBUTTONDOWN, MK_MBUTTON, at(30, 20));
  ASSERT_EQ(boxes.calls().size(), 1u);
  EXPECT_EQ(boxes.calls()[0].text, "You were supposed to click in the other window");
  EXPECT_EQ(boxes.calls()[0].caption, "WRONG!!!");
  EXPECT_EQ(boxes.calls()[0].type, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes.calls()[0].owner, window1->hwnd);
  EXPECT_TRUE(app->balls().trackedPoints().empty());
}

TEST_F(Interaction, EFreezesBothPicturesAndShowsTheEdgesUntilP) {
  deliverStereoPair();
  Image* frame0 = window0->frame;
  Image* frame1 = window1->frame;
  key(window1, 'E');
  EXPECT_TRUE(app->paused());
  ASSERT_TRUE(app->edgeWnd[1]);
  EXPECT_FALSE(app->edgeWnd[0]);
  EXPECT_EQ(app->edgeWnd[1]->getTitle(), "Edge Display");
  EXPECT_EQ(app->edgeWnd[1]->frame->width, kWidth);
  camera0->push(makeUniformFrame(kWidth, kHeight, 1, 2, 3));
  camera1->push(makeUniformFrame(kWidth, kHeight, 1, 2, 3));
  EXPECT_EQ(window0->frame, frame0);
  EXPECT_EQ(window1->frame, frame1);

  // A second E replaces the window of that slot.
  const WindowHandle first = app->edgeWnd[1]->hwnd;
  key(window1, 'E');
  EXPECT_NE(app->edgeWnd[1]->hwnd, first);
  EXPECT_FALSE(isWindow(first));
  key(window0, 'E');
  EXPECT_TRUE(app->edgeWnd[0]);

  key(window0, 'P');
  EXPECT_FALSE(app->paused());
  camera0->push(makeUniformFrame(kWidth, kHeight, 1, 2, 3));
  EXPECT_NE(window0->frame, frame0);

  // An edge window closes on its own; the program goes on.
  postMessage(app->edgeWnd[0]->hwnd, WM_CLOSE, 0, 0);
  Message msg;
  while (peekMessage(msg)) {
    ASSERT_NE(msg.message, WM_QUIT);
    dispatchMessage(msg);
  }
  EXPECT_FALSE(isWindow(app->edgeWnd[0]->hwnd));
  EXPECT_TRUE(isWindow(window0->hwnd));
}

TEST_F(Interaction, EWithoutAFrameDoesNothing) {
  key(window0, 'E');
  EXPECT_FALSE(app->edgeWnd[0]);
  EXPECT_FALSE(app->paused());  // the first frames still appear
}

TEST_F(Interaction, XLogsTheColoursUnderBothMarkersAndTheirDifference) {
  camera0->push(makeUniformFrame(kWidth, kHeight, 255, 0, 0));
  camera1->push(makeUniformFrame(kWidth, kHeight, 0, 0, 255));
  window0->marker = point(3.9, 4, 1);
  window1->marker = point(5, 6, 0);
  key(window1, 'X');
  EXPECT_EQ(linesStartingWith(log, "("),
            std::vector<std::string>{"(240, 1, 1) - (0, 1, 1) = (-1, 0, 0)"});
}

// Points at different depths seen by two cameras side by side: each keeps its row and moves
// right by its own disparity, so the only F they fit is the horizontal translation.
std::vector<Correspondence> pairsForTranslation(int count) {
  std::vector<Correspondence> pairs;
  for (int i = 0; i < count; ++i) {
    const double x = 5 + 7 * i;
    const double y = 3 + (i * 11) % 40;
    pairs.push_back({x, y, x + 3 + (i * 5) % 9, y});
  }
  return pairs;
}

TEST_F(Interaction, SevenPairsAreTooFewToCalibrate) {
  app->pairs().assign(pairsForTranslation(7));
  key(window0, 'C');
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Can't calibrate, too few points"}));
  EXPECT_FALSE(app->calibration().calibrated());
  EXPECT_EQ(app->calibration().fundamental(), Matrix(3, 3));
}

TEST_F(Interaction, EightPairsCalibrateWithATestLineEachAndTheEpipoles) {
  app->pairs().assign(pairsForTranslation(8));
  key(window1, 'C');
  EXPECT_TRUE(app->calibration().calibrated());
  EXPECT_EQ(linesStartingWith(log, "Working with "),
            std::vector<std::string>{"Working with 8 matches"});
  EXPECT_EQ(linesStartingWith(log, "Test results: ").size(), 8u);
  EXPECT_EQ(linesStartingWith(log, "Epipole 0: <").size(), 1u);
  EXPECT_EQ(linesStartingWith(log, "Epipole 1: <").size(), 1u);
  EXPECT_EQ(app->calibration().epipole1().count(), 3);
}

// With --assist, C runs the accurate estimator: its summary, one line per pair with two false
// matches among them, the epipoles; F is kept with the outcome and saved as the classic C
// saves it, so that a start without --assist offers it.
TEST_F(Interaction, AssistedCalibrationLogsEachPairAndStoresFForAClassicStart) {
  app.reset();
  writeSettings("");
  Options assisted;
  assisted.assist = true;
  app = std::make_unique<StereoApp>(camera0.get(), camera1.get(), "cams.conf", assisted);
  testing::SyntheticRig rig(11);
  std::vector<Correspondence> pairs;
  for (int i = 0; i < 20; ++i) pairs.push_back(rig.exact());
  pairs[3].y1 += 30;
  pairs[12].x0 -= 25;
  app->pairs().assign(pairs);
  key(app->cameraWnd1.get(), 'C');

  ASSERT_TRUE(app->calibration().calibrated());
  const std::optional<Session>& fit = app->calibration().lastAccurate();
  ASSERT_TRUE(fit && fit->F && fit->rmsSampsonPx && fit->timeMs);
  ASSERT_EQ(fit->pairs, pairs);
  ASSERT_EQ(fit->fits.size(), pairs.size());
  EXPECT_EQ(fit->method, "accurate");
  FundamentalReport summary;
  summary.inlierCount = static_cast<int>(fit->inlierCount());
  summary.rmsSampson = *fit->rmsSampsonPx;
  summary.timeMs = *fit->timeMs;
  std::vector<std::string> expected = {"Working with 20 matches", accurateSummaryLine(summary, 20)};
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    EXPECT_EQ(fit->fits[i]->inlier, i != 3 && i != 12) << i;
    expected.push_back(
        accuratePairLine(static_cast<int>(i) + 1, fit->fits[i]->residualPx, fit->fits[i]->inlier));
  }
  for (const std::string& warning : fit->warnings) expected.push_back("Warning: " + warning);
  std::ostringstream epipole0, epipole1;
  epipole0 << "Epipole 0: " << app->calibration().epipole0();
  epipole1 << "Epipole 1: " << app->calibration().epipole1();
  expected.push_back(epipole0.str());
  expected.push_back(epipole1.str());
  EXPECT_EQ(log.lines(), expected);
  EXPECT_EQ(expected[1].rfind("Accurate calibration: 18 of 20 pairs are inliers, RMS error ", 0),
            0u);
  const Matrix F = app->calibration().fundamental();
  EXPECT_TRUE(std::equal(fit->F->begin(), fit->F->end(), F.data()));
  EXPECT_LT(rig.pixelError(F), 0.05) << expected[1];

  app.reset();
  ConfigFile saved("cams.conf");
  EXPECT_TRUE(storedMatrixOffered(saved));
  const Matrix stored = readStoredMatrix(saved);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(stored.data()[k], F.data()[k], 1e-9) << k;
  MessageBoxScript boxes({IDYES, IDNO, IDOK});  // matrix yes, points no, instructions
  StereoApp classic(camera0.get(), camera1.get(), "cams.conf");
  EXPECT_TRUE(classic.calibration().calibrated());
  EXPECT_EQ(classic.calibration().fundamental(), stored);
  EXPECT_FALSE(classic.calibration().lastAccurate());
}

// With --assist, pairs that give no model leave the calibration in use as it was.
TEST_F(Interaction, AssistedCalibrationWithoutAModelKeepsTheCalibrationInUse) {
  app.reset();
  Options assisted;
  assisted.assist = true;
  app = std::make_unique<StereoApp>(camera0.get(), camera1.get(), "cams.conf", assisted);
  useTranslation();
  log.clear();
  app->pairs().assign(std::vector<Correspondence>(8, {10, 20, 30, 20}));
  key(app->cameraWnd0.get(), 'C');
  const std::vector<std::string> lines = log.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Working with 8 matches");
  EXPECT_EQ(lines[1].rfind("Accurate calibration: no model found for 8 pairs, ", 0), 0u);
  for (std::size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("Warning: ", 0), 0u);
  EXPECT_EQ(lines.back(), "Warning: No model fits the pairs.");
  EXPECT_TRUE(app->calibration().calibrated());
  EXPECT_EQ(app->calibration().fundamental(), Matrix(kTranslationF, 3, 3));
}

}  // namespace
}  // namespace epipolar
