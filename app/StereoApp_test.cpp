// Set-up, restore questions, persistence, clicks and teardown of the application object, with
// fake cameras, scripted boxes and a temporary working directory.
#include "app/StereoApp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/testing/AppFixture.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::at;
using testing::linesStartingWith;
using testing::matrixKeys;

// Pure horizontal translation: F * (x, y, 1) = (0, -1, y), the line of the same row.
constexpr double kTranslationF[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};

constexpr const char* kMatrixQuestion = "Use the matrix restored from file?";
constexpr const char* kPointsQuestion = "Use the points restored from file?";
constexpr const char* kInstructions =
    "Use middle click to set the balls, orange then green.\n"
    "Click in the window with the (0) in the label.";
constexpr const char* kReadyText = "9 point correspondances marked.  Calibration can now begin.";

std::string storedPoints(int count, int firstValue = 1) {
  std::string cam0 = "[Cam0]\nhasPoints=true\n";
  std::string cam1 = "[Cam1]\nhasPoints=true\n";
  // Keys sort as bytes: pt10x before pt1x; the file content order does not matter for loading.
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    cam0 += "pt" + n + "x=" + std::to_string(firstValue + i) + "\npt" + n +
            "y=" + std::to_string(firstValue + i + 100) + "\n";
    cam1 += "pt" + n + "x=" + std::to_string(firstValue + i + 200) + "\npt" + n +
            "y=" + std::to_string(firstValue + i + 300) + "\n";
  }
  return cam0 + "\n" + cam1;
}

using StereoAppSetUp = AppFixture;

TEST_F(StereoAppSetUp, AFreshAppAsksNothingStartsBothCamerasAndLabelsTheWindows) {
  writeSettings("");
  MessageBoxScript boxes;
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_TRUE(app.pairs().correspondences().empty());
    EXPECT_EQ(app.pairs().pendingSource(), -1);
    EXPECT_FALSE(app.calibration().calibrated());
    EXPECT_FALSE(app.paused());
    EXPECT_EQ(app.calibration().fundamental(), Matrix(3, 3));
    EXPECT_EQ(app.calibration().epipole0().count(), 1);
    EXPECT_EQ(app.calibration().epipole1().count(), 1);
    EXPECT_EQ(app.balls().pointSize(), 0.075f);
    EXPECT_EQ(app.matchThreshold, 15.0f);
    EXPECT_EQ(app.getTitle(), "Ball Display");
    EXPECT_EQ(app.cameraWnd0->getTitle(), "(0) Left cam");
    EXPECT_EQ(app.cameraWnd1->getTitle(), "(1) Right cam");
    int width = 0;
    int height = 0;
    ASSERT_TRUE(getClientSize(app.hwnd, width, height));
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 400);
    ASSERT_TRUE(getClientSize(app.cameraWnd1->hwnd, width, height));
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    EXPECT_TRUE(camera0->isRunning());
    EXPECT_TRUE(camera1->isRunning());
  }
  EXPECT_FALSE(camera0->isRunning());
  EXPECT_FALSE(camera1->isRunning());
  EXPECT_EQ(readSettings(), "matrixStored=false\n");
}

TEST_F(StereoAppSetUp, TheOptionsReachBothCameraWindows) {
  Options assisted;
  assisted.assist = true;
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted);
    for (const CameraWnd* window : {app.cameraWnd0.get(), app.cameraWnd1.get()}) {
      EXPECT_EQ(window->app->options(), assisted);
    }
  }
  StereoApp classic(camera0.get(), camera1.get(), "cams.conf");
  EXPECT_EQ(classic.cameraWnd1->app->options(), Options{});
}

TEST_F(StereoAppSetUp, ConfiguredSkipsTheMatrixQuestion) {
  writeSettings(matrixKeys(kTranslationF) + "matrixStored=true\n\n[Cam0]\nconfigured=true\n");
  MessageBoxScript boxes;
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  EXPECT_TRUE(boxes.calls().empty());
  EXPECT_EQ(app.calibration().fundamental(), Matrix(3, 3));
  EXPECT_FALSE(app.calibration().calibrated());
}

