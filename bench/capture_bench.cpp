// The frame path of two 640x480 30 fps GStreamer camera streams, against a bare pipeline doing
// the same conversion into an appsink whose callback only drops the sample. Three cases run in
// the same process, one after the other, each for the same time after the same warm-up:
//   bare pipeline    source, BGR conversion, appsink dropping each sample;
//   delivery path    the camera's path: pipeline, BGR conversion, bottom-up BMP block, new
//                    Image, hand-over to a receiver that replaces its previous frame;
//   window path      the delivery path into two frame windows (LiveImageWnd) whose paints
//                    blit each frame onto the window surface (SDL offscreen driver), with the
//                    message loop on this thread, as in the program.
//   assisted path    the delivery path into the program's two camera windows (CameraWnd)
//                    with --assist, the pointer moving over window (0) at 60 Hz: every paint
//                    of that window also draws the loupe, and each move repaints it. 20 pairs
//                    are marked and F is in use, so every paint of both windows also draws
//                    the overlays: 20 numbered rings coloured by residuals computed at that
//                    paint, one selected, the status line, and in (1) an epipolar line across
//                    the picture and a match cross.
// Figures (RESULT lines for bench/run):
//   capture_delivery_2x640x480, frame_path_2x640x480  CPU per delivered frame over the bare
//     pipeline's (whole process, all threads: the streaming threads count); target <= 1.5.
//   frame_path_assisted_2x640x480  the same for the assisted path; target <= 1.5.
//   frame_path_rss_growth  resident memory (/proc/self/statm) at the end of the window case
//     minus after its warm-up, in KiB; target < 1024.
//   frame_path_latency_median, frame_path_latency_p99  from a frame's arrival (the camera's
//     call of the window's frame receiver) to the end of the paint that showed it on the
//     window surface, over every painted frame. Frames replaced before a paint reached them
//     are counted (frames_unpainted), not timed. No target.
//
// Measuring time per case: --capture_seconds=N, else $EPIPOLAR_CAPTURE_SECONDS, else 5
// (the full measurement is 60).
#include <benchmark/benchmark.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchReport.h"
#include "capture/gstreamer/GstCameraLists.h"
#include "capture/gstreamer/GstRuntime.h"
#include "platform/Platform.h"
#include "ui/CameraWnd.h"
#include "ui/CameraWndOwner.h"
#include "ui/LiveImageWnd.h"

namespace {

double measureSeconds = 5.0;
constexpr auto kWarmUp = std::chrono::seconds(2);
constexpr int kStreams = 2;

// All cases share the source, so only what follows it differs.
constexpr const char* kSource =
    "videotestsrc is-live=true pattern=ball "
    "! video/x-raw,format=I420,width=640,height=480,framerate=30/1";

using Clock = std::chrono::steady_clock;

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// Resident set size in bytes, from the second field of /proc/self/statm (pages).
long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

struct Result {
  double cpuSecondsPerFrame = 0;
  long frames = 0;
  long rssGrowth = 0;  // bytes
};
Result bare, delivery, window, assisted;

// Like a camera window without the window: keeps the newest frame, deletes the one it
// replaces.
struct Receiver {
  std::mutex mutex;
  std::unique_ptr<epipolar::Image> frame;
  std::atomic<long> frames{0};
  static void onFrame(std::unique_ptr<epipolar::Image> image, void* context) {
    auto* self = static_cast<Receiver*>(context);
    std::lock_guard lock(self->mutex);
    self->frame = std::move(image);
    self->frames.fetch_add(1, std::memory_order_relaxed);
  }
};

// Waits out the warm-up, then measures CPU, frames and resident growth over the measuring
// time. `frames` returns the frames delivered so far.
template <typename Frames>
Result measure(Frames frames, std::atomic<bool>* measuring = nullptr) {
  std::this_thread::sleep_for(kWarmUp);
  const long framesBefore = frames();
  const long rssBefore = residentBytes();
  const double cpuBefore = processCpuSeconds();
  if (measuring != nullptr) measuring->store(true);
  std::this_thread::sleep_for(std::chrono::duration<double>(measureSeconds));
  if (measuring != nullptr) measuring->store(false);
  const double cpu = processCpuSeconds() - cpuBefore;
  const long count = frames() - framesBefore;
  return Result{count > 0 ? cpu / count : 0.0, count, residentBytes() - rssBefore};
}

void report(benchmark::State& state, const Result& result) {
  state.SetIterationTime(measureSeconds);
  state.counters["cpu_us_per_frame"] = result.cpuSecondsPerFrame * 1e6;
  state.counters["frames"] = static_cast<double>(result.frames);
  state.counters["rss_growth_KiB"] = static_cast<double>(result.rssGrowth) / 1024.0;
}

void BM_BareConversionPipeline(benchmark::State& state) {
  epipolar::gst::ensureGstInitialised();
  for (auto _ : state) {
    std::atomic<long> frames{0};
    std::vector<GstElement*> pipelines;
    for (int i = 0; i < kStreams; ++i) {
      const std::string text = std::string(kSource) +
                               " ! videoconvert ! video/x-raw,format=BGR ! appsink name=sink "
                               "enable-last-sample=false";
      GstElement* pipeline = gst_parse_launch(text.c_str(), nullptr);
      GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
      GstAppSinkCallbacks callbacks{};
      callbacks.new_sample = [](GstAppSink* appsink, gpointer counter) {
        GstSample* sample = gst_app_sink_pull_sample(appsink);
        if (sample != nullptr) gst_sample_unref(sample);
        static_cast<std::atomic<long>*>(counter)->fetch_add(1, std::memory_order_relaxed);
        return GST_FLOW_OK;
      };
      gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &frames, nullptr);
      gst_object_unref(sink);
      gst_element_set_state(pipeline, GST_STATE_PLAYING);
      pipelines.push_back(pipeline);
    }
    bare = measure([&] { return frames.load(); });
    for (GstElement* pipeline : pipelines) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
    report(state, bare);
  }
}

