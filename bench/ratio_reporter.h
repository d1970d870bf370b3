// Runs the registered benchmarks and then prints, for each pair (candidate, baseline), the
// candidate's real time per iteration divided by the baseline's, both measured in this run.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace epipolar::bench {

// Pairs of benchmark names (as printed, e.g. "BM_EdgeFast/1280/720").
using RatioPairs = std::vector<std::pair<std::string, std::string>>;

// Initialises Google Benchmark from the command line, runs everything and prints the ratios.
int runWithRatios(int argc, char** argv, const RatioPairs& pairs);

}  // namespace epipolar::bench
