// The camera view window: one camera's live picture, with the mouse and keys of the stereo
// workflow.
//
// Over the picture it draws, by inverting the pixels under them, a cross at `marker` (40
// pixels wide, not drawn while marker x is exactly 0) and, while `showLine` is set, the
// epipolar line `epipolarLine` clipped to the frame (a line whose ends are not finite is not
// drawn).
//
//   message              when               what it does
//   left click           not calibrated     owner addClick: one click per window makes a pair
//   left click           calibrated         marker here; "Point: " line; the point's epipolar
//                                           line shown in the other window
//   right click                             owner findMatch; the other window's marker goes
//                                           there (w = 0)
//   middle click         window (0)         sets a ball: colour, match, depth, "<x, y, d>" line,
//                                           marker in (1)
//   middle click         window (1)         box "You were supposed to click in the other window"
//   Left / Right                            step through the correspondences
//   1 .. 9                                  show correspondence k - 1, then also a snapshot
//   C / E / P / X                           calibrate / pause and edge picture / toggle pause /
//                                           log the colour comparison of the two markers
//   Ctrl+S               --assist           owner exportSession, no snapshot
//   Shift, Ctrl, Ctrl+any --assist          no snapshot (digits still show their pair)
//   any other key                           a snapshot of the next frame (LiveImageWnd)
// Mouse positions are client pixels, x right, y down. Operations that read pixels do nothing
// for points outside the frame or without a frame.
//
// With --assist (the owner's options) the window paints and edits the pairs (design.md §9):
//   paint: over the frame, on the window surface and never into the frame (ui/Overlay.h):
//     the epipolar line coloured, 2 px, outlined; every pair's point of this camera as a
//     numbered ring (numbered from 1 as the digit keys number them), coloured by its residual
//     under F once calibrated (green < 1 px, yellow < 3 px, red), the selected pair (the one
//     the arrow and digit keys show) ringed in white, the pair a press would pick thicker;
//     the waiting first click with ticks; the cross `marker` (a match, a clicked point) in
//     orange; the status line (ui/AssistedView.h); the help panel while the owner shows it;
//     the loupe (ui/Overlay.h: the 41 x 41 frame pixels magnified 4 times, in the corner away
//     from the point) around a dragged point, or else around the pointer while it is over
//     the window.
//   right / middle click                the owner's accurate search (sub-pixel)
//   left click that marks               the owner refines it before it is stored
//   left press within 6 px of a point   selects its pair (with its lines once calibrated)
//   pointer moved 3 px with it held     drags the point; released over the frame it moves
//                                       there as one edit, elsewhere it stays
//   left click elsewhere                as described; with Shift, marks a pair even after
//                                       calibration
//   Delete, Backspace / Escape          delete the selected pair / drop the waiting click
//   Ctrl+Z / Ctrl+Shift+Z, Ctrl+Y       undo / redo a pair edit (PairList history), logged
//                                       "Undo: 11 pairs now", "Redo: 12 pairs now"
//   H                                   shows or hides the help panel in both windows
//   A, R, D                             the owner's automaticPairs, showRectified,
//                                       showDisparity (ui/VisionViews.h)
//   Snapshots: only the keys assistedKeyWritesSnapshot names (never while Ctrl is held).
// Without --assist pointer motion, button release and leave messages change nothing.
//
// Frames: the base swap (LiveImageWnd::onFrame, capture thread) asks acceptsFrames(), the
// owner's `paused` negated, while holding frameLock, so a UI-thread reader may either hold
// frameLock itself or set `paused` and then take and release frameLock once
// (pauseAndSettle), after which the frame cannot change until `paused` clears.
//
// Threads: acceptsFrames and frameShown on the camera's thread; everything else on the UI
// thread. The owner starts the camera after construction and stops it before deleting the
// window (LiveImageWnd.h).
#pragma once

