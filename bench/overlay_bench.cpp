// What the assisted mode's overlays add to the paint of a camera window. The baseline is the
// bare paint of a 640x480 frame: PaintSurface, blit, present, as every frame is shown (SDL
// offscreen driver, so no display is touched). The candidates draw over the same paint:
//   busy view  an outlined epipolar line across the picture, 30 numbered markers (one
//              selected, one highlighted, one pending), the status line and the loupe;
//   with help  the same and the help panel.
// Figures (bench/README.md): the busy view's paint over the bare paint, and the time it adds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "BenchReport.h"
#include "platform/PaintSurface.h"
#include "platform/Platform.h"
#include "ui/Overlay.h"

namespace epipolar {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

LRESULT quietProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return defWindowProc(hwnd, msg, wParam, lParam);
}

std::unique_ptr<Image> texturedFrame() {
  auto frame = Image::blank(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = frame->row(y);
    for (int x = 0; x < kWidth; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 7 + y);
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 3);
      row[3 * x + 2] = static_cast<std::uint8_t>((x ^ y) * 5);
    }
  }
  return frame;
}

const char* const kHelp =
    "Mouse\n"
    "  left click      mark a pair (Shift after calibration)\n"
    "  drag a marker   move that point\n"
    "  right click     search the match along the epipolar line\n"
    "Keys\n"
    "  C               calibrate\n"
    "  Delete          remove the selected pair\n"
    "  Escape          drop the first click of a pair\n"
    "  Ctrl+Z, Ctrl+Y  undo, redo\n"
    "  Ctrl+S          export the session\n"
    "  H               show or hide this help";

void drawBusyView(Canvas& canvas, const Image& frame) {
  drawOutlinedLine(canvas, 0.0, 117.3, 639.0, 301.8, kEpipolarLineColour);
  for (int k = 1; k <= 30; ++k) {
    const double x = 20.0 + (k * 97) % 600, y = 20.0 + (k * 61) % 420;
    const MarkerState state = k == 4    ? MarkerState::selected
                              : k == 9  ? MarkerState::highlighted
                              : k == 30 ? MarkerState::pending
                                        : MarkerState::normal;
    drawMarker(canvas, x, y, k, residualColour(0.1 * k), state);
  }
  const int status =
      drawStatusLine(canvas, "30 pairs - accurate F: 28 inliers, RMS 0.42 px - H for help");
  drawLoupe(canvas, frame, 150.4, 120.7, loupePlace(canvas, 150.4, 120.7, status));
}

template <int kOverlays>
void BM_Paint(benchmark::State& state) {
  registerClass(WindowClass{"Bench", &quietProc, false});
  const WindowHandle hwnd = createWindow("Bench", "(0)", 0, 0, kWidth, kHeight, nullptr);
  if (!hwnd) {
    state.SkipWithError("no window (SDL offscreen driver)");
    return;
  }
  const auto frame = texturedFrame();
  for (auto _ : state) {
    PaintSurface surface(hwnd);
    surface.blit(*frame);
    if (kOverlays > 0) {
      Canvas canvas = canvasOf(surface);
      drawBusyView(canvas, *frame);
      if (kOverlays > 1) drawHelpPanel(canvas, kHelp);
    }
  }
  destroyWindow(hwnd);
}

void settings(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_Paint<0>)->Name("BM_PaintBare")->Apply(settings);
BENCHMARK(BM_Paint<1>)->Name("BM_PaintBusyView")->Apply(settings);
BENCHMARK(BM_Paint<2>)->Name("BM_PaintBusyViewWithHelp")->Apply(settings);

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  // The window is painted in memory: no display is needed or touched.
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  epipolar::bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  epipolar::shutdownPlatform();

  const double bare = reporter.medianMs("BM_PaintBare") * 1e3;
  if (bare <= 0) return 0;  // filtered out on the command line
  // Overheads over the bare paint, so value / baseline.
  for (const auto& [figure, name] :
       {std::pair{"overlay_paint_640x480", "BM_PaintBusyView"},
        std::pair{"overlay_paint_help_640x480", "BM_PaintBusyViewWithHelp"}}) {
    const double value = reporter.medianMs(name) * 1e3;
    if (value > 0) epipolar::bench::printResult(figure, value, "us", bare, value / bare, "-");
  }
  return 0;
}
