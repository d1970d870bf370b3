// Keys A, R and D of the assisted mode: automatic pairs from the two current frames, the
// "Rectified Display" and the "Disparity Display".
//
//   A  copies both frames and searches them for automatic pairs (vision/AutomaticPairs.h) on
//      a thread of its own, logging "Automatic pairs: searching ..." at once; when the search
//      is done it posts kAutomaticPairsDone to the owner's view window, whose handler calls
//      finishAutomaticPairs(): the verified pairs not already marked (both points within
//      1 px of a marked pair's) are appended as one bulk step and
//      "Automatic pairs: K added from M matches in T ms" is logged (or why none were). A
//      while a search runs, or without a frame in both windows, logs why and does nothing.
//   R  rectifies (vision/Rectification.h) from F and its inlier pairs: the last accurate
//      calibration's inlier flags when they belong to the pairs as they are, else the pairs
//      within 1 px (Sampson) of F. Refused with a log line "Rectified view: " reason when
//      there is no F, no frame or F cannot be rectified. Otherwise a "Rectified Display"
//      window shows both rectified frames side by side, (0) left, with horizontal guide lines
//      every kGuideSpacing rows, live; scaled down to fit the screen (shownScale).
//   D  after R: a "Disparity Display" window shows the semi-global matching of the live
//      frames (vision/Disparity.h) at the rectified view's size, colour-mapped, invalid
//      pixels black.
// The live windows render on worker threads that take only the newest frame pair
// (LatestPairWorker.h): the UI thread never waits for a render. Closing a live window stops
// its worker; pressing the key again opens a fresh one.
//
// Units: pixels, origin top-left, y down; F row-major, (x1, y1, 1) F (x0, y0, 1)^T = 0.
// Threads: everything on the UI thread except frameShown(), which the capture threads call
// after each frame shown. The destructor stops the live workers and waits for a running
// search; the owner stops its cameras first.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Messages.h"
#include "ui/CameraWndOwner.h"
#include "ui/ImageWnd.h"
#include "ui/LatestPairWorker.h"
#include "vision/AutomaticPairs.h"
#include "vision/Rectification.h"

namespace epipolar {

// Posted to the owner's view window when an automatic pairs search has finished.
inline constexpr UINT kAutomaticPairsDone = WM_USER + 17;
inline constexpr int kGuideSpacing = 32;

// A window showing what a LatestPairWorker renders from the live frames.
class LiveViewWnd : public ImageWnd {
 public:
  // A black width x height window titled `title` at (x, y), shown, with its worker running.
  LiveViewWnd(const std::string& title,
              int x,
              int y,
              int width,
              int height,
              LatestPairWorker::Render render);
  // Stops the worker before the window goes.
  ~LiveViewWnd() override;

  // Hands a frame pair to the worker (any thread; ignored once closed).
  void submit(std::unique_ptr<Image> frame0, std::unique_ptr<Image> frame1);
  LatestPairWorker::Counts counts() const { return worker_->counts(); }
  // False once the user closed the window (its worker is then stopped).
  bool open() const { return open_.load(); }

  // WM_DESTROY (the user's close) stops the worker; everything else: ImageWnd.
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void showPicture(std::unique_ptr<Image> picture);

  WindowHandle handle_;  // hwnd as created, for the worker thread
  std::atomic<bool> open_{true};
  std::unique_ptr<LatestPairWorker> worker_;
};

class VisionViews {
 public:
  explicit VisionViews(CameraWndOwner& owner);
  ~VisionViews();
  VisionViews(const VisionViews&) = delete;
  VisionViews& operator=(const VisionViews&) = delete;

  void startAutomaticPairs();   // A
  void finishAutomaticPairs();  // the kAutomaticPairsDone message
  bool searching() const { return search_.joinable(); }
  void showRectified();  // R
  void showDisparity();  // D
  void frameShown();     // capture threads

  // The rectification of the last R that succeeded, and as the views show it.
  const std::optional<Rectification>& rectification() const { return rectification_; }
  const Rectification& shown() const { return shown_; }
  LiveViewWnd* rectifiedWindow() const { return rectifiedWnd_.get(); }
  LiveViewWnd* disparityWindow() const { return disparityWnd_.get(); }

 private:
  // Copies of both windows' current frames; false (nothing copied) unless both hold one.
  bool copyFrames(std::unique_ptr<Image>& frame0, std::unique_ptr<Image>& frame1) const;
  // Asks both camera windows for a repaint (their pairs or status lines changed).
  void repaintCameraWindows() const;

  CameraWndOwner& owner_;
  std::thread search_;
  AutomaticPairsResult found_;  // written by search_, read after joining it
  std::optional<Rectification> rectification_;
  Rectification shown_;
  PictureSize size0_;
  PictureSize size1_;
  std::mutex liveMutex_;  // guards the two window pointers against frameShown()
  std::unique_ptr<LiveViewWnd> rectifiedWnd_;
  std::unique_ptr<LiveViewWnd> disparityWnd_;
};

// `r` scaled down (rows kept rows) so that both pictures side by side fit the screen; `r`
// itself when it fits.
Rectification shownScale(const Rectification& r);

// Both rectified frames side by side (frame 0 left) with guide rows every kGuideSpacing
// pixels; nullptr when a frame is not of its warp's size.
std::unique_ptr<Image> sideBySide(const RectifyingWarp& warp0,
                                  const RectifyingWarp& warp1,
                                  const Image& frame0,
                                  const Image& frame1);

}  // namespace epipolar