#include "capture/Camera.h"
#include "geometry/Matrix.h"
#include "platform/PaintSurface.h"
#include "ui/CameraWndOwner.h"
#include "ui/Canvas.h"
#include "ui/LiveImageWnd.h"

namespace epipolar {

class CameraWnd : public LiveImageWnd {
 public:
  // Window (`side`) for `camera` at (x, y) owned by `app`, side 0 or 1; zero line and marker,
  // no line shown.
  CameraWnd(CameraWndOwner* app, Camera* camera, int side, int x, int y);
  ~CameraWnd() override;

  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // 0 for window (0), 1 for window (1).
  int side() const { return side_; }
  // The other camera window (the owner's window of the other side).
  CameraWnd* otherWindow() const;

  // The epipolar line, in the other image, of `point` (x, y, w) of `window`: F * p for a
  // point of window (0), transpose(F) * p for a point of window (1).
  Vector epipolarLineFor(const Vector& point, const CameraWnd* window) const;
  // Shows `line` here: stores it divided by its norm, sets showLine and logs
  // "y0 = " -c/b ", y1 = " -(c + W a)/b, the line's heights at the left and right border.
  // The caller invalidates.
  void showEpipolarLine(const Vector& line);
  // Shows correspondence `index` in both windows with each one's epipolar line, or clears
  // both windows when the index is out of range; sets the owner's currentCorrespondence.
  void showCorrespondence(int index);

  // Sets the owner's `paused`, then takes and releases frameLock of both camera windows once:
  // from then on no frame is replaced until `paused` is cleared.
  void pauseAndSettle();
  // The frame's size, or the camera's when no frame has arrived. Takes frameLock.
  void frameSize(int& width, int& height);

  CameraWndOwner* app;
  Vector epipolarLine{3};
  bool showLine = false;
  Vector marker{3};

 protected:
  // Frames are dropped while the owner is paused.
  bool acceptsFrames() const override;
  // Each frame not dropped also asks the owner to repaint the view.
  void frameShown() override;

 private:
  void paint();
  // The assisted paint: the frame and the overlays listed above.
  void paintAssisted(PaintSurface& surface);
  // The described key actions; true when the key also asks for a snapshot (digits and keys
  // without a command).
  bool describedKey(WPARAM key);
  // The assisted key commands, then the described ones; false when the key takes no snapshot.
  bool assistedKey(WPARAM key);
  void leftPress(WPARAM flags, double x, double y);
  void pointerMoved(WPARAM flags);
  void leftRelease(double x, double y);
  // Selects pair `index` as the digit keys do; before calibration without lines.
  void selectPair(int index);
  // After a change of the pairs: the shown pair again (its lines may have moved), or nothing
  // shown when it is gone; both windows repaint.
  void pairsChanged();
  // Repaints both camera windows.
  void invalidateBoth();
  // The loupe of the frame around (x, y), placed away from it and above the bottom
  // `bottomReserve` rows.
  void paintLoupe(Canvas& canvas, double x, double y, int bottomReserve);
  // True when this frame holds (x, y) and the other window holds a frame.
  bool canSearchFrom(double x, double y);
  void leftClickCalibrated(double x, double y);
  void rightClick(double x, double y);
  void setBall(double x, double y);
  void compareColours();
  // E: pauses both cameras and shows this window's edge picture; without a frame, nothing.
  void showEdges();

  const int side_;
  // The pointer's last position over the window, while pointerInside_ (--assist only).
  bool pointerInside_ = false;
  double pointerX_ = 0.0;
  double pointerY_ = 0.0;
  // A left press on a marker: its pair, where the press was, and once the pointer has moved
  // kDragStart the drag with the point at dragX_, dragY_ (the press's offset from the point
  // kept).
  int pressIndex_ = -1;
  double pressX_ = 0.0;
  double pressY_ = 0.0;
  bool dragging_ = false;
  double grabDx_ = 0.0;
  double grabDy_ = 0.0;
  double dragX_ = 0.0;
  double dragY_ = 0.0;
};

}  // namespace epipolar