void BM_CameraDeliveryPath(benchmark::State& state) {
  for (auto _ : state) {
    auto list = epipolar::openPipelineCameraList(std::vector<std::string>(kStreams, kSource));
    std::vector<std::unique_ptr<epipolar::Camera>> cameras;
    std::vector<std::unique_ptr<Receiver>> receivers;
    for (int i = 0; i < kStreams; ++i) {
      cameras.push_back(list->openCamera(i));
      receivers.push_back(std::make_unique<Receiver>());
      cameras.back()->start(&Receiver::onFrame, receivers.back().get());
    }
    delivery = measure([&] {
      long total = 0;
      for (auto& receiver : receivers) total += receiver->frames.load();
      return total;
    });
    for (auto& camera : cameras) camera->stop();
    report(state, delivery);
  }
}

// ---- the window path ----

constexpr epipolar::UINT kEndMessage = epipolar::WM_USER + 0x31;

std::atomic<bool> measuringLatency{false};
std::mutex latencyMutex;
std::vector<double> latenciesMs;
long unpaintedFrames = 0;

// A frame window that notes when each frame arrives and when the paint that showed it ended.
class TimedWindow : public epipolar::LiveImageWnd {
 public:
  // The case ends its loop by kEndMessage: destroying the windows must not leave a quit
  // behind that would end the next case's loop before it starts.
  TimedWindow(epipolar::Camera* camera, int x, int y) : LiveImageWnd(camera, x, y) {
    quitOnDestroy = false;
  }

  void onFrame(epipolar::Image* newFrame) override {
    {
      std::lock_guard lock(timesMutex_);
      // The frame this one replaces, if no paint has shown it yet, never appears.
      if (waiting_ != nullptr && measuringLatency.load()) ++unpainted_;
      waiting_ = newFrame;
      arrival_ = Clock::now();
    }
    frames.fetch_add(1, std::memory_order_relaxed);
    LiveImageWnd::onFrame(newFrame);
  }

  epipolar::LRESULT handleMessage(epipolar::UINT msg,
                                  epipolar::WPARAM wParam,
                                  epipolar::LPARAM lParam) override {
    if (msg == kEndMessage) {
      epipolar::postQuitMessage(0);
      return 0;
    }
    if (msg != epipolar::WM_PAINT) return LiveImageWnd::handleMessage(msg, wParam, lParam);
    const epipolar::Image* before = shown();
    const epipolar::LRESULT result = LiveImageWnd::handleMessage(msg, wParam, lParam);
    const Clock::time_point painted = Clock::now();
    // Only a frame that stayed in place through the whole paint is known to be the one shown.
    if (before != nullptr && before == shown()) {
      std::lock_guard lock(timesMutex_);
      if (waiting_ == before) {
        if (measuringLatency.load()) {
          std::lock_guard all(latencyMutex);
          latenciesMs.push_back(
              std::chrono::duration<double, std::milli>(painted - arrival_).count());
        }
        waiting_ = nullptr;
      }
    }
    return result;
  }

  long unpainted() {
    std::lock_guard lock(timesMutex_);
    return unpainted_;
  }

