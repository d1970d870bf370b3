// Shared by the benchmark binaries: collects the median of every benchmark run with
// repetitions, and prints the result lines that bench/run gathers into its table.
//
// Result line (one per figure, on standard output, fields separated by single spaces):
//   RESULT <figure> <value> <unit> <baseline> <ratio> <targets>
// figure   name without spaces, e.g. search_640x480
// value    median of the figure, in <unit> (ms, us, ...)
// baseline median of the baseline measured in the same run, same unit, or "-" when none
// ratio    baseline / value for a faster replacement of the same computation (a speed-up),
//          value / baseline for an overhead over a floor; "-" when there is no baseline
// targets  comma-separated conditions on "value" or "ratio" with <=, >=, < or >, e.g.
//          "ratio>=20,value<=15"; "-" for a figure without a target
// See bench/README.md.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace epipolar::bench {

// Console output as usual, plus the median real time of each benchmark (by the name it was
// registered with) in milliseconds.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal: bench/run reads the output through a pipe.
  MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[run.run_name.function_name] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Median in milliseconds, or a negative number when the benchmark did not run.
  double medianMs(const std::string& name) const {
    const auto found = medians_.find(name);
    return found == medians_.end() ? -1.0 : found->second;
  }

 private:
  std::map<std::string, double> medians_;
};

inline void printResult(const std::string& figure,
                        double value,
                        const char* unit,
                        double baseline,
                        double ratio,
                        const std::string& targets) {
  std::printf("RESULT %s %.4g %s %.4g %.4g %s\n",
              figure.c_str(),
              value,
              unit,
              baseline,
              ratio,
              targets.empty() ? "-" : targets.c_str());
  std::fflush(stdout);
}

inline void printResult(const std::string& figure,
                        double value,
                        const char* unit,
                        const std::string& targets) {
  std::printf("RESULT %s %.4g %s - - %s\n",
              figure.c_str(),
              value,
              unit,
              targets.empty() ? "-" : targets.c_str());
  std::fflush(stdout);
}

}  // namespace epipolar::bench
