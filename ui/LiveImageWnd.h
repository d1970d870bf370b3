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

  // The one place where frames change hands. Takes ownership of `newFrame`. Under
  // frameLock it asks acceptsFrames(): when that is false the frame is dropped unseen (and
  // deleted, unless it is the frame shown, which stays shown) and nothing else happens.
  // Otherwise a frame that is not the one shown is swapped in, and the previous frame is
  // deleted after the lock is released; the same frame again, or a null one, changes nothing.
  // Then the window is invalidated and frameShown() called.
  virtual void onFrame(Image* newFrame);

  // Any WM_KEYDOWN requests a snapshot from the camera, then goes on to ImageWnd handling.
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // The receiver given to Camera::start: calls onFrame of the LiveImageWnd in `context`.
  static void frameCallback(std::unique_ptr<Image> frame, void* context);

  Camera* camera;

 protected:
  // Hooks of onFrame, on the capture thread. acceptsFrames runs while frameLock is held, so
  // a reader that changes its answer and then takes and releases frameLock once knows that
  // no swap is in progress and none will start. frameShown runs after the invalidate of
  // every frame not dropped. By default every frame is accepted and nothing more is done.
  virtual bool acceptsFrames() const { return true; }
  virtual void frameShown() {}
};

}  // namespace epipolar
