// The program's run over 0 to 3 fake devices: the log lines, the exit status, which devices
// are opened, and that an early end saves nothing.
#include "app/Run.h"

#include <gtest/gtest.h>

#include "app/testing/AppFixture.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::FakeCameraList;

using ProgramRun = AppFixture;

TEST_F(ProgramRun, TwoDevicesAreListedOpenedAndTheRunEndsWithASave) {
  writeSettings("");
  FakeCameraList devices({"First", "Second"});
  postQuitMessage(0);  // ends the loop as soon as it starts
  EXPECT_EQ(runEpipolar(devices), 0);
  EXPECT_EQ(devices.opened, (std::vector<int>{0, 1}));
  const std::vector<std::string> lines = log.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Camera 0 is First");
  EXPECT_EQ(lines[1], "Camera 1 is Second");
  EXPECT_EQ(lines[2], "Total count: 2");
  EXPECT_EQ(readSettings(), "matrixStored=false\n");
}

TEST_F(ProgramRun, AThirdDeviceIsListedButNeverOpened) {
  writeSettings("");
  FakeCameraList devices({"A", "B", "C"});
  postQuitMessage(0);
  EXPECT_EQ(runEpipolar(devices), 0);
  EXPECT_EQ(devices.opened, (std::vector<int>{0, 1}));
  const std::vector<std::string> lines = log.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "Camera 2 is C");
  EXPECT_EQ(lines[3], "Total count: 3");
}

TEST_F(ProgramRun, FewerThanTwoDevicesEndWithZeroAndSaveNothing) {
  GTEST_FLAG_SET(death_test_style, "fast");
  writeSettings("kept=1\n");
  EXPECT_EXIT(
      {
        setLogSink(nullptr);  // the log goes to standard error, where the parent reads it
        FakeCameraList devices({"Only"});
        runEpipolar(devices);
      },
      ::testing::ExitedWithCode(0),
      "^Camera 0 is Only\nTotal count: 1\nCamera was NULL, what are you trying to pull "
      "here!\n[^\n]*--virtual[^\n]*\n$");
  EXPECT_EQ(readSettings(), "kept=1\n");
  EXPECT_EXIT(
      {
        setLogSink(nullptr);
        FakeCameraList devices({});
        runEpipolar(devices);
      },
      ::testing::ExitedWithCode(0),
      "^Total count: 0\nCamera was NULL, what are you trying to pull here!\n[^\n]*--virtual");
  EXPECT_EQ(readSettings(), "kept=1\n");
}

}  // namespace
}  // namespace epipolar
