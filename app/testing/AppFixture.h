// Shared set-up of the in-process application tests: a temporary working directory holding
// the settings file, the log captured, and two fake cameras. The platform is shut down after
// each test so that no window or queued message reaches the next one.
//
// Tests only; run with SDL_VIDEODRIVER=offscreen.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/testing/FakeCamera.h"
#include "log/testing/LogCapture.h"
#include "platform/Platform.h"

namespace epipolar::testing {

// ThreadSanitizer ends the process when a library named in a called_from_lib suppression is
// unloaded, and Mesa's software driver (suppressed: it is not ours) is unloaded with the last
// GL context. Loading it once more, never to be unloaded, keeps it in place for the whole run
// of every test program that includes this header.
inline const bool mesaDriverPinned = [] {
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                           "/usr/lib/aarch64-linux-gnu/dri/swrast_dri.so",
                           "/usr/lib64/dri/swrast_dri.so",
                           "/usr/lib/dri/swrast_dri.so"}) {
    if (dlopen(path, RTLD_NOW | RTLD_NODELETE) != nullptr) return true;
  }
  return false;
}();

class AppFixture : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 48;

  void SetUp() override {
    static_cast<void>(mesaDriverPinned);  // used, so initialised before the first GL context
    char pattern[] = "/tmp/epipolar_app_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::strncpy(entries_[0].name, "Left cam", 255);
    std::strncpy(entries_[1].name, "Right cam", 255);
    entries_[1].id = 1;
    camera0 = std::make_unique<FakeCamera>(&entries_[0], kWidth, kHeight);
    camera1 = std::make_unique<FakeCamera>(&entries_[1], kWidth, kHeight);
  }

  void TearDown() override {
    camera0.reset();
    camera1.reset();
    shutdownPlatform();
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  // Replaces both cameras with ones of another frame size (before any application uses them).
  void useCameraSize(int width, int height) {
    camera0 = std::make_unique<FakeCamera>(&entries_[0], width, height);
    camera1 = std::make_unique<FakeCamera>(&entries_[1], width, height);
  }

  static void writeSettings(const std::string& text) {
    std::ofstream("cams.conf", std::ios::binary) << text;
  }
  static std::string readSettings() {
    std::ifstream in("cams.conf", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Runs the message loop until the quit message; false if it has not come within `limit`
  // messages (a stuck test fails instead of hanging).
  static bool runLoopUntilQuit(int limit = 100000) {
    Message msg;
    for (int i = 0; i < limit; ++i) {
      if (!getMessage(msg)) return true;
      dispatchMessage(msg);
    }
    return false;
  }
  // Dispatches whatever is queued now.
  static void drainMessages() {
    Message msg;
    while (peekMessage(msg) && msg.message != WM_QUIT) dispatchMessage(msg);
  }

  LogCapture log;
  std::unique_ptr<FakeCamera> camera0;
  std::unique_ptr<FakeCamera> camera1;

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
  CameraEntry entries_[2];
};

// The 3 x 3 matrix with the given rows, written as the settings file stores it.
inline std::string matrixKeys(const double (&values)[9]) {
  std::ostringstream text;
  for (int i = 0; i < 9; ++i) text << "mat" << i << "=" << values[i] << "\n";
  return text.str();
}

// The log lines that start with `prefix`, in order. Tests pick lines by what they say, so a
// line added elsewhere in the log leaves them unaffected.
inline std::vector<std::string> linesStartingWith(const LogCapture& log,
                                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (std::string& line : log.lines()) {
    if (line.rfind(prefix, 0) == 0) found.push_back(std::move(line));
  }
  return found;
}

inline LPARAM at(int x, int y) {
  return makeLParam(static_cast<unsigned>(x), static_cast<unsigned>(y));
}

}  // namespace epipolar::testing
