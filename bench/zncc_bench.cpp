// Speed of the ZNCC match search and of the click refinement.
//
// Search: 640x480 and 1280x720 textured stereo pairs whose epipolar line is slanted (slope
// 0.4) and crosses the whole picture (geometry/testing/StereoPair.h), band 20 px, source at
// the centre. Beside it, in the same run:
//  - OpenCV's matchTemplate (TM_CCOEFF_NORMED, the same normalised correlation) of the same
//    15x15 luminance window over the bounding box of the band, including the luminance
//    conversion of that box and the search for the best score (minMaxLoc): the baseline;
//  - the described HSV search (searchAlongLine, the fast version), for comparison.
// Before timing, the ZNCC search and matchTemplate must find the true match (within a
// pixel); otherwise the program ends with status 1.
// Targets: at most 2 ms at 640x480 and 4 ms at 1280x720 (medians), faster than matchTemplate.
//
// The same search on the virtual rig's frames (640x480), from every landmark of camera 0
// along its line under the true F: real perspective between the views, so most searches go
// on to the warped re-ranking (ZnccSearch.h). Target: at most 2 ms on average.
//
// Clicks, on the virtual rig's frames at the rig's planar junctions: snapToCorner on a click
// 2 px off, and refineMatchingClick of the matching click; baseline OpenCV's cornerSubPix
// with the same 9x9 window started on the whole-pixel corner (refinement only, no search).
// Target: at most 1 ms per click.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "capture/VirtualScene.h"
#include "capture/testing/RigJunctions.h"
#include "geometry/MatchSearch.h"
#include "geometry/PreciseClick.h"
#include "geometry/ZnccInternal.h"
#include "geometry/ZnccSearch.h"
#include "geometry/testing/StereoPair.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

constexpr double kBand = 20.0;

struct Input {
  std::string name;
  testing::StereoPair pair;
  Matrix3x3 F{};
  ImagePosition source;
  ImagePosition truth;
  std::string targets;
};

Input makeInput(int width, int height, std::string targets) {
  Input input;
  input.name = std::to_string(width) + "x" + std::to_string(height);
  input.pair = testing::shiftedPair(width, height, 10, 4);
  for (int k = 0; k < 9; ++k) input.F[k] = input.pair.F(k / 3, k % 3);
  input.source = {width / 2.0, height / 2.0};
  input.truth = {input.source.x - 10, input.source.y - 4};
  input.targets = std::move(targets);
  return input;
}

// An Image's rows as a cv::Mat. The BMP block stores rows bottom-up, so Mat row r is picture
// row height - 1 - r; the searches below flip their rows to match.
cv::Mat bottomUpMat(const Image& image) {
  return cv::Mat(image.height,
                 image.width,
                 CV_8UC3,
                 const_cast<std::uint8_t*>(image.data.get() + image.pixelOffset),
                 static_cast<std::size_t>(image.stride()));
}

// matchTemplate over the bounding box of the band around the line, from the Image to the
// best whole-pixel position (picture coordinates).
ImagePosition matchTemplateSearch(const Image& a,
                                  const Image& b,
                                  ImagePosition source,
                                  const Matrix3x3& M) {
  const int half = kZnccWindowSize / 2;
  const int sx = static_cast<int>(std::lround(source.x)),
            sy = static_cast<int>(std::lround(source.y));
  double la = M[0] * source.x + M[1] * source.y + M[2];
  double lb = M[3] * source.x + M[4] * source.y + M[5];
  double lc = M[6] * source.x + M[7] * source.y + M[8];
  const double norm = std::hypot(la, lb);
  la /= norm, lb /= norm, lc /= norm;
  // The line crosses the picture (|slope| < 1 here): rows spanned over all columns, plus the
  // band measured across the line, plus the window.
  const double yLeft = -lc / lb, yRight = -(la * (b.width - 1) + lc) / lb;
  const double reach = kBand / std::fabs(lb) + half;
  const int top = std::max(0, static_cast<int>(std::floor(std::min(yLeft, yRight) - reach)));
  const int bottom =
      std::min(b.height - 1, static_cast<int>(std::ceil(std::max(yLeft, yRight) + reach)));
  // Picture rows top..bottom are Mat rows height-1-bottom .. height-1-top.
  const cv::Mat boxColour = bottomUpMat(b).rowRange(b.height - 1 - bottom, b.height - top);
  const cv::Mat windowColour =
      bottomUpMat(a)(cv::Rect(sx - half, a.height - 1 - (sy + half), 2 * half + 1, 2 * half + 1));
  cv::Mat box, window, scores;
  cv::cvtColor(boxColour, box, cv::COLOR_BGR2GRAY);
  cv::cvtColor(windowColour, window, cv::COLOR_BGR2GRAY);
  cv::matchTemplate(box, window, scores, cv::TM_CCOEFF_NORMED);
  cv::Point best;
  cv::minMaxLoc(scores, nullptr, nullptr, nullptr, &best);
  // Score (c, r) is the window whose top-left Mat pixel is (c, r); flip the row back.
  const int matRow = best.y + half + (b.height - 1 - bottom);
  return {static_cast<double>(best.x + half), static_cast<double>(b.height - 1 - matRow)};
}

