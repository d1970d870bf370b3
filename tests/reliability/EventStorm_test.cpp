// The whole application under an event storm: two cameras deliver frames from their own
// threads at 60 fps while random messages of every kind reach every window (clicks of each
// button inside and outside the frames, pointer motion, release and leave, every key, size
// changes, paints, closes of edge windows, pause toggles, and now and then a calibration over
// a small random point set, often a degenerate one), with presses on marked points dragged a
// few steps, and the assisted keys (Delete, Backspace, Escape, H, Z, Y, A, R, D, Shift, Ctrl)
// pressed through the platform's input path with Ctrl and Shift held at random. It runs on the
// classic application and on the assisted one (--assist: accurate searches, refined clicks,
// the loupe, the overlays, editing and undo). Afterwards the editing history must still undo
// and redo to the same pairs, the application must still calibrate a good point set to the
// right matrix, must not have written the settings file, and must save it exactly once when
// it goes.
//
// Counts: EPIPOLAR_STORM_EVENTS sets the number of messages; EPIPOLAR_FULL_RUNS=1 sends
// 100,000 (see docs/reliability.md). The sanitizer builds run the shortened count.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "geometry/testing/UpToScale.h"
#include "platform/testing/KeyInput.h"
#include "tests/reliability/Reliability.h"

namespace epipolar {
namespace {

using namespace std::chrono_literals;
using testing::AppFixture;
using testing::makeFrame;

// Pure horizontal translation: the epipolar line of (x, y) is the row y in the other image.
constexpr double kTranslationF[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};

long stormEvents() {
  if (const char* events = std::getenv("EPIPOLAR_STORM_EVENTS")) return std::atol(events);
  return reliability::count(10000, 100000);
}

// A textured frame, shifted right by `shift` pixels, different for every `seed`.
std::unique_ptr<Image> texturedFrame(int width, int height, int shift, unsigned seed) {
  return makeFrame(width, height, [shift, seed](int x, int y, std::uint8_t rgb[3]) {
    const unsigned v = static_cast<unsigned>(x - shift) * 73856093u ^
                       static_cast<unsigned>(y) * 19349663u ^ (seed / 16);
    rgb[0] = static_cast<std::uint8_t>(v);
    rgb[1] = static_cast<std::uint8_t>(v >> 8);
    rgb[2] = static_cast<std::uint8_t>(v >> 16);
  });
}

// Counts the settings file's replacements (a save renames its new file over it) and the
// writes into it (the in-place fallback), through inotify on the working directory.
class SaveCounter {
 public:
  SaveCounter() {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) inotify_add_watch(fd_, ".", IN_MOVED_TO | IN_MODIFY);
  }
  ~SaveCounter() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool works() const { return fd_ >= 0; }
  // Reads the events so far; returns the saves counted in total.
  int saves() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len > 0 && std::string(event->name) == "cams.conf") {
          if (event->mask & IN_MOVED_TO) ++replaced_;
          if (event->mask & IN_MODIFY) ++modified_;
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
    return replaced_ + (modified_ > 0 ? 1 : 0);
  }

 private:
  int fd_ = -1;
  int replaced_ = 0;
  int modified_ = 0;
};

// A small point set for the calibration key, degenerate more often than not.
std::vector<Correspondence> randomPointSet(std::mt19937_64& random) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int n = 6 + static_cast<int>(random() % 7);  // 6 .. 12: some too few
  std::vector<Correspondence> points;
  const int kind = static_cast<int>(random() % 7);
  const double huge = 1e300;
  for (int i = 0; i < n; ++i) {
    const double t = unit(random);
    switch (kind) {
      case 0:  // all points equal
        points.push_back({10, 20, 30, 40});
        break;
      case 1:  // all on one line, in both images
        points.push_back({5 + 50 * t, 7 + 25 * t, 3 + 50 * t, 9 + 25 * t});
        break;
      case 2:  // huge coordinates
        points.push_back({huge * t, -huge * unit(random), huge, 1e-300 * t});
        break;
      case 3:  // negative coordinates, far outside the frames
        points.push_back({-1e6 * t, -5000 * unit(random), -1e9 * t, -unit(random)});
        break;
      case 4:  // not numbers at all
        points.push_back({std::numeric_limits<double>::quiet_NaN(),
                          t,
                          std::numeric_limits<double>::infinity(),
                          -t});
        break;
      default:  // ordinary random points
        points.push_back({64 * t, 48 * unit(random), 64 * unit(random), 48 * unit(random)});
        break;
    }
  }
  return points;
}

// Correspondences of a camera moved sideways: (x, y) in (0) is (x - d, y) in (1).
std::vector<Correspondence> translationPointSet() {
  std::vector<Correspondence> points;
  for (int i = 0; i < 16; ++i) {
    const double x = 4 + (i * 37) % 56;
    const double y = 3 + (i * 23) % 42;
    const double d = 1 + (i * 7) % 9;
    points.push_back({x, y, x - d, y});
  }
  return points;
}

