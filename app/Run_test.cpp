// The program's run over 0 to 3 fake devices: the log lines, the exit status, which devices
// are opened, and that an early end saves nothing.
#include "app/Run.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/testing/AppFixture.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::FakeCameraList;
using testing::linesStartingWith;

using ProgramRun = AppFixture;

TEST_F(ProgramRun, TwoDevicesAreListedOpenedAndTheRunEndsWithASave) {
  writeSettings("");
  FakeCameraList devices({"First", "Second"});
  postQuitMessage(0);  // ends the loop as soon as it starts
  EXPECT_EQ(runEpipolar(devices), 0);
  EXPECT_EQ(devices.opened, (std::vector<int>{0, 1}));
  EXPECT_EQ(linesStartingWith(log, "Camera "),
            (std::vector<std::string>{"Camera 0 is First", "Camera 1 is Second"}));
  EXPECT_EQ(linesStartingWith(log, "Total count: "), std::vector<std::string>{"Total count: 2"});
  EXPECT_EQ(readSettings(), "matrixStored=false\n");
}

TEST_F(ProgramRun, AThirdDeviceIsListedButNeverOpened) {
  writeSettings("");
  FakeCameraList devices({"A", "B", "C"});
  postQuitMessage(0);
  EXPECT_EQ(runEpipolar(devices), 0);
  EXPECT_EQ(devices.opened, (std::vector<int>{0, 1}));
  EXPECT_EQ(linesStartingWith(log, "Camera 2 "), std::vector<std::string>{"Camera 2 is C"});
  EXPECT_EQ(linesStartingWith(log, "Total count: "), std::vector<std::string>{"Total count: 3"});
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

// Standard error is a packet socket in the child, so every write(2) arrives as one packet:
// the hint must be a single packet, or a capture thread's report could land inside it.
TEST_F(ProgramRun, TheMissingCameraHintIsOneWrite) {
  writeSettings("");
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ends[0]);
    dup2(ends[1], STDERR_FILENO);
    FakeCameraList devices({"Only"});
    runEpipolar(devices);
    _exit(1);  // not reached: the run ends the process
  }
  close(ends[1]);
  std::vector<std::string> packets;
  char buffer[4096];
  ssize_t got;
  while ((got = read(ends[0], buffer, sizeof buffer)) > 0) packets.emplace_back(buffer, got);
  close(ends[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets.back(),
            "epipolar needs two cameras. To try it without any, run: epipolar --virtual\n");
}

}  // namespace
}  // namespace epipolar