void runZncc(benchmark::State& state, const Input* input) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        searchZnccAlongLine(*input->pair.a, *input->pair.b, input->source, input->F, kBand));
  }
}

void runMatchTemplate(benchmark::State& state, const Input* input) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        matchTemplateSearch(*input->pair.a, *input->pair.b, input->source, input->F));
  }
}

void runDescribed(benchmark::State& state, const Input* input) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(searchAlongLine(*input->pair.a,
                                             *input->pair.b,
                                             input->source,
                                             input->pair.F,
                                             kMatchWindowSize,
                                             kMatchBand,
                                             kMatchThreshold));
  }
}

struct Clicks {
  std::unique_ptr<Image> frames[2];
  std::vector<RigLandmark> junctions;
  std::vector<RigLandmark> landmarks;
  Matrix3x3 F{};
};

// Searches from every rig landmark in camera 0 along its line in camera 1 under the true F:
// real perspective, so many searches go on to the warped re-ranking.
void runRigSearch(benchmark::State& state, const Clicks* rig) {
  std::size_t k = 0;
  for (auto _ : state) {
    const RigLandmark& l = rig->landmarks[k++ % rig->landmarks.size()];
    benchmark::DoNotOptimize(
        searchZnccAlongLine(*rig->frames[0], *rig->frames[1], {l.x0, l.y0}, rig->F, kBand));
  }
}

// The same without ranking the places by their surroundings (what that ranking costs), and
// with a 27x27 search after an uncertain answer (what that would cost).
void runRigSearchSettings(benchmark::State& state, const Clicks* rig, int reach, int wider) {
  detail::ZnccSettings settings;
  settings.contextReach = reach;
  settings.uncertainWindow = wider;
  std::size_t k = 0;
  for (auto _ : state) {
    const RigLandmark& l = rig->landmarks[k++ % rig->landmarks.size()];
    benchmark::DoNotOptimize(detail::searchZncc(
        *rig->frames[0], *rig->frames[1], {l.x0, l.y0}, rig->F, kBand, settings));
  }
}

void runSnap(benchmark::State& state, const Clicks* clicks) {
  std::size_t k = 0;
  for (auto _ : state) {
    const RigLandmark& l = clicks->junctions[k++ % clicks->junctions.size()];
    benchmark::DoNotOptimize(
        snapToCorner(*clicks->frames[0], {std::round(l.x0) + 2, std::round(l.y0) - 2}));
  }
}

void runMatchClick(benchmark::State& state, const Clicks* clicks) {
  std::size_t k = 0;
  for (auto _ : state) {
    const RigLandmark& l = clicks->junctions[k++ % clicks->junctions.size()];
    benchmark::DoNotOptimize(refineMatchingClick(*clicks->frames[0],
                                                 {l.x0, l.y0},
                                                 *clicks->frames[1],
                                                 {std::round(l.x1) - 2, std::round(l.y1) + 2}));
  }
}

