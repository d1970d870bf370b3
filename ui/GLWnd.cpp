#include "ui/GLWnd.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdlib>

namespace epipolar {

namespace {

[[noreturn]] void failSetup(const char* text) {
  messageBox(WindowHandle{}, text, "ERROR", MB_OK | MB_ICONEXCLAMATION);
  std::exit(-1);
}

void shutdownError(const char* text) {
  messageBox(WindowHandle{}, text, "SHUTDOWN ERROR", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

WindowClass& GLWnd::glClass() {
  static WindowClass record{"GLWnd", nullptr, true};
  return record;
}

GLWnd::GLWnd(const std::string& title, int x, int y, int width, int height) {
  glClass();
  create(glClass(), title, x, y, width, height);
  deviceContext = getDC(hwnd);
  if (!deviceContext) failSetup("Can't Create A GL Device Context.");
  glContext = createGLContext(deviceContext);
  if (glContext == nullptr) failSetup("Can't Create A GL Rendering Context.");
  if (!makeCurrent(deviceContext, glContext)) failSetup("Can't Activate The GL Rendering Context.");
  // The WM_CREATE during creation came before the context; set the projection now.
  int clientWidth = width, clientHeight = height;
  getClientSize(hwnd, clientWidth, clientHeight);
  GLWnd::resize(clientWidth, clientHeight);
  disableScreenSaver();
}

GLWnd::~GLWnd() { enableScreenSaver(); }

LRESULT GLWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: {
      auto* create = reinterpret_cast<const CreateStruct*>(lParam);
      resize(create->cx, create->cy);
      return BaseWnd::handleMessage(msg, wParam, lParam);
    }
    case WM_SIZE:
      resize(static_cast<int>(loWord(lParam)), static_cast<int>(hiWord(lParam)));
      return 0;
    case WM_PAINT:
      // Another window's GL set-up may have changed the current context since the last frame.
      makeCurrent(deviceContext, glContext);
      drawScene();
      swapBuffers(deviceContext);
      return 0;
    case WM_SYSCOMMAND:
      if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
      return BaseWnd::handleMessage(msg, wParam, lParam);
    default:
      return BaseWnd::handleMessage(msg, wParam, lParam);
  }
}

void GLWnd::releaseResources() {
  if (glContext != nullptr) {
    if (!makeCurrent(DeviceContext{}, nullptr)) shutdownError("Release Of DC And RC Failed.");
    if (!deleteGLContext(glContext)) shutdownError("Release Rendering Context Failed.");
    glContext = nullptr;
  }
  if (deviceContext) {
    if (!releaseDC(hwnd, deviceContext)) shutdownError("Release Device Context Failed.");
    deviceContext = DeviceContext{};
  }
}

void GLWnd::resize(int width, int height) {
  if (glContext == nullptr || !makeCurrent(deviceContext, glContext)) return;
  if (height == 0) height = 1;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // The near plane is the single-precision 0.1 widened to double.
  gluPerspective(45.0,
                 static_cast<double>(width) / static_cast<double>(height),
                 static_cast<double>(0.1f),
                 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

}  // namespace epipolar
