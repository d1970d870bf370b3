// CPU per frame of the whole delivery path (pipeline, BGR conversion, bottom-up BMP block,
// new Image, hand-over to a receiver that replaces its previous frame) for two 640x480 30 fps
// streams, against a bare pipeline doing the same conversion into an appsink whose callback
// only drops the sample. Both run in the same process, one after the other, for the same time;
// the ratio is printed at the end (target: at most 1.5), with a RESULT line for bench/run.
//
// CPU time is the whole process's (all threads), so the streaming threads count.
// --capture_seconds=N sets the measuring time per case (default 3; 10 for the full run).
#include <benchmark/benchmark.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/gstreamer/GstCameraLists.h"
#include "capture/gstreamer/GstRuntime.h"

namespace {

double measureSeconds = 3.0;
constexpr auto kWarmUp = std::chrono::milliseconds(500);
constexpr int kStreams = 2;

// Both cases share the source, so only what follows it differs.
constexpr const char* kSource =
    "videotestsrc is-live=true pattern=ball "
    "! video/x-raw,format=I420,width=640,height=480,framerate=30/1";

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

struct Result {
  double cpuSecondsPerFrame = 0;
  long frames = 0;
};
Result bare, delivery;

// Like a camera window: keeps the newest frame, deletes the one it replaces.
struct Window {
  std::mutex mutex;
  std::unique_ptr<epipolar::Image> frame;
  std::atomic<long> frames{0};
  static void onFrame(std::unique_ptr<epipolar::Image> image, void* context) {
    auto* self = static_cast<Window*>(context);
    std::lock_guard lock(self->mutex);
    self->frame = std::move(image);
    self->frames.fetch_add(1, std::memory_order_relaxed);
  }
};

template <typename Frames>
Result measure(Frames frames) {
  std::this_thread::sleep_for(kWarmUp);
  const long framesBefore = frames();
  const double cpuBefore = processCpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(measureSeconds));
  const double cpu = processCpuSeconds() - cpuBefore;
  const long count = frames() - framesBefore;
  return Result{count > 0 ? cpu / count : 0.0, count};
}

void report(benchmark::State& state, const Result& result) {
  state.SetIterationTime(measureSeconds);
  state.counters["cpu_us_per_frame"] = result.cpuSecondsPerFrame * 1e6;
  state.counters["frames"] = static_cast<double>(result.frames);
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
    std::vector<std::unique_ptr<Window>> windows;
    for (int i = 0; i < kStreams; ++i) {
      cameras.push_back(list->openCamera(i));
      windows.push_back(std::make_unique<Window>());
      cameras.back()->start(&Window::onFrame, windows.back().get());
    }
    delivery = measure([&] {
      long total = 0;
      for (auto& window : windows) total += window->frames.load();
      return total;
    });
    for (auto& camera : cameras) camera->stop();
    report(state, delivery);
  }
}

BENCHMARK(BM_BareConversionPipeline)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_CameraDeliveryPath)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
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
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (bare.cpuSecondsPerFrame > 0 && delivery.cpuSecondsPerFrame > 0) {
    std::printf(
        "delivery path %.1f us/frame, bare pipeline %.1f us/frame, ratio %.2f (target <= 1.5)\n",
        delivery.cpuSecondsPerFrame * 1e6,
        bare.cpuSecondsPerFrame * 1e6,
        delivery.cpuSecondsPerFrame / bare.cpuSecondsPerFrame);
    // The line bench/run collects: an overhead over the bare pipeline, so value / baseline.
    std::printf("RESULT capture_delivery_2x640x480 %.1f us %.1f %.2f ratio<=1.5\n",
                delivery.cpuSecondsPerFrame * 1e6,
                bare.cpuSecondsPerFrame * 1e6,
                delivery.cpuSecondsPerFrame / bare.cpuSecondsPerFrame);
  } else {
    std::printf("capture_bench: no frames were measured\n");
    return 1;
  }
  return 0;
}