  std::atomic<long> frames{0};

 private:
  const epipolar::Image* shown() {
    std::lock_guard lock(frameLock);
    return frame;
  }

  std::mutex timesMutex_;
  const epipolar::Image* waiting_ = nullptr;  // the newest frame, until a paint shows it
  Clock::time_point arrival_;
  long unpainted_ = 0;
};

void BM_WindowFramePath(benchmark::State& state) {
  for (auto _ : state) {
    auto list = epipolar::openPipelineCameraList(std::vector<std::string>(kStreams, kSource));
    std::vector<std::unique_ptr<epipolar::Camera>> cameras;
    std::vector<std::unique_ptr<TimedWindow>> windows;
    for (int i = 0; i < kStreams; ++i) {
      cameras.push_back(list->openCamera(i));
      windows.push_back(std::make_unique<TimedWindow>(cameras.back().get(), 660 * i, 0));
      windows.back()->show(true);
    }
    for (auto& w : windows) w->startCamera();
    {
      std::lock_guard lock(latencyMutex);
      latenciesMs.clear();
    }
    std::thread measurer([&] {
      window = measure(
          [&] {
            long total = 0;
            for (auto& w : windows) total += w->frames.load();
            return total;
          },
          &measuringLatency);
      epipolar::postMessage(windows.front()->hwnd, kEndMessage, 0, 0);
    });
    epipolar::Message msg;
    while (epipolar::getMessage(msg)) epipolar::dispatchMessage(msg);
    measurer.join();
    for (auto& w : windows) w->stopCamera();
    unpaintedFrames = 0;
    for (auto& w : windows) unpaintedFrames += w->unpainted();
    windows.clear();
    report(state, window);
    std::lock_guard lock(latencyMutex);
    state.counters["painted"] = static_cast<double>(latenciesMs.size());
    state.counters["frames_unpainted"] = static_cast<double>(unpaintedFrames);
  }
}

// ---- the assisted path ----

// The owner the camera windows call back: here only their options and each other matter (no
// click, key or view reaches them in this case).
class PaintOnlyOwner : public epipolar::CameraWndOwner {
 public:
  explicit PaintOnlyOwner(const epipolar::Options& options) : CameraWndOwner(options) {}
  epipolar::CameraWnd* cameraWindow(int side) const override { return windows[side == 1]; }
  void addClick(epipolar::CameraWnd*, double, double) override {}
  void addPairs(std::span<const epipolar::Correspondence>,
                const std::string&,
                const std::string&) override {}
  void exportSession() override {}
  void calibrate() override {}
  epipolar::ImagePosition findMatch(epipolar::CameraWnd*, double, double) override { return {}; }
  void detectEdges(const epipolar::Image&, bool, int) override {}
  void invalidateView() override {}
  epipolar::WindowHandle viewWindow() const override { return {}; }

  epipolar::CameraWnd* windows[2] = {nullptr, nullptr};
};

class CountingCameraWnd : public epipolar::CameraWnd {
 public:
  CountingCameraWnd(epipolar::CameraWndOwner* owner, epipolar::Camera* camera, int side, int x)
      : CameraWnd(owner, camera, side, x, 0) {
    quitOnDestroy = false;  // as TimedWindow
  }
  void onFrame(epipolar::Image* newFrame) override {
    frames.fetch_add(1, std::memory_order_relaxed);
    CameraWnd::onFrame(newFrame);
  }
  epipolar::LRESULT handleMessage(epipolar::UINT msg,
                                  epipolar::WPARAM wParam,
                                  epipolar::LPARAM lParam) override {
    if (msg == kEndMessage) {
      epipolar::postQuitMessage(0);
      return 0;
    }
    if (msg == epipolar::WM_PAINT) ++paints;
    return CameraWnd::handleMessage(msg, wParam, lParam);
  }
  std::atomic<long> frames{0};
  long paints = 0;  // UI thread only
};

