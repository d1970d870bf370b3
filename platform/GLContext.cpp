// GL contexts for OpenGL windows over SDL's GL support.

#include "platform/GLContext.h"

#include <SDL.h>

#include "platform/PlatformInternal.h"

namespace epipolar {

namespace {

platform_internal::NativeWindow* glWindow(DeviceContext dc) {
  platform_internal::NativeWindow* w = platform_internal::findWindow(dc.window);
  return (w != nullptr && w->windowClass.openGL) ? w : nullptr;
}

}  // namespace

DeviceContext getDC(WindowHandle hwnd) {
  platform_internal::NativeWindow* w = platform_internal::findWindow(hwnd.id);
  if (w == nullptr || !w->windowClass.openGL) return {};
  return DeviceContext{hwnd.id};
}

GLContext createGLContext(DeviceContext dc) {
  platform_internal::NativeWindow* w = glWindow(dc);
  if (w == nullptr) return nullptr;
  SDL_GLContext context = SDL_GL_CreateContext(w->sdl);
  if (context == nullptr) platform_internal::logSdlError("SDL_GL_CreateContext failed");
  return context;
}

bool makeCurrent(DeviceContext dc, GLContext context) {
  if (context == nullptr) {
    if (!platform_internal::ensureStarted()) return false;
    return SDL_GL_MakeCurrent(nullptr, nullptr) == 0;
  }
  platform_internal::NativeWindow* w = glWindow(dc);
  // A window another client destroyed has no drawable left to bind.
  if (w == nullptr || platform_internal::windowGone(w->id)) return false;
  if (SDL_GL_MakeCurrent(w->sdl, context) != 0) {
    platform_internal::logSdlError("SDL_GL_MakeCurrent failed");
    return false;
  }
  return true;
}

bool deleteGLContext(GLContext context) {
  if (context == nullptr) return false;
  SDL_GL_DeleteContext(context);
  return true;
}

bool releaseDC(WindowHandle hwnd, DeviceContext dc) {
  return dc && dc.window == hwnd.id && glWindow(dc) != nullptr;
}

void swapBuffers(DeviceContext dc) {
  platform_internal::NativeWindow* w = glWindow(dc);
  if (w != nullptr && !platform_internal::windowGone(w->id)) SDL_GL_SwapWindow(w->sdl);
}

}  // namespace epipolar
