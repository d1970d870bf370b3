#include "ui/ImageWnd.h"

namespace epipolar {

ImageWnd::ImageWnd() = default;

ImageWnd::ImageWnd(Image* initialFrame, const std::string& title, int x, int y)
    : frame(initialFrame) {
  const int width = initialFrame != nullptr ? initialFrame->width : 1;
  const int height = initialFrame != nullptr ? initialFrame->height : 1;
  create(baseClass(), title, x, y, width, height);
  quitOnDestroy = false;
}

ImageWnd::~ImageWnd() {
  Image* held;
  {
    std::lock_guard lock(frameLock);
    held = frame;
    frame = nullptr;
  }
  delete held;
}

void ImageWnd::setFrame(Image* newFrame) {
  std::lock_guard lock(frameLock);
  frame = newFrame;
}

bool ImageWnd::paintFrame(PaintSurface& surface) {
  std::lock_guard lock(frameLock);
  if (frame == nullptr) return false;
  surface.blit(*frame);
  return true;
}

LRESULT ImageWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PaintSurface surface(hwnd);
    paintFrame(surface);
    return 0;
  }
  return BaseWnd::handleMessage(msg, wParam, lParam);
}

}  // namespace epipolar