TEST_F(StereoAppSetUp, NoToTheMatrixKeepsFAndItsEpipolesButLeavesTheViewUncalibrated) {
  const std::string matrix = matrixKeys(kTranslationF);
  writeSettings(matrix + "matrixStored=true\n");
  MessageBoxScript boxes({IDNO});
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    ASSERT_EQ(boxes.calls().size(), 1u);  // no instructions
    EXPECT_EQ(boxes.calls()[0].text, kMatrixQuestion);
    EXPECT_EQ(boxes.calls()[0].caption, "Use data?");
    EXPECT_EQ(boxes.calls()[0].type, MB_YESNOCANCEL | MB_ICONQUESTION);
    EXPECT_EQ(boxes.calls()[0].owner, app.hwnd);
    EXPECT_EQ(app.calibration().fundamental(), Matrix(kTranslationF, 3, 3));
    EXPECT_EQ(app.calibration().epipole0().count(), 3);
    EXPECT_EQ(std::abs(app.calibration().epipole1()[0]), 1.0);
    EXPECT_FALSE(app.calibration().calibrated());
    EXPECT_TRUE(log.contains("Epipole 1: "));
  }
  // The old matrix stays in the file; the flag says it is not to be offered again.
  EXPECT_EQ(readSettings(), matrix + "matrixStored=false\n");
  MessageBoxScript again;
  StereoApp next(camera0.get(), camera1.get(), "cams.conf");
  EXPECT_TRUE(again.calls().empty());
}

TEST_F(StereoAppSetUp, YesCalibratesAndTheInstructionsFollowThePointsQuestion) {
  writeSettings(matrixKeys(kTranslationF) + "matrixStored=true\n\n" + storedPoints(2));
  MessageBoxScript boxes({IDYES, IDYES, IDOK});
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  ASSERT_EQ(boxes.calls().size(), 3u);
  EXPECT_EQ(boxes.calls()[0].text, kMatrixQuestion);
  EXPECT_EQ(boxes.calls()[1].text, kPointsQuestion);
  EXPECT_EQ(boxes.calls()[1].caption, "Use data?");
  EXPECT_EQ(boxes.calls()[1].type, MB_YESNOCANCEL | MB_ICONQUESTION);
  EXPECT_EQ(boxes.calls()[2].text, kInstructions);
  EXPECT_EQ(boxes.calls()[2].caption, "Instructions");
  EXPECT_EQ(boxes.calls()[2].type, MB_OK);
  EXPECT_TRUE(app.calibration().calibrated());
  EXPECT_EQ(app.pairs().correspondences(),
            (std::vector<Correspondence>{{1, 101, 201, 301}, {2, 102, 202, 302}}));
  EXPECT_TRUE(log.contains("Point 0: (1, 101) = (201, 301)\n"));
  EXPECT_TRUE(log.contains("Point 1: (2, 102) = (202, 302)\n"));
  EXPECT_EQ(app.cameraWnd0->getTitle(), "(0) Left cam");
}

TEST_F(StereoAppSetUp, YesWithoutStoredPointsShowsTheInstructionsRightAfterTheMatrix) {
  writeSettings(matrixKeys(kTranslationF) + "matrixStored=true\n");
  MessageBoxScript boxes({IDYES, IDOK});
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  ASSERT_EQ(boxes.calls().size(), 2u);
  EXPECT_EQ(boxes.calls()[1].caption, "Instructions");
}

