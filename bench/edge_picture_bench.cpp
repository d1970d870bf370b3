// The colour edge picture at 640x480 and 1280x720: the fast version against the reference
// version that works pixel by pixel through Colour and setPixel. The frame is a synthetic
// scene with blocks, gradients and noise, so that about a third of the pixels are edges.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "imaging/EdgePicture.h"
#include "ratio_reporter.h"

namespace epipolar {
namespace {

std::unique_ptr<Image> sceneFrame(int width, int height) {
  auto frame = Image::blank(width, height);
  std::mt19937 random(5);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = frame->row(y);
    for (int x = 0; x < width; ++x) {
      const bool block = ((x / 40) + (y / 30)) % 2 == 0;
      const int noise = static_cast<int>(random() % 24);
      row[3 * x + 0] = static_cast<std::uint8_t>((block ? 180 : 40) + noise);
      row[3 * x + 1] = static_cast<std::uint8_t>((x * 255) / width);
      row[3 * x + 2] = static_cast<std::uint8_t>(block ? 60 + noise : 200);
    }
  }
  return frame;
}

template <std::unique_ptr<Image> (*Edges)(const Image&)>
void BM_Edges(benchmark::State& state) {
  const auto frame = sceneFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    auto edges = Edges(*frame);
    benchmark::DoNotOptimize(edges->data.get());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Edges<edgePictureReference>)->Name("BM_EdgeReference")->Apply(sizes);
BENCHMARK(BM_Edges<edgePicture>)->Name("BM_EdgeFast")->Apply(sizes);

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  // Target: the edge picture of a 1280x720 frame in at most 5 ms.
  return epipolar::bench::runWithRatios(argc,
                                        argv,
                                        std::vector<epipolar::bench::RatioFigure>{
                                            {"edge_picture_640x480",
                                             "BM_EdgeFast/640/480/real_time",
                                             "BM_EdgeReference/640/480/real_time",
                                             true,
                                             "-"},
                                            {"edge_picture_1280x720",
                                             "BM_EdgeFast/1280/720/real_time",
                                             "BM_EdgeReference/1280/720/real_time",
                                             true,
                                             "value<=5"},
                                        });
}
