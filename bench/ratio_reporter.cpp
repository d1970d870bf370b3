#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace epipolar::bench {
namespace {

struct Timing {
  double time;       // real time per iteration, in `unit`
  std::string unit;  // "ms", "us", ...
};

// The console reporter, remembering the real time per iteration of every run.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const Timing timing{run.GetAdjustedRealTime(), benchmark::GetTimeUnitString(run.time_unit)};
      times[run.benchmark_name()] = timing;
      if (run.run_type == Run::RT_Aggregate) times[run.run_name.str()] = timing;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Timing> times;
};

std::string figureName(std::string name) {
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

}  // namespace

int runWithRatios(int argc, char** argv, const std::vector<RatioFigure>& figures) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-44s %-44s %10s\n", "candidate", "baseline", "ratio");
  for (const RatioFigure& figure : figures) {
    const auto c = reporter.times.find(figure.candidate);
    const auto b = reporter.times.find(figure.baseline);
    if (c == reporter.times.end() || b == reporter.times.end() || b->second.time <= 0) continue;
    std::printf("%-44s %-44s %10.3f\n",
                figure.candidate.c_str(),
                figure.baseline.c_str(),
                c->second.time / b->second.time);
  }
  std::printf("\n");
  for (const RatioFigure& figure : figures) {
    const auto c = reporter.times.find(figure.candidate);
    const auto b = reporter.times.find(figure.baseline);
    if (c == reporter.times.end() || b == reporter.times.end() || b->second.time <= 0 ||
        c->second.time <= 0 || c->second.unit != b->second.unit) {
      continue;
    }
    const double value = c->second.time;
    const double baseline = b->second.time;
    std::printf("RESULT %s %.4g %s %.4g %.4g %s\n",
                figure.figure.c_str(),
                value,
                c->second.unit.c_str(),
                baseline,
                figure.speedup ? baseline / value : value / baseline,
                figure.targets.empty() ? "-" : figure.targets.c_str());
  }
  benchmark::Shutdown();
  return 0;
}

int runWithRatios(int argc, char** argv, const RatioPairs& pairs) {
  std::vector<RatioFigure> figures;
  for (const auto& [candidate, baseline] : pairs) {
    figures.push_back({figureName(candidate), candidate, baseline, false, "-"});
  }
  return runWithRatios(argc, argv, figures);
}

}  // namespace epipolar::bench