TEST_F(StereoAppSetUp, QuestionsThatCannotBeShownCountAsNoAndStartUpGoesOn) {
  // No script: the offscreen driver cannot show a box, as when SDL fails to show one.
  writeSettings(matrixKeys(kTranslationF) + "matrixStored=true\n" + storedPoints(2));
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    EXPECT_EQ(app.calibration().fundamental(), Matrix(kTranslationF, 3, 3));
    EXPECT_EQ(app.calibration().epipole1().count(), 3);
    EXPECT_FALSE(app.calibration().calibrated());
    EXPECT_TRUE(app.pairs().correspondences().empty());
    EXPECT_EQ(app.cameraWnd1->getTitle(), "(1) Right cam");
  }
  const std::string unshown = "Message box \"Use data?\" could not be shown: no display";
  const std::vector<std::string> lines = log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), unshown), 2);
  EXPECT_FALSE(log.contains("Instructions")) << "not calibrated: no instructions";
  EXPECT_NE(readSettings().find("matrixStored=false\n"), std::string::npos);
}

TEST_F(StereoAppSetUp, AMissingPointKeyStopsTheRestoreThere) {
  std::string points = storedPoints(5);
  points.replace(points.find("pt2x=3\n"), 7, "");
  writeSettings(points);
  MessageBoxScript boxes({IDYES});
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  EXPECT_EQ(app.pairs().correspondences().size(), 2u);
  EXPECT_FALSE(log.contains("Point 2:"));
}

TEST_F(StereoAppSetUp, NoToThePointsDropsThem) {
  writeSettings(storedPoints(3));
  MessageBoxScript boxes({IDNO});
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  ASSERT_EQ(boxes.calls().size(), 1u);
  EXPECT_TRUE(app.pairs().correspondences().empty());
  EXPECT_TRUE(log.contains("Point 2: (3, 103) = (203, 303)\n"));
}

TEST_F(StereoAppSetUp, HasPointsWithoutAnyPointStillAsks) {
  writeSettings("[Cam0]\nhasPoints=true\n");
  MessageBoxScript boxes({IDYES});
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  ASSERT_EQ(boxes.calls().size(), 1u);
  EXPECT_EQ(boxes.calls()[0].text, kPointsQuestion);
}

TEST_F(StereoAppSetUp, NonFiniteStoredValuesAreUsedWithoutHarm) {
  writeSettings("mat0=nan\nmat4=inf\nmat8=-inf\nmatrixStored=true\n\n" +
                std::string("[Cam0]\nhasPoints=true\npt0x=nan\npt0y=inf\n"));
  MessageBoxScript boxes({IDYES, IDYES, IDOK});
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    EXPECT_TRUE(app.calibration().calibrated());
    EXPECT_TRUE(std::isnan(app.calibration().fundamental()(0, 0)));
    ASSERT_EQ(app.pairs().correspondences().size(), 1u);
    // A click shows a line computed from the non-finite F; painting it must not fail.
    sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(10, 10));
    sendMessage(app.cameraWnd1->hwnd, WM_PAINT, 0, 0);
    sendMessage(app.cameraWnd0->hwnd, WM_KEYDOWN, VK_RIGHT, 0);
    sendMessage(app.cameraWnd0->hwnd, WM_PAINT, 0, 0);
  }
  EXPECT_EQ(readSettings(),
            "mat0=nan\nmat1=0\nmat2=0\nmat3=0\nmat4=inf\nmat5=0\nmat6=0\nmat7=0\nmat8=-inf\n"
            "matrixStored=true\n\n[Cam0]\nhasPoints=true\npt0x=nan\npt0y=inf\n\n"
            "[Cam1]\nhasPoints=true\npt0x=0\npt0y=0\n");
}

using StereoAppCancel = AppFixture;

TEST_F(StereoAppCancel, CancelOnEitherQuestionEndsWithZeroAndLeavesTheFileAlone) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string text = matrixKeys(kTranslationF) + "matrixStored=true\n\n" + storedPoints(2);
  writeSettings(text);
  EXPECT_EXIT(
      {
        MessageBoxScript boxes({IDCANCEL});
        StereoApp app(camera0.get(), camera1.get(), "cams.conf");
      },
      ::testing::ExitedWithCode(0),
      "");
  EXPECT_EQ(readSettings(), text);
  EXPECT_EXIT(
      {
        MessageBoxScript boxes({IDNO, IDCANCEL});
        StereoApp app(camera0.get(), camera1.get(), "cams.conf");
      },
      ::testing::ExitedWithCode(0),
      "");
  EXPECT_EQ(readSettings(), text);
}

