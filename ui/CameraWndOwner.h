// The application object as the camera windows see it: the state both windows and the view
// share, each part behind the operations that keep it whole, and the operations the windows
// call.
//
// StereoApp (app/StereoApp.h) is the one implementation. It is itself the "Ball Display"
// GLWnd and owns the camera windows, while each CameraWnd calls back into it. Declaring this
// owner in ui/ keeps the library graph acyclic: ui/ never includes app/.
//
// The shared state, in groups that each have one owner here:
//   pairs()        the marked pairs, the click waiting for its partner, the pair shown;
//   calibration()  F, its epipoles and the `calibrated` flag;
//   balls()        the balls of the view and their size;
//   paused()       whether camera frames are dropped unseen;
//   options()      what the command line chose, fixed for the run;
//   helpShown()    whether the camera windows show the help panel (--assist, key H);
//   calibrationOutOfDate()  whether the pairs changed since F was last fitted to them.
// Windows change them only through the groups' operations and the operations below.
//
// Threads: everything here is used on the UI thread, except paused(), which the camera
// windows read on the capture threads (under their frame lock, see CameraWnd.h), options(),
// and invalidateView(), which any thread may call.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "geometry/Correspondence.h"
#include "geometry/ImagePosition.h"
#include "geometry/MatchSearch.h"
#include "imaging/Image.h"
#include "platform/Messages.h"
#include "ui/BallView.h"
#include "ui/Options.h"
#include "ui/PairList.h"
#include "ui/StereoCalibration.h"

namespace epipolar {

class CameraWnd;

class CameraWndOwner {
 public:
  explicit CameraWndOwner(const Options& options) : options_(options) {}
  CameraWndOwner(const CameraWndOwner&) = delete;
  CameraWndOwner& operator=(const CameraWndOwner&) = delete;
  virtual ~CameraWndOwner() = default;

  // Bound of the colour-match score; never changes.
  static constexpr float matchThreshold = kMatchThreshold;

  const Options& options() const { return options_; }
  PairList& pairs() { return pairs_; }
  const PairList& pairs() const { return pairs_; }
  StereoCalibration& calibration() { return calibration_; }
  const StereoCalibration& calibration() const { return calibration_; }
  BallSet& balls() { return balls_; }
  const BallSet& balls() const { return balls_; }

  // While set, camera frames are dropped unseen: both pictures freeze.
  bool paused() const { return paused_.load(); }
  void setPaused(bool paused) { paused_.store(paused); }
  // Key P of any of the three windows.
  void togglePaused() { paused_.store(!paused_.load()); }

  // Key H of the assisted mode, shared by both camera windows.
  bool helpShown() const { return helpShown_; }
  void toggleHelp() { helpShown_ = !helpShown_; }

  // Records that F now belongs to the pairs as they are (after a calibration, or after the
  // start's restores). From then on a calibrated F is out of date while the pairs differ from
  // those (undoing back to them makes it current again).
  void markFitted() { fittedState_ = pairs_.state(); }
  bool calibrationOutOfDate() const {
    return calibration_.calibrated() && pairs_.state() != fittedState_;
  }

  // Camera window (0) or (1), the one place that says which window is which; null before
  // that window exists and after it is gone.
  virtual CameraWnd* cameraWindow(int side) const = 0;

  // Marks correspondences two clicks at a time (left clicks before calibration); with
  // --assist each click is refined first (app/StereoApp.h).
  virtual void addClick(CameraWnd* window, double x, double y) = 0;
  // A bulk addition (the --pairs file, a redo of many pairs, the automatic pairs): appends
  // `pairs` as one step, logs one summary line, "Added 24 pairs from <origin> (30 in all)",
  // followed by "; <note>" unless the note is empty, and shows no box (the per-click line and the
  // "Calibration ready" box are for clicks).
  virtual void addPairs(std::span<const Correspondence> pairs,
                        const std::string& origin,
                        const std::string& note) = 0;
  // Ctrl+S of the assisted mode: writes the session files (app/SessionExport.h) and logs
  // what was written.
  virtual void exportSession() = 0;
  // Estimates F from the correspondences (key C): with the described estimator, or with the
  // accurate one when options().assist is set.
  virtual void calibrate() = 0;
  // Keys A (automatic pairs), R (rectified view) and D (disparity view) of the assisted mode.
  // The camera windows route the keys here and write no snapshot for them; without an
  // implementation the keys do nothing.
  virtual void automaticPairs() {}
  virtual void showRectified() {}
  virtual void showDisparity() {}
  // Whether an automatic pairs search (A) is still running; the status line says so.
  virtual bool findingPairs() const { return false; }
  // Called on a capture thread after each camera frame shown, for views that follow the live
  // frames. Nothing by default.
  virtual void cameraFrameShown() {}
  // The best match in the other window's frame of (x, y) in `window`'s frame, searched along
  // the epipolar line; (0, 0) when nothing matches. With --assist the accurate search's
  // sub-pixel match, uncertain or not (its log line says which).
  virtual ImagePosition findMatch(CameraWnd* window, double x, double y) = 0;
  // The colour edge picture of `frame`; with `show`, shown in "Edge Display" slot `index`.
  virtual void detectEdges(const Image& frame, bool show, int index) = 0;
  // Asks for a repaint of the view. Any thread.
  virtual void invalidateView() = 0;
  // The view's own window, the owner of its boxes.
  virtual WindowHandle viewWindow() const = 0;

 private:
  const Options options_;
  PairList pairs_;
  StereoCalibration calibration_;
  BallSet balls_;
  std::atomic<bool> paused_{false};
  bool helpShown_ = false;
  std::uint64_t fittedState_ = 0;
};

}  // namespace epipolar
