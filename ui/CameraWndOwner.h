// The application object as the camera windows see it: the state both windows and the view
// share, and the operations the windows call.
//
// StereoApp (app/StereoApp.h) is the one implementation. It is itself the "Ball Display"
// GLWnd and owns the camera windows, while each CameraWnd calls back into it. Declaring this
// owner interface in ui/ keeps the library graph acyclic: ui/ never includes app/.
//
// Threads: everything here is used on the UI thread, except `paused`, which the camera
// windows' onFrame reads on the capture threads (under their frame lock, see CameraWnd.h), and
// invalidateView(), which any thread may call.
#pragma once

#include <atomic>
#include <vector>

#include "geometry/Matrix.h"
#include "imaging/Image.h"
#include "platform/Messages.h"
#include "ui/BallView.h"

namespace epipolar {

class CameraWnd;

// A pixel position found by the match search (pixels, y down).
struct MatchPoint {
  double x = 0.0;
  double y = 0.0;
};

class CameraWndOwner {
 public:
  CameraWndOwner() = default;
  CameraWndOwner(const CameraWndOwner&) = delete;
  CameraWndOwner& operator=(const CameraWndOwner&) = delete;
  virtual ~CameraWndOwner() = default;

  // Owned by the implementation; window (0) shows camera 0, window (1) camera 1.
  CameraWnd* cameraWnd0 = nullptr;
  CameraWnd* cameraWnd1 = nullptr;

  // Bound of the colour-match score; never changes.
  float matchThreshold = 15.0f;
  // While set, camera frames are dropped unseen: both pictures freeze.
  std::atomic<bool> paused{false};
  // The marked point pairs, in marking order.
  std::vector<Correspondence> correspondences;
  // The window (0 or 1) whose click waits for its partner in the other window; -1 when none.
  int pendingSource = -1;
  MatchPoint pendingPoint;
  // F with (x1, y1, 1) * F * (x0, y0, 1)^T = 0; all zeros until calibrated or restored.
  Matrix fundamental{3, 3};
  // True when F and the epipoles are to be used for lines and matches.
  bool calibrated = false;
  // Unit null vectors of F (one element, 0, until first computed).
  Vector epipole0;
  Vector epipole1;
  // The balls of the view, in the order they were set.
  std::vector<TrackedPoint> trackedPoints;
  // Half the side of each ball's square in the view.
  float pointSize = kInitialPointSize;
  // The correspondence that the arrow and digit keys show; may be out of range.
  int currentCorrespondence = -1;

  // Marks correspondences two clicks at a time (left clicks before calibration).
  virtual void addClick(CameraWnd* window, double x, double y) = 0;
  // Estimates F from the correspondences (key C).
  virtual void calibrate() = 0;
  // The best match in the other window's frame of (x, y) in `window`'s frame, searched along
  // the epipolar line; (0, 0) when nothing matches.
  virtual MatchPoint findMatch(CameraWnd* window, double x, double y) = 0;
  // The colour edge picture of `frame`; with `show`, shown in "Edge Display" slot `index`.
  virtual void detectEdges(const Image& frame, bool show, int index) = 0;
  // Asks for a repaint of the view. Any thread.
  virtual void invalidateView() = 0;
  // The view's own window, the owner of its boxes.
  virtual WindowHandle viewWindow() const = 0;
};

}  // namespace epipolar
