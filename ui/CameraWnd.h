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
//   A / R / D            --assist           automatic pairs / rectified view / disparity view
//                                           (the owner's hooks, ui/VisionViews.h); no snapshot
//   any other key                           a snapshot of the next frame (LiveImageWnd)
// Mouse positions are client pixels, x right, y down. Operations that read pixels do nothing
// for points outside the frame or without a frame.
//
// With --assist (the owner's options), also:
//   pointer motion       the loupe (ui/Overlay.h): the 41 x 41 frame pixels around the
//                        pointer magnified 4 times, in the window corner away from it, drawn
//                        on the window surface after the frame, the cross and the line, never
//                        into the frame; gone when the pointer leaves the window
//   right / middle click the owner's accurate search (sub-pixel; the cross is drawn at the
//                        nearest whole pixel)
//   left click           before calibration, the owner refines the click before it is stored
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
  // The loupe around the pointer, when the pointer is over the window and a frame is shown.
  void paintLoupe(PaintSurface& surface);
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
};

}  // namespace epipolar