class EventStorm : public AppFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(EventStorm, TheApplicationSurvivesAndStillCalibratesAndSavesOnce) {
  Options options;
  options.assist = GetParam();
  writeSettings("");
  SaveCounter saves;
  ASSERT_TRUE(saves.works());
  const long events = stormEvents();
  std::mt19937_64 random(20261208);
  long sent = 0, calibrations = 0, edgeCloses = 0;
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", options);
    app.show(true);
    drainMessages();
    unsigned seed0 = 1, seed1 = 2;
    camera0->startStreaming([&seed0] { return texturedFrame(kWidth, kHeight, 0, seed0++); },
                            16667us);
    camera1->startStreaming([&seed1] { return texturedFrame(kWidth, kHeight, 5, seed1++); },
                            16667us);

    auto windowAt = [&](std::size_t i) -> WindowHandle {
      switch (i) {
        case 0:
          return app.hwnd;
        case 1:
          return app.cameraWnd0->hwnd;
        case 2:
          return app.cameraWnd1->hwnd;
        default:
          return app.edgeWnd[i - 3] ? app.edgeWnd[i - 3]->hwnd : app.cameraWnd0->hwnd;
      }
    };
    auto anyWindow = [&] { return windowAt(random() % (3 + StereoApp::kEdgeSlots)); };
    auto cameraWindow = [&] { return windowAt(1 + random() % 2); };
    auto deliver = [&](WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
      if (random() % 2 == 0) {
        sendMessage(hwnd, msg, wParam, lParam);
      } else {
        postMessage(hwnd, msg, wParam, lParam);
      }
      ++sent;
    };
    // A position inside the frame, just outside it, or anything the parameter can hold.
    auto position = [&]() -> LPARAM {
      switch (random() % 4) {
        case 0:
        case 1:
          return testing::at(static_cast<int>(random() % kWidth),
                             static_cast<int>(random() % kHeight));
        case 2:
          return testing::at(kWidth + static_cast<int>(random() % 4),
                             static_cast<int>(random() % (kHeight + 8)));
        default:
          return static_cast<LPARAM>(random());
      }
    };

