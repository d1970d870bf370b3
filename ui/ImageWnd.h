// A window that shows one 24-bit frame, unscaled, at the top-left corner of its client area.
//
// `frame` (owned, may be null) is replaced from capture threads while the UI thread paints,
// so `frameLock` guards it: writers swap the pointer under the lock and every reader uses the
// frame only while holding the lock (or while frames are kept from being replaced). A
// replaced frame is deleted after the lock is released.
//
// The window's client size is the frame size given at creation, so the whole frame is
// visible. Until the first frame the window shows white.
//
// Threads: setFrame() from any thread; painting and message handling on the UI thread.
#pragma once

#include <mutex>
#include <string>

#include "imaging/Image.h"
#include "platform/PaintSurface.h"
#include "ui/BaseWnd.h"

namespace epipolar {

class ImageWnd : public BaseWnd {
 public:
  // No frame and no native window; a derived class creates the window.
  ImageWnd();
  // Takes ownership of `frame` (which may be null: the window is then 1 x 1 and blank),
  // creates a window of the frame's size at (x, y) with the given title, and clears
  // quitOnDestroy: closing this window leaves the program running.
  ImageWnd(Image* frame, const std::string& title, int x, int y);
  // Deletes the frame held, then BaseWnd destruction.
  ~ImageWnd() override;

  // Stores `newFrame` under frameLock. Does not delete the previous frame: the caller owns
  // whatever it replaced (see LiveImageWnd::onFrame).
  void setFrame(Image* newFrame);
  // Blits the current frame under frameLock. Returns false, drawing nothing, without a frame.
  bool paintFrame(PaintSurface& surface);

  // WM_PAINT: paints the frame (if any), returns 0. Everything else: BaseWnd.
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  Image* frame = nullptr;
  std::mutex frameLock;
};

}  // namespace epipolar
