// The text and rules of the assisted camera windows (--assist) that need no window: the
// status line, the help panel, which keys write a snapshot, which marker a press picks, and
// the residual of each pair under F. CameraWnd draws and acts on them (ui/CameraWnd.h).
//
// Units: pixels, origin top-left, y down; F row-major with x1^T F x0 = 0, (x0, y0) in
// camera (0). Threads: pure functions, any thread. Nothing here fails.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/ImagePosition.h"
#include "geometry/Matrix.h"
#include "platform/Messages.h"
#include "ui/Canvas.h"

namespace epipolar {

// A press this close to a marked point (pixels) selects its pair instead of clicking.
inline constexpr double kSelectRadius = 6.0;
// A press on a marker turns into a drag once the pointer has moved this far (pixels).
inline constexpr double kDragStart = 3.0;
// Pairs whose residual is under this many pixels count as inliers on the status line.
inline constexpr double kInlierResidual = 3.0;

// What the status line reports.
struct StatusFacts {
  std::size_t pairs = 0;
  int pendingSource = -1;  // the window whose first click waits, -1 for none
  bool calibrated = false;
  bool outOfDate = false;         // the pairs changed since F was fitted
  std::vector<double> residuals;  // per pair under F, pixels (when calibrated)
  bool helpShown = false;
  bool findingPairs = false;  // an automatic pairs search (A) is running
  // What the estimator that gave F reported, when it did: its name ("accurate"), its inliers
  // and their RMS Sampson distance. Without them the line counts the pairs whose residual
  // lies under kInlierResidual.
  std::string method;
  std::optional<std::size_t> inliers;
  std::optional<double> rmsPx;
};

// What an assisted camera window draws over its frame.
struct AssistedOverlay {
  int side = 0;                           // this window's camera
  std::span<const Correspondence> pairs;  // every marked pair
  std::span<const double> residuals;      // per pair, or empty before calibration
  int selected = -1;                      // the selected pair, or out of range
  int hovered = -1;                       // the pair a press would pick, or -1
  int dragged = -1;                       // the pair whose point is dragged, or -1
  ImagePosition dragPoint;                // where the dragged point is now
  bool pending = false;                   // a first click of this window waits
  ImagePosition pendingPoint;
  bool line = false;  // the epipolar line, from `lineFrom` to `lineTo`
  ImagePosition lineFrom, lineTo;
  bool cross = false;  // a match or clicked point
  ImagePosition crossPoint;
  std::string_view status;  // the status line's text
  bool help = false;        // the help panel
};

// Draws `overlay` in the documented paint order (ui/Overlay.h): the line, the markers, the
// waiting click, the cross, the status line, the help panel. Returns the status line's height.
int drawAssistedOverlay(Canvas& canvas, const AssistedOverlay& overlay);

// The status line, e.g. "12 pairs - accurate F: 11 inliers, RMS 0.42 px - H for help": the
// pairs, the first click waiting, the state of F (not yet estimated, out of date, or its
// inliers and their root mean square residual), an automatic pairs search still running, and
// the key of the help panel.
std::string statusLineText(const StatusFacts& facts);

// The help panel: every mouse action and key of the assisted camera windows, one per line.
std::string_view assistedHelpText();

// Whether key `key` pressed in an assisted camera window writes a snapshot: not while Ctrl is
// held, not for Shift or Ctrl themselves, not for the keys that are commands (C, E, P, X,
// Left, Right, and the assisted H, A, R, D, Delete, Backspace, Escape); the digits and every
// other key do, Z, Y and S without Ctrl included.
bool assistedKeyWritesSnapshot(WPARAM key, bool ctrlHeld);

// The index of the pair whose point in camera `side` (1 for camera 1, anything else camera
// 0) is nearest to (x, y) and within `radius`, the first marked among equally near ones; -1
// when none is.
int pairNear(std::span<const Correspondence> pairs, int side, double x, double y, double radius);

// The Sampson distance of each pair under F (geometry/Residuals.h), in pixels; infinite for
// a pair at an epipole. An F that is not 3 x 3 gives an empty list.
std::vector<double> pairResiduals(const Matrix& F, std::span<const Correspondence> pairs);

}  // namespace epipolar