    for (long i = 0; i < events; ++i) {
      const int dice = static_cast<int>(random() % 1000);
      if (dice < 300) {
        static constexpr UINT kButtons[3] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
        static constexpr WPARAM kFlags[3] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
        const int b = static_cast<int>(random() % 3);
        const bool anywhere = random() % 8 == 0;
        deliver(anywhere ? anyWindow() : cameraWindow(), kButtons[b], kFlags[b], position());
      } else if (dice < 560) {
        // The assisted keys and their modifiers, through the platform's input path so that
        // Ctrl and Shift are held as with a keyboard (Ctrl+S, an export to disk, is left to the
        // end-to-end test).
        static constexpr WPARAM kKeys[] = {
            VK_DELETE, VK_BACK, VK_ESCAPE, 'H', 'Z', 'Y', 'A', 'R', 'D', VK_SHIFT, VK_CONTROL, '1'};
        const WPARAM code = kKeys[random() % std::size(kKeys)];
        testing::queueKeyPress(
            cameraWindow(), code, {.shift = random() % 3 == 0, .ctrl = random() % 2 == 0});
        ++sent;
      } else if (dice < 580) {
        // A press on a marked point, a drag of a few steps, and a release, maybe outside.
        const auto& marked = app.pairs().correspondences();
        const int side = static_cast<int>(random() % 2);
        const WindowHandle hwnd = app.cameraWindow(side)->hwnd;
        int x = static_cast<int>(random() % kWidth), y = static_cast<int>(random() % kHeight);
        if (!marked.empty()) {
          // Points far outside (the random point sets hold some) are pressed nowhere near.
          const Correspondence& p = marked[random() % marked.size()];
          const double px = side == 1 ? p.x1 : p.x0, py = side == 1 ? p.y1 : p.y0;
          if (px >= 0 && px < 2 * kWidth && py >= 0 && py < 2 * kHeight) {
            x = static_cast<int>(px);
            y = static_cast<int>(py);
          }
        }
        deliver(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, testing::at(x, y));
        for (int step = static_cast<int>(random() % 5); step > 0; --step) {
          x += static_cast<int>(random() % 9) - 4;
          y += static_cast<int>(random() % 9) - 4;
          deliver(hwnd, WM_MOUSEMOVE, MK_LBUTTON, testing::at(x, y));
        }
        deliver(hwnd, WM_LBUTTONUP, 0, random() % 4 == 0 ? position() : testing::at(x, y));
      } else if (dice < 600) {
        // Every key code but C (calibration is kept rare below), now and then any number.
        WPARAM code = random() % 8 == 0 ? static_cast<WPARAM>(random()) : random() % 256;
        if (code == 'C') code = 'c';
        deliver(anyWindow(), WM_KEYDOWN, code, 0);
      } else if (dice < 700) {
        deliver(anyWindow(), WM_PAINT, 0, 0);
      } else if (dice < 750) {
        // Mostly motion (with buttons held now and then), some releases and leaves.
        static constexpr UINT kPointer[4] = {
            WM_MOUSEMOVE, WM_MOUSEMOVE, WM_LBUTTONUP, WM_MOUSELEAVE};
        const UINT msg = kPointer[random() % 4];
        deliver(random() % 4 == 0 ? anyWindow() : cameraWindow(),
                msg,
                random() % 3 == 0 ? MK_LBUTTON : 0,
                msg == WM_MOUSELEAVE ? 0 : position());
      } else if (dice < 820) {
        static constexpr unsigned kSizes[] = {0, 1, 2, 48, 64, 400, 1920, 65535};
        const unsigned w = random() % 2 ? kSizes[random() % 8] : random() % 2000;
        const unsigned h = random() % 2 ? kSizes[random() % 8] : random() % 2000;
        deliver(anyWindow(), WM_SIZE, SIZE_RESTORED, makeLParam(w, h));
      } else if (dice < 860) {
        // Close an edge window that is open, as its close button or menu would.
        const std::size_t slot = random() % StereoApp::kEdgeSlots;
        if (app.edgeWnd[slot] && isWindow(app.edgeWnd[slot]->hwnd)) {
          if (random() % 2 == 0) {
            deliver(app.edgeWnd[slot]->hwnd, WM_CLOSE, 0, 0);
          } else {
            deliver(app.edgeWnd[slot]->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
          }
          ++edgeCloses;
        }
      } else if (dice < 930) {
        deliver(random() % 3 == 0 ? app.hwnd : cameraWindow(), WM_KEYDOWN, 'P', 0);
      } else if (dice < 999) {
        deliver(cameraWindow(), WM_KEYDOWN, random() % 2 ? 'E' : 'X', 0);
      } else {
        app.pairs().assign(randomPointSet(random));
        sendMessage(cameraWindow(), WM_KEYDOWN, 'C', 0);
        ++sent;
        ++calibrations;
      }
      if (i % 32 == 0) drainMessages();
      if (i % 512 == 0) log.clear();
    }
    drainMessages();
    log.clear();
    EXPECT_EQ(saves.saves(), 0) << "the settings file was written before the end";

    // The editing history is whole: undone to its start and redone to its end, the pairs are
    // as the storm left them.
    const std::vector<Correspondence> left = app.pairs().correspondences();
    while (app.pairs().undo()) {
    }
    while (app.pairs().redo()) {
    }
    EXPECT_TRUE(app.pairs().correspondences() == left);

    // Still working: a good point set calibrates to the translation matrix.
    app.pairs().assign(translationPointSet());
    sendMessage(app.cameraWnd0->hwnd, WM_KEYDOWN, 'C', 0);
    ASSERT_TRUE(app.calibration().calibrated());
    const Matrix& F = app.calibration().fundamental();
    const std::span<const double> entries(F.data(), 9);
    EXPECT_LT(testing::differenceUpToScale(entries, kTranslationF), 1e-6);
    double norm = 0.0;
    for (const double entry : entries) norm += entry * entry;
    norm = std::sqrt(norm);
    for (const Correspondence& p : app.pairs().correspondences()) {
      const double p0[3] = {p.x0, p.y0, 1.0};
      const double p1[3] = {p.x1, p.y1, 1.0};
      double residual = 0.0;
      for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) residual += p1[r] * entries[3 * r + k] * p0[k];
      }
      EXPECT_NEAR(residual / norm, 0.0, 1e-6);
    }
    EXPECT_EQ(saves.saves(), 0);
    // The application goes while both cameras still deliver.
  }
  EXPECT_EQ(saves.saves(), 1);
  const std::string saved = readSettings();
  EXPECT_NE(saved.find("matrixStored=true\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[Cam1]\nhasPoints=true\n"), std::string::npos) << saved;
  EXPECT_FALSE(camera0->isRunning());
  EXPECT_FALSE(camera1->isRunning());
  RecordProperty("events", std::to_string(sent));
  RecordProperty("calibrations", std::to_string(calibrations));
  std::printf("%ld messages sent, %ld calibrations, %ld edge windows closed, %d + %d frames\n",
              sent,
              calibrations,
              edgeCloses,
              camera0->delivered.load(),
              camera1->delivered.load());
}

INSTANTIATE_TEST_SUITE_P(Modes,
                         EventStorm,
                         ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& mode) {
                           return mode.param ? "Assisted" : "Classic";
                         });

}  // namespace
}  // namespace epipolar