TEST_F(StereoAppCancel, AMissingCameraEndsWithZeroSuggestingTheVirtualRig) {
  GTEST_FLAG_SET(death_test_style, "fast");
  writeSettings("a=1\n");
  EXPECT_EXIT(
      {
        // The log goes to standard error here so that the parent can read it.
        setLogSink(nullptr);
        StereoApp app(camera0.get(), nullptr, "cams.conf");
      },
      ::testing::ExitedWithCode(0),
      "Camera was NULL, what are you trying to pull here!\n.*--virtual");
  EXPECT_EQ(readSettings(), "a=1\n");
}

using StereoAppPersistence = AppFixture;

TEST_F(StereoAppPersistence, ACalibratedRunWithNinePairsKeepsConfigured) {
  writeSettings("[Cam0]\nconfigured=true\n");
  {
    MessageBoxScript boxes({IDOK});
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    for (int i = 0; i < 9; ++i) {
      sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(i, 10 + i));
      sendMessage(app.cameraWnd1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(20 + i, 30 + i));
    }
    app.calibration().restore(Matrix(kTranslationF, 3, 3), true);
  }
  std::string cam0 = "[Cam0]\nconfigured=true\nhasPoints=true\n";
  std::string cam1 = "[Cam1]\nhasPoints=true\n";
  for (int i = 0; i < 9; ++i) {
    const std::string n = std::to_string(i);
    cam0 += "pt" + n + "x=" + std::to_string(i) + "\npt" + n + "y=" + std::to_string(10 + i) + "\n";
    cam1 += "pt" + n + "x=" + std::to_string(20 + i) + "\npt" + n + "y=" + std::to_string(30 + i) +
            "\n";
  }
  EXPECT_EQ(readSettings(),
            "mat0=0\nmat1=0\nmat2=0\nmat3=0\nmat4=0\nmat5=-1\nmat6=0\nmat7=1\nmat8=0\n"
            "matrixStored=true\n\n" +
                cam0 + "\n" + cam1);
}

TEST_F(StereoAppPersistence, TwelveRestoredPointsAreSavedAgainUnchanged) {
  writeSettings(storedPoints(12));
  std::string expected;
  {
    ConfigFile before("cams.conf");
    before.setBool("", "matrixStored", false);
    expected = before.text();
  }
  {
    MessageBoxScript boxes({IDYES});
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    EXPECT_EQ(app.pairs().correspondences().size(), 12u);
  }
  EXPECT_EQ(readSettings(), expected);
}

TEST_F(StereoAppPersistence, NoThenFiveNewPairsOverwritesTheFirstFiveAndKeepsTheRest) {
  writeSettings(storedPoints(12));
  {
    MessageBoxScript boxes({IDNO});
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    for (int i = 0; i < 5; ++i) {
      sendMessage(app.cameraWnd1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(50 + i, 40));
      sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(i, 7));
    }
  }
  ConfigFile saved("cams.conf");
  EXPECT_EQ(saved.getString("", "matrixStored"), "false");
  for (int i = 0; i < 12; ++i) {
    const std::string x = "pt" + std::to_string(i) + "x";
    const std::string y = "pt" + std::to_string(i) + "y";
    if (i < 5) {
      EXPECT_EQ(saved.getDouble("Cam0", x), i);
      EXPECT_EQ(saved.getDouble("Cam0", y), 7);
      EXPECT_EQ(saved.getDouble("Cam1", x), 50 + i);
      EXPECT_EQ(saved.getDouble("Cam1", y), 40);
    } else {
      EXPECT_EQ(saved.getDouble("Cam0", x), 1 + i);
      EXPECT_EQ(saved.getDouble("Cam1", y), 301 + i);
    }
  }
  EXPECT_EQ(saved.sections().at("Cam0").size(), 25u);  // hasPoints and 12 pairs of keys
}

