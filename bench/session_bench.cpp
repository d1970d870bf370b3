// The one pair reader on 10,000 pairs. The session JSON is read as a stream of parser events
// straight into the session, checking every value; the baseline is nlohmann-json's document
// parse of the same bytes, which checks nothing and builds a tree the reader never needs. The
// pair text reader checks each field and line; its baseline is four bare strtod calls per line,
// which check neither.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ratio_reporter.h"
#include "session/PairReader.h"
#include "session/Session.h"

namespace epipolar {
namespace {

constexpr int kPairs = 10000;

struct Texts {
  Texts() {
    Session session;
    session.F = Matrix3x3{1e-7, -2e-5, 3e-3, 2e-5, 1e-7, -4e-3, -3e-3, 4e-3, 1.0};
    session.method = "accurate";
    for (int i = 0; i < kPairs; ++i) {
      const double x = 0.1234567891 * i + 17.0;
      const double y = 479.987654321 - 0.0471 * i;
      session.pairs.push_back({x, y, x + 3.25, y - 0.5});
      session.fits.push_back(PairFit{0.001 * (i % 1000), i % 7 != 0});
      char line[160];
      std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g\n", x, y, x + 3.25, y - 0.5);
      text += line;
    }
    json = sessionJson(session);
  }
  std::string json;
  std::string text;
};

const Texts& texts() {
  static const Texts t;
  return t;
}

void check(const PairFile& read) {
  if (!read.ok() || read.session.pairs.size() != kPairs) {
    std::fprintf(
        stderr, "session_bench: the reader refused its own input: %s\n", read.error.c_str());
    std::exit(1);
  }
}

void BM_ReadSessionJson(benchmark::State& state) {
  for (auto _ : state) {
    const PairFile read = readPairBytes(texts().json, "bench");
    check(read);
    benchmark::DoNotOptimize(read.session.pairs.data());
  }
}

void BM_JsonDocumentParse(benchmark::State& state) {
  for (auto _ : state) {
    const nlohmann::json document = nlohmann::json::parse(texts().json);
    benchmark::DoNotOptimize(document.size());
  }
}

void BM_ReadPairText(benchmark::State& state) {
  for (auto _ : state) {
    const PairFile read = readPairBytes(texts().text, "bench");
    check(read);
    benchmark::DoNotOptimize(read.session.pairs.data());
  }
}

void BM_StrtodLines(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Correspondence> pairs;
    const char* p = texts().text.c_str();
    char* end = nullptr;
    while (*p != '\0') {
      Correspondence c;
      c.x0 = std::strtod(p, &end);
      c.y0 = std::strtod(end, &end);
      c.x1 = std::strtod(end, &end);
      c.y1 = std::strtod(end, &end);
      pairs.push_back(c);
      p = end + 1;  // past the line feed
    }
    benchmark::DoNotOptimize(pairs.data());
  }
}

BENCHMARK(BM_ReadSessionJson)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JsonDocumentParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadPairText)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StrtodLines)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  return epipolar::bench::runWithRatios(argc,
                                        argv,
                                        std::vector<epipolar::bench::RatioFigure>{
                                            {"session_json_read_10k",
                                             "BM_ReadSessionJson/real_time",
                                             "BM_JsonDocumentParse/real_time",
                                             true,
                                             "-"},
                                            {"pair_text_read_10k",
                                             "BM_ReadPairText/real_time",
                                             "BM_StrtodLines/real_time",
                                             true,
                                             "-"},
                                        });
}
