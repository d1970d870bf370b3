// What one virtual-rig frame costs: the full per-frame render (copy of the static picture,
// ball shadows, ray-cast balls, sensor noise) against the bare copy of a 640x480 frame block
// that any frame source pays. Two cameras at 30 fps spend 60 times the first per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/VirtualView.h"

namespace {

using epipolar::Image;
using epipolar::VirtualScene;
using epipolar::VirtualView;

std::shared_ptr<const VirtualScene> scene() {
  static auto shared = std::make_shared<const VirtualScene>();
  return shared;
}

void BM_CopyFrameBlock(benchmark::State& state) {
  const auto source = Image::blank(VirtualScene::kWidth, VirtualScene::kHeight);
  for (auto _ : state) {
    auto copy = std::make_unique<Image>(*source);
    benchmark::DoNotOptimize(copy->data.get());
  }
}
BENCHMARK(BM_CopyFrameBlock)->Unit(benchmark::kMicrosecond);

void BM_VirtualRigFrame(benchmark::State& state) {
  VirtualView view(scene(), static_cast<int>(state.range(0)), 1);
  double seconds = 0;
  for (auto _ : state) {
    auto frame = view.renderFrame(seconds);
    benchmark::DoNotOptimize(frame->data.get());
    seconds += 1.0 / VirtualScene::kFramesPerSecond;
  }
}
BENCHMARK(BM_VirtualRigFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_VirtualRigStaticView(benchmark::State& state) {
  for (auto _ : state) {
    VirtualScene fresh;
    benchmark::DoNotOptimize(&fresh.staticView(0));
  }
}
BENCHMARK(BM_VirtualRigStaticView)->Unit(benchmark::kMillisecond)->Iterations(3);

// Console output plus the ratio of each frame render to the bare block copy, in CPU time
// (the machine may be shared, so wall time says less about the cost).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration)
        microseconds_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() const {
    const auto copy = microseconds_.find("BM_CopyFrameBlock");
    if (copy == microseconds_.end()) return;
    for (const char* name : {"BM_VirtualRigFrame/0", "BM_VirtualRigFrame/1"}) {
      const auto frame = microseconds_.find(name);
      if (frame == microseconds_.end()) continue;
      std::printf(
          "%s: %.0f us CPU per frame, %.1f x a bare frame copy, %.1f%% of one core for 30 fps\n",
          name,
          frame->second,
          frame->second / copy->second,
          frame->second * 30 / 1e4);
    }
    // Result lines for bench/run (bench/README.md): overhead over the copy, no target.
    for (int camera = 0; camera < 2; ++camera) {
      const auto frame = microseconds_.find("BM_VirtualRigFrame/" + std::to_string(camera));
      if (frame == microseconds_.end()) continue;
      std::printf("RESULT virtual_rig_frame_cpu_%d %.4g us %.4g %.4g -\n",
                  camera,
                  frame->second,
                  copy->second,
                  frame->second / copy->second);
    }
  }

 private:
  std::map<std::string, double> microseconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