TEST_F(StereoAppPersistence, WithoutASettingsFileNothingIsCreated) {
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    app.calibration().restore(Matrix(3, 3), true);
  }
  EXPECT_FALSE(std::filesystem::exists("cams.conf"));
}

using StereoAppClicks = AppFixture;

TEST_F(StereoAppClicks, ASecondClickInTheSameWindowReplacesTheFirst) {
  MessageBoxScript boxes;
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(1, 2));
  EXPECT_EQ(app.pairs().pendingSource(), 0);
  sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(3, 4));
  EXPECT_TRUE(app.pairs().correspondences().empty());
  sendMessage(app.cameraWnd1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(5, 6));
  EXPECT_EQ(app.pairs().correspondences(), (std::vector<Correspondence>{{3, 4, 5, 6}}));
  EXPECT_EQ(app.pairs().pendingSource(), -1);
  EXPECT_EQ(linesStartingWith(log, "1 points"), std::vector<std::string>{"1 points reached"});
  // No cross for marking clicks.
  EXPECT_EQ(app.cameraWnd0->marker, Vector(3));
}

TEST_F(StereoAppClicks, AClickInWindowOneFirstStillStoresWindowZerosPointFirst) {
  MessageBoxScript boxes;
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  sendMessage(app.cameraWnd1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(30, 40));
  EXPECT_EQ(app.pairs().pendingSource(), 1);
  sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(10, 20));
  EXPECT_EQ(app.pairs().correspondences(), (std::vector<Correspondence>{{10, 20, 30, 40}}));
}

TEST_F(StereoAppClicks, CalibrationReadyAtTheNinthAndEveryTenthPair) {
  MessageBoxScript boxes;
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  std::vector<std::size_t> boxAt;
  for (int i = 1; i <= 30; ++i) {
    sendMessage(app.cameraWnd0->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(i, i));
    sendMessage(app.cameraWnd1->hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at(i, i));
    if (boxes.calls().size() > boxAt.size()) boxAt.push_back(static_cast<std::size_t>(i));
    EXPECT_EQ(linesStartingWith(log, std::to_string(i) + " points"),
              std::vector<std::string>{std::to_string(i) + " points reached"});
  }
  EXPECT_EQ(boxAt, (std::vector<std::size_t>{9, 10, 20, 30}));
  for (const MessageBoxCall& call : boxes.calls()) {
    EXPECT_EQ(call.text, kReadyText);
    EXPECT_EQ(call.caption, "Calibration ready");
    EXPECT_EQ(call.type, MB_OK);
    EXPECT_EQ(call.owner, app.hwnd);
  }
}

using StereoAppRun = AppFixture;

TEST_F(StereoAppRun, ClosingAnyOfTheThreeWindowsEndsTheLoopAndSaves) {
  for (int which = 0; which < 3; ++which) {
    writeSettings("");
    {
      StereoApp app(camera0.get(), camera1.get(), "cams.conf");
      app.show(true);
      const WindowHandle windows[3] = {app.cameraWnd0->hwnd, app.cameraWnd1->hwnd, app.hwnd};
      postMessage(windows[which], WM_CLOSE, 0, 0);
      EXPECT_TRUE(runLoopUntilQuit()) << which;
      EXPECT_EQ(readSettings(), "") << "saved before the end, window " << which;
    }
    EXPECT_EQ(readSettings(), "matrixStored=false\n") << which;
    shutdownPlatform();
  }
}

TEST_F(StereoAppRun, OtherKeysAskForASnapshotButTheHandledOnesDoNot) {
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  for (WPARAM key : {WPARAM{'A'}, WPARAM{'Z'}, VK_SPACE, WPARAM{'0'}, WPARAM{'2'}}) {
    sendMessage(app.cameraWnd0->hwnd, WM_KEYDOWN, key, 0);
  }
  EXPECT_EQ(camera0->snapshotRequests.load(), 5);
  for (WPARAM key : {VK_LEFT, VK_RIGHT, WPARAM{'C'}, WPARAM{'P'}, WPARAM{'X'}, WPARAM{'E'}}) {
    sendMessage(app.cameraWnd1->hwnd, WM_KEYDOWN, key, 0);
  }
  EXPECT_EQ(camera1->snapshotRequests.load(), 0);
}

