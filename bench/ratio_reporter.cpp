#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace epipolar::bench {
namespace {

// The console reporter, remembering the real time per iteration of every run.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      times[run.benchmark_name()] = run.GetAdjustedRealTime();
      if (run.run_type == Run::RT_Aggregate) times[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int runWithRatios(int argc, char** argv, const RatioPairs& pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-44s %-44s %10s\n", "candidate", "baseline", "ratio");
  for (const auto& [candidate, baseline] : pairs) {
    const auto c = reporter.times.find(candidate);
    const auto b = reporter.times.find(baseline);
    if (c == reporter.times.end() || b == reporter.times.end() || b->second <= 0) continue;
    std::printf("%-44s %-44s %10.3f\n", candidate.c_str(), baseline.c_str(), c->second / b->second);
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace epipolar::bench
