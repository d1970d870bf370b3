// Match search on 640x480 and 1280x720 textured stereo pairs whose epipolar line is slanted
// (slope 0.4) and crosses the whole picture: the reference search (one matchScore per
// candidate, every sample read and converted where it is used) against the fast search.
// Before timing, both must return the same position, which must be the true match; a
// mismatch ends the program with status 1.
//
// Targets: at 640x480 at least 20 times faster than the reference and at most 15 ms
// (median); at 1280x720 at most 40 ms.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "geometry/MatchSearch.h"
#include "geometry/testing/StereoPair.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

struct Input {
  std::string name;
  testing::StereoPair pair;
  ImagePosition source;
  ImagePosition truth;
  std::string fastTargets;
};

// B shows the texture moved by (10, 4): the line has slope 0.4 and the true match of (x, y)
// is (x - 10, y - 4).
Input makeInput(int width, int height, std::string targets) {
  Input input;
  input.name = std::to_string(width) + "x" + std::to_string(height);
  input.pair = testing::shiftedPair(width, height, 10, 4);
  input.source = {width / 2.0, height / 2.0};
  input.truth = {input.source.x - 10, input.source.y - 4};
  input.fastTargets = std::move(targets);
  return input;
}

using Search =
    ImagePosition (*)(const Image&, const Image&, ImagePosition, const Matrix&, int, int, float);

void runSearch(benchmark::State& state, const Input* input, Search search) {
  for (auto _ : state) {
    const ImagePosition found = search(*input->pair.a,
                                       *input->pair.b,
                                       input->source,
                                       input->pair.F,
                                       kMatchWindowSize,
                                       kMatchBand,
                                       kMatchThreshold);
    benchmark::DoNotOptimize(found);
  }
}

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  using namespace epipolar;
  // The searches log two lines each; keep them out of the report.
  setLogSink([](std::string_view) {});

  std::vector<Input> inputs;
  inputs.push_back(makeInput(640, 480, "ratio>=20,value<=15"));
  inputs.push_back(makeInput(1280, 720, "value<=40"));

  for (const Input& input : inputs) {
    const ImagePosition reference = searchAlongLineReference(
        *input.pair.a, *input.pair.b, input.source, input.pair.F, 15, 20, kMatchThreshold);
    const ImagePosition fast = searchAlongLine(
        *input.pair.a, *input.pair.b, input.source, input.pair.F, 15, 20, kMatchThreshold);
    std::printf("%s: reference (%g, %g), fast (%g, %g), true match (%g, %g)\n",
                input.name.c_str(),
                reference.x,
                reference.y,
                fast.x,
                fast.y,
                input.truth.x,
                input.truth.y);
    if (!(reference == fast) || !(fast == input.truth)) {
      std::printf("MISMATCH on %s\n", input.name.c_str());
      return 1;
    }
  }

  for (const Input& input : inputs) {
    benchmark::RegisterBenchmark(
        ("search_reference/" + input.name).c_str(), runSearch, &input, &searchAlongLineReference)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark(
        ("search_fast/" + input.name).c_str(), runSearch, &input, &searchAlongLine)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(10)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
  }

  benchmark::Initialize(&argc, argv);
  bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  for (const Input& input : inputs) {
    const double reference = reporter.medianMs("search_reference/" + input.name);
    const double fast = reporter.medianMs("search_fast/" + input.name);
    if (reference <= 0 || fast <= 0) continue;  // filtered out on the command line
    bench::printResult(
        "search_" + input.name, fast, "ms", reference, reference / fast, input.fastTargets);
  }
  return 0;
}