TEST_F(StereoAppRun, SystemKeysAndPointerMotionReleaseAndLeaveChangeNothing) {
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  ASSERT_TRUE(camera0->push(testing::makeUniformFrame(kWidth, kHeight, 255, 0, 0)));
  ASSERT_TRUE(camera1->push(testing::makeUniformFrame(kWidth, kHeight, 0, 255, 0)));
  log.clear();
  const LPARAM alt = LPARAM{1} << 29;
  for (WindowHandle window : {app.cameraWnd0->hwnd, app.cameraWnd1->hwnd, app.hwnd}) {
    for (WPARAM key : {WPARAM{'C'},
                       WPARAM{'E'},
                       WPARAM{'P'},
                       WPARAM{'X'},
                       WPARAM{'A'},
                       WPARAM{'1'},
                       VK_LEFT,
                       VK_RIGHT,
                       VK_MENU})
      sendMessage(window, WM_SYSKEYDOWN, key, alt);
    sendMessage(window, WM_SYSKEYDOWN, VK_F10, 0);
    sendMessage(window, WM_MOUSEMOVE, MK_LBUTTON, at(10, 12));
    sendMessage(window, WM_LBUTTONUP, 0, at(10, 12));
    sendMessage(window, WM_MOUSELEAVE, 0, 0);
  }
  drainMessages();
  EXPECT_EQ(camera0->snapshotRequests.load() + camera1->snapshotRequests.load(), 0);
  EXPECT_FALSE(app.paused());
  EXPECT_FALSE(app.edgeWnd[0] || app.edgeWnd[1]);
  EXPECT_EQ(app.pairs().currentCorrespondence(), -1);
  EXPECT_EQ(app.balls().pointSize(), 0.075f);
  EXPECT_EQ(app.pairs().pendingSource(), -1);
  EXPECT_TRUE(app.pairs().correspondences().empty());
  EXPECT_TRUE(isWindow(app.cameraWnd0->hwnd));
  EXPECT_EQ(log.text(), "");
}

TEST_F(StereoAppRun, FramesAreDroppedWhilePaused) {
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  ASSERT_TRUE(camera0->push(testing::makeUniformFrame(kWidth, kHeight, 255, 0, 0)));
  Image* first = app.cameraWnd0->frame;
  ASSERT_NE(first, nullptr);
  sendMessage(app.hwnd, WM_KEYDOWN, 'P', 0);  // the view's P pauses too
  EXPECT_TRUE(app.paused());
  camera0->push(testing::makeUniformFrame(kWidth, kHeight, 0, 255, 0));
  EXPECT_EQ(app.cameraWnd0->frame, first);
  // The frame on show, handed in again while paused, is dropped without being deleted.
  app.cameraWnd0->onFrame(first);
  ASSERT_EQ(app.cameraWnd0->frame, first);
  EXPECT_EQ(first->pixel(0, 0).r, 1.0f);
  sendMessage(app.cameraWnd1->hwnd, WM_KEYDOWN, 'P', 0);
  EXPECT_FALSE(app.paused());
  camera0->push(testing::makeUniformFrame(kWidth, kHeight, 0, 255, 0));
  EXPECT_NE(app.cameraWnd0->frame, first);
  EXPECT_EQ(app.cameraWnd0->frame->pixel(0, 0).g, 1.0f);
}

TEST_F(StereoAppRun, TheViewArrowsChangeThePointSizeLeftUpRightDown) {
  StereoApp app(camera0.get(), camera1.get(), "cams.conf");
  sendMessage(app.hwnd, WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(app.balls().pointSize(), static_cast<float>(0.075f + 0.005));
  sendMessage(app.hwnd, WM_KEYDOWN, VK_RIGHT, 0);
  sendMessage(app.hwnd, WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_NEAR(app.balls().pointSize(), 0.07f, 1e-7);
}

}  // namespace
}  // namespace epipolar
