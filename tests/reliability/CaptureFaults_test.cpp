// Capture faults through the public camera lists, each next to a healthy camera: a source
// that posts an error after some frames, one that reaches the end of a stream it cannot play
// again, one that cannot negotiate, and devices that fail when opened. Each gives one clear
// report on standard error and the healthy camera keeps delivering. (A source that stalls is
// tested beside the GStreamer camera, where its timeout can be shortened.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/gstreamer/GstCameraLists.h"

namespace epipolar {
namespace {

using namespace std::chrono_literals;

constexpr const char* kHealthy =
    "videotestsrc is-live=true ! video/x-raw,width=32,height=24,framerate=100/1";

struct Receiver {
  std::mutex mutex;
  std::condition_variable arrived;
  int frames = 0;

  static void onFrame(std::unique_ptr<Image>, void* context) {
    auto* self = static_cast<Receiver*>(context);
    std::lock_guard lock(self->mutex);
    ++self->frames;
    self->arrived.notify_all();
  }
  bool waitFor(int count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, timeout, [&] { return frames >= count; });
  }
  int count() {
    std::lock_guard lock(mutex);
    return frames;
  }
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Starts `faulty` and the healthy camera, waits for `reported` to appear on standard error,
// checks that the healthy camera still delivers afterwards, stops both and returns what was
// written to standard error.
std::string runBesideHealthy(Camera& faulty, Camera& healthy, const std::string& reported) {
  Receiver faultyFrames, healthyFrames;
  char scratch[] = "/tmp/epipolar-capture-stderr-XXXXXX";
  const int file = ::mkstemp(scratch);
  EXPECT_GE(file, 0);
  ::unlink(scratch);
  const int savedStderr = ::dup(2);
  ::dup2(file, 2);
  faulty.start(&Receiver::onFrame, &faultyFrames);
  healthy.start(&Receiver::onFrame, &healthyFrames);
  auto said = [&] {
    std::string text(static_cast<std::size_t>(::lseek(file, 0, SEEK_END)), '\0');
    EXPECT_EQ(::pread(file, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    return text;
  };
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (said().find(reported) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  const int before = healthyFrames.count();
  EXPECT_TRUE(healthyFrames.waitFor(before + 10)) << "the healthy camera stopped";
  faulty.stop();
  healthy.stop();
  std::fflush(stderr);
  ::dup2(savedStderr, 2);
  ::close(savedStderr);
  const std::string text = said();
  ::close(file);
  return text;
}

TEST(CaptureFaults, AnErrorAfterSomeFramesIsReportedOnce) {
  const std::string description = std::string(kHealthy) + " ! identity error-after=10 name=breaker";
  auto list = openPipelineCameraList({description, kHealthy});
  auto faulty = list->openCamera(0);
  auto healthy = list->openCamera(1);
  ASSERT_EQ(faulty->frameWidth(), 32);
  const std::string said = runBesideHealthy(*faulty, *healthy, description + ": ");
  const std::vector<std::string> lines = linesOf(said);
  ASSERT_EQ(lines.size(), 1u) << said;
  EXPECT_EQ(lines[0].rfind(description + ": ", 0), 0u) << said;
}

TEST(CaptureFaults, AnEndOfStreamThatCannotPlayAgainIsReportedOnce) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const std::string frame(16 * 12 * 3, '\x20');
  auto feed = [&](int frames) {
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(::write(pipeFds[1], frame.data(), frame.size()),
                static_cast<ssize_t>(frame.size()));
    }
  };
  feed(1);  // for the negotiation
  const std::string description = "fdsrc fd=" + std::to_string(pipeFds[0]) +
                                  " ! rawvideoparse width=16 height=12 format=rgb "
                                  "framerate=100/1";
  auto list = openPipelineCameraList({description, kHealthy});
  auto faulty = list->openCamera(0);
  auto healthy = list->openCamera(1);
  ASSERT_EQ(faulty->frameWidth(), 16);
  feed(5);
  ::close(pipeFds[1]);  // a pipe cannot seek back: the stream ends for good
  const std::string said = runBesideHealthy(*faulty, *healthy, "end of stream");
  ::close(pipeFds[0]);
  EXPECT_EQ(said, description + ": end of stream\n");
}

TEST(CaptureFaults, SourcesThatCannotNegotiateOrOpenFailOnceAndOthersGoOn) {
  struct Case {
    std::string description;
    std::string firstLine;
  };
  const std::vector<Case> cases = {
      {"audiotestsrc", "Unsupported media type!"},
      {"filesrc location=/proc/self/cmdline", "Unsupported media type!"},
      {"v4l2src device=/dev/null", "Failed to initialize camera"},
      {"v4l2src device=/nonexistent/video7", "Failed to initialize camera"},
  };
  std::vector<std::string> descriptions;
  for (const Case& c : cases) descriptions.push_back(c.description);
  descriptions.push_back(kHealthy);
  auto list = openPipelineCameraList(descriptions);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].description);
    ::testing::internal::CaptureStderr();
    auto faulty = list->openCamera(static_cast<int>(i));
    const std::string said = ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = linesOf(said);
    ASSERT_GE(lines.size(), 1u);
    ASSERT_LE(lines.size(), 2u) << said;
    EXPECT_EQ(lines[0], cases[i].firstLine) << said;
    if (lines.size() == 2) {
      EXPECT_EQ(lines[1].rfind(cases[i].description + ": ", 0), 0u);
    }
    EXPECT_EQ(faulty->frameWidth(), 0);
    // Started and stopped like a working camera: nothing more is said, nothing delivered.
    auto healthy = list->openCamera(static_cast<int>(cases.size()));
    Receiver faultyFrames, healthyFrames;
    ::testing::internal::CaptureStderr();
    faulty->start(&Receiver::onFrame, &faultyFrames);
    healthy->start(&Receiver::onFrame, &healthyFrames);
    EXPECT_TRUE(healthyFrames.waitFor(10));
    faulty->stop();
    healthy->stop();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(faultyFrames.count(), 0);
  }
}

}  // namespace
}  // namespace epipolar
