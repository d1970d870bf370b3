#include "log/DebugStream.h"

#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

using testing::LogCapture;

TEST(DebugStream, OneFlushIsOneUnitHoldingEverythingSinceTheLastFlush) {
  LogCapture log;
  DebugStream << "Total count: " << 2;
  DebugStream.put('\n');
  DebugStream.flush();
  DebugStream << "a" << 1.5;
  DebugStream.put('\n');
  DebugStream << "b" << 1.0 / 3.0;
  DebugStream.put('\n');
  DebugStream.flush();
  DebugStream.flush();
  EXPECT_EQ(log.units(), (std::vector<std::string>{"Total count: 2\n", "a1.5\nb0.333333\n", ""}));
}

TEST(DebugStream, LogLineStreamsItsPartsInTheStreamFormatAsOneUnit) {
  LogCapture log;
  logLine("Total count: ", 2, ", ", 1.0 / 3.0, ", ", 1e-7, ", ", 0.5f);
  logLine(std::string("ready"));
  EXPECT_EQ(log.units(),
            (std::vector<std::string>{"Total count: 2, 0.333333, 1e-07, 0.5\n", "ready\n"}));
}

TEST(DebugStream, ReportErrorWritesOneLineToStandardErrorAndNothingToTheLog) {
  LogCapture log;
  ::testing::internal::CaptureStderr();
  reportError("cams.conf\nx: the settings could not be saved\r");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "cams.conf x: the settings could not be saved \n");
  EXPECT_TRUE(log.units().empty());
}

TEST(DebugStream, TextLeftUnflushedByAThreadIsSentOnceWhenItEnds) {
  LogCapture log;
  std::thread([] { DebugStream << "pending"; }).join();
  EXPECT_EQ(log.units(), std::vector<std::string>{"pending"});
}

TEST(DebugStream, LinesFromManyThreadsAreNeverTorn) {
  LogCapture log;
  constexpr int kThreads = 6;
  constexpr int kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        DebugStream << "thread " << t << " line " << i << " value " << i * 0.5;
        DebugStream.put('\n');
        DebugStream.flush();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = log.lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1, i = -1;
    double v = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d value %lf", &t, &i, &v), 3) << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++) << "lines of one thread arrive in order";
    EXPECT_EQ(v, i * 0.5);
  }
}

TEST(DebugStream, GslErrorsBecomeOneLogLineAndDoNotAbort) {
  LogCapture log;
  gsl_error_handler_t* previous = gsl_set_error_handler(&logGslError);
  gsl_error("matrix must be square", __FILE__, __LINE__, GSL_ENOTSQR);
  gsl_set_error_handler(previous);
  ASSERT_EQ(log.units().size(), 1u);
  const std::string expected = "ERROR: matrix must be square " + std::string(__FILE__) + ":";
  EXPECT_EQ(log.units()[0].rfind(expected, 0), 0u) << log.units()[0];
  EXPECT_NE(log.units()[0].find("(" + std::to_string(GSL_ENOTSQR) + ")\n"), std::string::npos);
}

TEST(DebugStream, WriteAllSurvivesAClosedPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  DebugStream.flush();  // loads the library's SIGPIPE setting
  EXPECT_FALSE(writeAll(fds[1], "nobody reads this\n"));
  close(fds[1]);
}

TEST(DebugStream, WriteAllDeliversLargeUnitsWhole) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string big(200000, 'x');
  std::string received;
  std::thread reader([&] {
    char chunk[4096];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0) received.append(chunk, n);
  });
  EXPECT_TRUE(writeAll(fds[1], big));
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(received, big);
}

}  // namespace
}  // namespace epipolar
