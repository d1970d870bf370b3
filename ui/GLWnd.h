// The base of the OpenGL view: a window of class "GLWnd" with a double-buffered RGBA context
// (depth >= 16 bits), a perspective projection that follows the window size, and a paint
// handler that draws through drawScene() and swaps the buffers.
//
// Construction creates the window and its context and makes the context current. If a step
// fails, a box (caption "ERROR", MB_OK | MB_ICONEXCLAMATION) says which:
//   "Can't Create A GL Device Context.", "Can't Create A GL Rendering Context.",
//   "Can't Activate The GL Rendering Context."
// and the process ends with exit code -1. There is no pixel-format step: the context has the
// platform's one GL configuration (platform/GLContext.h). The screen saver and display power
// saving stay off while a GLWnd exists.
//
// The context is made current again before every resize and every paint, so other windows'
// GL set-up cannot redirect this window's drawing. The context lives until releaseResources()
// or process end; the destructor does not release it.
//
// Threads: UI thread only; other threads ask for a repaint with invalidate().
#pragma once

#include <string>

#include "platform/GLContext.h"
#include "ui/BaseWnd.h"

namespace epipolar {

class GLWnd : public BaseWnd {
 public:
  GLWnd(const std::string& title, int x, int y, int width, int height);
  // BaseWnd destruction only (no releaseResources()); lets the screen saver run again.
  ~GLWnd() override;

  // WM_CREATE: resize(cx, cy) of the CreateStruct, then BaseWnd handling.
  // WM_SIZE: resize(low word, high word) of lParam; returns 0.
  // WM_PAINT: make current, drawScene(), swap buffers; returns 0.
  // WM_SYSCOMMAND with wParam exactly SC_SCREENSAVE or SC_MONITORPOWER: returns 0 without the
  //   default handling, so neither starts. Any other wParam: BaseWnd handling.
  // Anything else: BaseWnd handling.
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Releases the context and the device context. Each failure shows a box (caption
  // "SHUTDOWN ERROR", MB_OK | MB_ICONINFORMATION: "Release Of DC And RC Failed.",
  // "Release Rendering Context Failed.", "Release Device Context Failed.") and the release
  // goes on.
  void releaseResources() override;

  // The derived class renders one frame here (context current, back buffer).
  virtual void drawScene() = 0;
  // Viewport to (0, 0, width, height), height 0 taken as 1; projection
  // gluPerspective(45, width / height, 0.1f widened to double, 100); modelview identity.
  // Before the context exists (the WM_CREATE during construction) it does nothing; the
  // constructor applies the client size once the context is current.
  virtual void resize(int width, int height);

  // The "GLWnd" class record, filled on first use.
  static WindowClass& glClass();

  GLContext glContext = nullptr;
  DeviceContext deviceContext;
};

}  // namespace epipolar