void BM_AssistedFramePath(benchmark::State& state) {
  for (auto _ : state) {
    epipolar::Options options;
    options.assist = true;
    PaintOnlyOwner owner(options);
    std::vector<epipolar::Correspondence> pairs;
    for (int i = 0; i < 20; ++i) {
      const double x = 40.0 + 28.0 * i, y = 60.0 + 17.0 * i;
      pairs.push_back({x, y, x + 12.0, y + 0.4 * (i % 10)});
    }
    owner.pairs().assign(pairs);
    owner.pairs().setCurrentCorrespondence(3);
    // Horizontal translation: a pair's residual is its vertical offset over sqrt(2).
    constexpr double kTranslation[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
    owner.calibration().restore(epipolar::Matrix(kTranslation, 3, 3), true);
    owner.markFitted();
    auto list = epipolar::openPipelineCameraList(std::vector<std::string>(kStreams, kSource));
    std::vector<std::unique_ptr<epipolar::Camera>> cameras;
    std::vector<std::unique_ptr<CountingCameraWnd>> windows;
    for (int i = 0; i < kStreams; ++i) {
      cameras.push_back(list->openCamera(i));
      windows.push_back(
          std::make_unique<CountingCameraWnd>(&owner, cameras.back().get(), i, 660 * i));
      owner.windows[i] = windows.back().get();
      windows.back()->show(true);
    }
    // A slanted line across (1) and a match cross on it.
    const double line[3] = {0.4, -0.9165, 100.0};
    windows.back()->epipolarLine = epipolar::Vector(line, 3);
    windows.back()->showLine = true;
    const double match[3] = {320.4, 249.8, 0.0};
    windows.back()->marker = epipolar::Vector(match, 3);
    for (auto& w : windows) w->startCamera();
    std::atomic<bool> moving{true};
    // A pointer circling over window (0), one move per display refresh.
    std::thread pointer([&] {
      for (int step = 0; moving.load(); ++step) {
        const double angle = step * 0.05;
        const auto x = static_cast<unsigned>(320 + 200 * std::cos(angle));
        const auto y = static_cast<unsigned>(240 + 150 * std::sin(angle));
        epipolar::postMessage(
            windows.front()->hwnd, epipolar::WM_MOUSEMOVE, 0, epipolar::makeLParam(x, y));
        std::this_thread::sleep_for(std::chrono::microseconds(16667));
      }
    });
    std::thread measurer([&] {
      assisted = measure([&] {
        long total = 0;
        for (auto& w : windows) total += w->frames.load();
        return total;
      });
      moving.store(false);
      epipolar::postMessage(windows.front()->hwnd, kEndMessage, 0, 0);
    });
    epipolar::Message msg;
    while (epipolar::getMessage(msg)) epipolar::dispatchMessage(msg);
    measurer.join();
    pointer.join();
    for (auto& w : windows) w->stopCamera();
    // Every paint of window (0) after the first move drew the loupe.
    state.counters["paints_with_loupe"] = static_cast<double>(windows.front()->paints);
    state.counters["paints_without"] = static_cast<double>(windows.back()->paints);
    windows.clear();
    report(state, assisted);
  }
}

BENCHMARK(BM_BareConversionPipeline)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_CameraDeliveryPath)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_WindowFramePath)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_AssistedFramePath)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  // The windows are painted in memory: no display is needed or touched.
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  if (const char* seconds = std::getenv("EPIPOLAR_CAPTURE_SECONDS")) {
    measureSeconds = std::atof(seconds);
  }
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    constexpr const char* kFlag = "--capture_seconds=";
    if (std::strncmp(argv[i], kFlag, std::strlen(kFlag)) == 0) {
      measureSeconds = std::atof(argv[i] + std::strlen(kFlag));
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  epipolar::shutdownPlatform();

  using epipolar::bench::printResult;
  if (bare.cpuSecondsPerFrame <= 0) {
    // Filtered out, or no frames: nothing to compare with.
    std::printf("capture_bench: the bare pipeline was not measured\n");
    return bare.frames == 0 && delivery.frames == 0 && window.frames == 0 && assisted.frames == 0
               ? 0
               : 1;
  }
  auto overhead = [&](const char* figure, const Result& result) {
    if (result.frames == 0) return;
    // An overhead over the bare pipeline, so value / baseline.
    printResult(figure,
                result.cpuSecondsPerFrame * 1e6,
                "us",
                bare.cpuSecondsPerFrame * 1e6,
                result.cpuSecondsPerFrame / bare.cpuSecondsPerFrame,
                "ratio<=1.5");
  };
  overhead("capture_delivery_2x640x480", delivery);
  overhead("frame_path_2x640x480", window);
  overhead("frame_path_assisted_2x640x480", assisted);
  if (window.frames > 0) {
    printResult("frame_path_rss_growth",
                static_cast<double>(window.rssGrowth) / 1024.0,
                "KiB",
                "value<1024");
    if (!latenciesMs.empty()) {
      printResult("frame_path_latency_median", percentile(latenciesMs, 0.5), "ms", "-");
      printResult("frame_path_latency_p99", percentile(latenciesMs, 0.99), "ms", "-");
    }
  }
  return 0;
}
