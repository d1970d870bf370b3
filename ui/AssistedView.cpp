#include "ui/AssistedView.h"

#include <cmath>
#include <cstdio>

#include "geometry/Residuals.h"
#include "ui/Overlay.h"

namespace epipolar {
namespace {

std::string pairCount(std::size_t count) {
  if (count == 0) return "no pairs";
  return std::to_string(count) + (count == 1 ? " pair" : " pairs");
}

std::string inlierText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " inlier" : " inliers");
}

std::string rmsText(double px) {
  char text[48];
  std::snprintf(text, sizeof text, ", RMS %.2f px", px);
  return text;
}

}  // namespace

int drawAssistedOverlay(Canvas& canvas, const AssistedOverlay& overlay) {
  if (overlay.line) {
    drawOutlinedLine(canvas,
                     overlay.lineFrom.x,
                     overlay.lineFrom.y,
                     overlay.lineTo.x,
                     overlay.lineTo.y,
                     kEpipolarLineColour);
  }
  const std::span<const Correspondence> pairs = overlay.pairs;
  const bool rated = !overlay.residuals.empty() && overlay.residuals.size() == pairs.size();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const int index = static_cast<int>(i);
    ImagePosition p = overlay.side == 1 ? ImagePosition{pairs[i].x1, pairs[i].y1}
                                        : ImagePosition{pairs[i].x0, pairs[i].y0};
    if (index == overlay.dragged) p = overlay.dragPoint;
    const MarkerState state = index == overlay.selected  ? MarkerState::selected
                              : index == overlay.hovered ? MarkerState::highlighted
                                                         : MarkerState::normal;
    drawMarker(canvas,
               p.x,
               p.y,
               index + 1,
               rated ? residualColour(overlay.residuals[i]) : kMarkerUnrated,
               state);
  }
  if (overlay.pending) {
    drawMarker(canvas,
               overlay.pendingPoint.x,
               overlay.pendingPoint.y,
               static_cast<int>(pairs.size()) + 1,
               kMarkerPending,
               MarkerState::pending);
  }
  if (overlay.cross) {
    // Arms with a gap, so the point itself stays in view.
    constexpr Rgba kCrossColour{255, 140, 0, 255};
    const double x = overlay.crossPoint.x;
    const double y = overlay.crossPoint.y;
    drawOutlinedLine(canvas, x - 12.0, y, x - 3.0, y, kCrossColour);
    drawOutlinedLine(canvas, x + 3.0, y, x + 12.0, y, kCrossColour);
    drawOutlinedLine(canvas, x, y - 12.0, x, y - 3.0, kCrossColour);
    drawOutlinedLine(canvas, x, y + 3.0, x, y + 12.0, kCrossColour);
  }
  const int status = drawStatusLine(canvas, overlay.status);
  if (overlay.help) drawHelpPanel(canvas, assistedHelpText());
  return status;
}

std::string statusLineText(const StatusFacts& facts) {
  std::string text = pairCount(facts.pairs);
  if (facts.pendingSource == 0 || facts.pendingSource == 1) {
    text += " (first click in (" + std::to_string(facts.pendingSource) + "), now click in (" +
            std::to_string(1 - facts.pendingSource) + "))";
  }
  text += " - ";
  if (!facts.calibrated) {
    text += facts.pairs < 8 ? "not calibrated: C needs 8 pairs" : "not calibrated: press C";
  } else if (facts.outOfDate) {
    text += "F out of date: press C";
  } else if (facts.inliers && facts.rmsPx) {
    text += (facts.method.empty() ? "" : facts.method + " ") + "F: " + inlierText(*facts.inliers) +
            rmsText(*facts.rmsPx);
  } else if (facts.residuals.empty()) {
    text += "F restored, no pairs to check it";
  } else {
    std::size_t inliers = 0;
    double sum = 0.0;
    for (double r : facts.residuals) {
      if (r < kInlierResidual) {
        ++inliers;
        sum += r * r;
      }
    }
    text += "F: " + inlierText(inliers) +
            (inliers > 0 ? rmsText(std::sqrt(sum / static_cast<double>(inliers))) : "");
  }
  if (facts.findingPairs) text += " - finding pairs (A)...";
  text += facts.helpShown ? " - H hides help" : " - H for help";
  return text;
}

std::string_view assistedHelpText() {
  return "Mouse\n"
         "  left click           before C: mark a point (one in each window makes a pair)\n"
         "                       after C: show its epipolar line in the other window\n"
         "  left press, marker   select the marker's pair (within 6 px)\n"
         "  drag a marker        move its point (the loupe shows where)\n"
         "  Shift+left click     mark a point, also after calibration\n"
         "  right click          find the match along the epipolar line\n"
         "  middle click in (0)  set a ball, orange then green\n"
         "\n"
         "Keys\n"
         "  C                    calibrate (estimate F from the pairs)\n"
         "  1 ... 9              select pair 1 ... 9 (also writes a snapshot)\n"
         "  Left, Right          select the previous or next pair\n"
         "  Delete, Backspace    delete the selected pair\n"
         "  Escape               drop the waiting first click\n"
         "  Ctrl+Z               undo a pair edit\n"
         "  Ctrl+Shift+Z, Ctrl+Y redo\n"
         "  Ctrl+S               export epipolar-session.json, epipolar-calibration.yaml\n"
         "  E                    pause and show the colour edge picture\n"
         "  P                    pause or resume both cameras\n"
         "  X                    log the colours under the two crosses\n"
         "  H                    show or hide this help\n"
         "  other keys           write the next frame to pic<id>.bmp\n"
         "\n"
         "Markers after C: green under 1 px, yellow under 3 px, red above";
}

bool assistedKeyWritesSnapshot(WPARAM key, bool ctrlHeld) {
  if (ctrlHeld) return false;
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_DELETE:
    case VK_BACK:
    case VK_ESCAPE:
    case 'A':
    case 'C':
    case 'D':
    case 'E':
    case 'H':
    case 'P':
    case 'R':
    case 'X':
      return false;
    default:
      return true;
  }
}

int pairNear(std::span<const Correspondence> pairs, int side, double x, double y, double radius) {
  int nearest = -1;
  double best = radius;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const double px = side == 1 ? pairs[i].x1 : pairs[i].x0;
    const double py = side == 1 ? pairs[i].y1 : pairs[i].y0;
    const double d = std::hypot(px - x, py - y);
    if (d < best || (d == best && nearest == -1)) {
      best = d;
      nearest = static_cast<int>(i);
    }
  }
  return nearest;
}

std::vector<double> pairResiduals(const Matrix& F, std::span<const Correspondence> pairs) {
  std::vector<double> residuals;
  if (F.rows() != 3 || F.cols() != 3) return residuals;
  Matrix3x3 f{};
  for (int i = 0; i < 9; ++i) f[static_cast<std::size_t>(i)] = F.data()[i];
  residuals.reserve(pairs.size());
  for (const Correspondence& pair : pairs) residuals.push_back(sampsonDistance(f, pair));
  return residuals;
}

}  // namespace epipolar