void runCornerSubPix(benchmark::State& state, const Clicks* clicks) {
  cv::Mat gray;
  const Image& frame = *clicks->frames[0];
  cv::cvtColor(bottomUpMat(frame), gray, cv::COLOR_BGR2GRAY);
  std::size_t k = 0;
  for (auto _ : state) {
    const RigLandmark& l = clicks->junctions[k++ % clicks->junctions.size()];
    // Mat rows run bottom-up.
    std::vector<cv::Point2f> corner{
        cv::Point2f(static_cast<float>(std::round(l.x0)),
                    static_cast<float>(frame.height - 1 - std::round(l.y0)))};
    cv::cornerSubPix(gray,
                     corner,
                     cv::Size(4, 4),
                     cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 40, 0.01));
    benchmark::DoNotOptimize(corner);
  }
}

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  using namespace epipolar;
  // The described search logs two lines per search; keep them out of the report.
  setLogSink([](std::string_view) {});

  std::vector<Input> inputs;
  inputs.push_back(makeInput(640, 480, "value<=2,ratio>=1"));
  inputs.push_back(makeInput(1280, 720, "value<=4,ratio>=1"));
  for (const Input& input : inputs) {
    const ZnccMatch zncc =
        searchZnccAlongLine(*input.pair.a, *input.pair.b, input.source, input.F, kBand);
    const ImagePosition cv =
        matchTemplateSearch(*input.pair.a, *input.pair.b, input.source, input.F);
    std::printf(
        "%s: ZNCC (%.2f, %.2f) score %.3f next %.3f, matchTemplate (%g, %g), true match (%g, %g)\n",
        input.name.c_str(),
        zncc.position.x,
        zncc.position.y,
        zncc.score,
        zncc.next,
        cv.x,
        cv.y,
        input.truth.x,
        input.truth.y);
    if (std::hypot(zncc.position.x - input.truth.x, zncc.position.y - input.truth.y) > 1.0 ||
        std::hypot(cv.x - input.truth.x, cv.y - input.truth.y) > 1.0) {
      std::printf("MISMATCH on %s\n", input.name.c_str());
      return 1;
    }
  }

  Clicks clicks;
  {
    auto scene = std::make_shared<const VirtualScene>();
    VirtualView view0(scene, 0, 21), view1(scene, 1, 22);
    clicks.frames[0] = view0.renderFrame(0.0);
    clicks.frames[1] = view1.renderFrame(0.0);
    clicks.junctions = testing::rigJunctions(*scene, 0.0);
    clicks.landmarks = scene->landmarks();
    const Mat3& F = scene->trueFundamental();
    for (int k = 0; k < 9; ++k) clicks.F[k] = F[k / 3][k % 3];
  }

  auto timed = [](benchmark::internal::Benchmark* b, int iterations, int repetitions) {
    b->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(iterations)
        ->Repetitions(repetitions)
        ->ReportAggregatesOnly(true);
  };
  for (const Input& input : inputs) {
    timed(benchmark::RegisterBenchmark(("zncc/" + input.name).c_str(), runZncc, &input), 20, 9);
    timed(benchmark::RegisterBenchmark(
              ("match_template/" + input.name).c_str(), runMatchTemplate, &input),
          20,
          9);
    timed(benchmark::RegisterBenchmark(("described/" + input.name).c_str(), runDescribed, &input),
          5,
          9);
  }
  timed(benchmark::RegisterBenchmark("zncc_rig", runRigSearch, &clicks), 42, 9);
  timed(benchmark::RegisterBenchmark("zncc_rig_windows_only", runRigSearchSettings, &clicks, 0, 0),
        42,
        9);
  timed(benchmark::RegisterBenchmark(
            "zncc_rig_wider_when_uncertain", runRigSearchSettings, &clicks, 20, 27),
        42,
        9);
  timed(benchmark::RegisterBenchmark("click_snap", runSnap, &clicks), 200, 9);
  timed(benchmark::RegisterBenchmark("click_match", runMatchClick, &clicks), 200, 9);
  timed(benchmark::RegisterBenchmark("corner_subpix", runCornerSubPix, &clicks), 200, 9);

  benchmark::Initialize(&argc, argv);
  bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  for (const Input& input : inputs) {
    const double zncc = reporter.medianMs("zncc/" + input.name);
    const double cv = reporter.medianMs("match_template/" + input.name);
    const double described = reporter.medianMs("described/" + input.name);
    if (zncc <= 0) continue;  // filtered out on the command line
    if (cv > 0)
      bench::printResult("zncc_search_" + input.name, zncc, "ms", cv, cv / zncc, input.targets);
    if (described > 0) {
      bench::printResult("zncc_search_" + input.name + "_vs_described",
                         zncc,
                         "ms",
                         described,
                         described / zncc,
                         "-");
    }
  }
  if (const double rig = reporter.medianMs("zncc_rig"); rig > 0) {
    bench::printResult("zncc_search_rig_640x480", rig, "ms", "value<=2");
    if (const double alone = reporter.medianMs("zncc_rig_windows_only"); alone > 0) {
      bench::printResult("zncc_search_rig_vs_windows_only", rig, "ms", alone, alone / rig, "-");
    }
    if (const double wider = reporter.medianMs("zncc_rig_wider_when_uncertain"); wider > 0) {
      bench::printResult(
          "zncc_search_rig_wider_when_uncertain", wider, "ms", rig, rig / wider, "-");
    }
  }
  const double snap = reporter.medianMs("click_snap"), match = reporter.medianMs("click_match");
  const double subpix = reporter.medianMs("corner_subpix");
  if (snap > 0 && subpix > 0)
    bench::printResult("click_snap_time", snap, "ms", subpix, subpix / snap, "value<=1");
  if (match > 0 && subpix > 0)
    bench::printResult("click_match_time", match, "ms", subpix, subpix / match, "value<=1");
  return 0;
}
