// Runs the registered benchmarks and then prints, for each pair (candidate, baseline), the
// candidate's real time per iteration divided by the baseline's, both measured in this run,
// followed by the RESULT lines that bench/run collects (see bench/README.md).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace epipolar::bench {

// Pairs of benchmark names (as printed, e.g. "BM_EdgeFast/1280/720").
using RatioPairs = std::vector<std::pair<std::string, std::string>>;

// One figure of bench/run's table: a candidate benchmark against its baseline.
struct RatioFigure {
  std::string figure;     // name in the table, no spaces
  std::string candidate;  // benchmark names as printed
  std::string baseline;
  bool speedup = false;  // ratio = baseline / candidate (a speed-up), else candidate / baseline
  std::string targets;   // conditions on "value" or "ratio", e.g. "value<=5"; "-" for none
};

// Initialises Google Benchmark from the command line, runs everything and prints the ratios.
// Each pair also gives a RESULT line named after the candidate, with ratio candidate/baseline
// and no target.
int runWithRatios(int argc, char** argv, const RatioPairs& pairs);
// The same with named figures, ratio directions and targets.
int runWithRatios(int argc, char** argv, const std::vector<RatioFigure>& figures);

}  // namespace epipolar::bench
