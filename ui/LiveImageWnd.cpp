#include "ui/LiveImageWnd.h"

#include <cstdlib>

#include "log/DebugStream.h"

namespace epipolar {

LiveImageWnd::LiveImageWnd(Camera* liveCamera, int x, int y) : camera(liveCamera) {
  if (camera == nullptr) {
    logLine("Camera was NULL, what are you trying to pull here!");
    std::exit(0);
  }
  const char* title = camera->deviceEntry != nullptr ? camera->deviceEntry->name : "";
  create(baseClass(), title, x, y, camera->frameWidth(), camera->frameHeight());
}

LiveImageWnd::~LiveImageWnd() {
  // Normally the owner has stopped the camera already; this keeps a forgotten stop from
  // delivering into a half-destroyed window for longer than necessary.
  camera->stop();
}

void LiveImageWnd::startCamera() { camera->start(&LiveImageWnd::frameCallback, this); }

void LiveImageWnd::stopCamera() { camera->stop(); }

void LiveImageWnd::onFrame(Image* newFrame) {
  Image* discarded = nullptr;
  bool accepted = false;
  {
    std::lock_guard lock(frameLock);
    accepted = acceptsFrames();
    if (!accepted) {
      // Dropped unseen; the frame already shown, handed in again, stays shown.
      if (newFrame != frame) discarded = newFrame;
    } else if (newFrame != nullptr && newFrame != frame) {
      discarded = frame;
      frame = newFrame;
    }
  }
  delete discarded;  // outside the lock: painting never waits for a deletion
  if (!accepted) return;
  invalidate();
  frameShown();
}

LRESULT LiveImageWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN) camera->requestSnapshot();
  return ImageWnd::handleMessage(msg, wParam, lParam);
}

void LiveImageWnd::frameCallback(std::unique_ptr<Image> frame, void* context) {
  static_cast<LiveImageWnd*>(context)->onFrame(frame.release());
}

}  // namespace epipolar
