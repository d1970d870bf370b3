// A frame window bound to one camera: title and size from the camera, each delivered frame
// swapped in and shown.
//
// Camera start and stop belong to the OWNER of the window, not to its constructor and
// destructor:
//   auto* wnd = new CameraWndOrSimilar(camera, x, y);   // fully constructed
//   wnd->startCamera();                                  // frames may arrive from here on
//   ...
//   wnd->stopCamera();                                   // no frame is being delivered now
//   delete wnd;
// Starting inside the constructor would let a frame reach a derived class's onFrame before
// that class is constructed, and stopping inside this destructor would let frames arrive
// after the derived part is gone; both are use-after-free races on the object and its
// vtable. The destructor still calls camera->stop() (a no-op when already stopped) as a last
// guard.
//
// Threads: onFrame() and frameCallback() run on the camera's streaming thread; everything
// else on the UI thread.
#pragma once

#include <memory>

#include "capture/Camera.h"
#include "ui/ImageWnd.h"

namespace epipolar {

class LiveImageWnd : public ImageWnd {
 public:
  // A null camera writes "Camera was NULL, what are you trying to pull here!" to the log and
  // ends the process with exit code 0. Otherwise creates the window at (x, y) with the
  // camera's device name as title and its frame size as client size. Does not start the
  // camera. quitOnDestroy stays true.
  LiveImageWnd(Camera* camera, int x, int y);
  // Stops the camera (normally already stopped by the owner), then ImageWnd destruction.
  ~LiveImageWnd() override;

  // Registers frameCallback with this window as context. Call once construction is complete.
  void startCamera();
  // Stops delivery; returns when no frame is being delivered. Call before deleting.
  void stopCamera();

  // Slot 5. Takes ownership of `newFrame`. If it is not the frame shown, swaps it in under
  // frameLock and deletes the previous frame after releasing the lock; the same frame again
  // deletes nothing. Then invalidates the window, in every case. A null frame is ignored
  // apart from the invalidate.
  virtual void onFrame(Image* newFrame);

  // Any WM_KEYDOWN requests a snapshot from the camera, then goes on to ImageWnd handling.
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // The receiver given to Camera::start: calls onFrame of the LiveImageWnd in `context`.
  static void frameCallback(std::unique_ptr<Image> frame, void* context);

  Camera* camera;
};

}  // namespace epipolar
