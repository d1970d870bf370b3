// OpenGL contexts for windows of an OpenGL window class.
//
// The set-up runs in steps, so a caller can tell which one failed: get the window's device
// context, create the context, make it current. Every context is double-buffered RGBA (8 bits
// a channel), with a depth buffer of at least 16 bits and the compatibility profile (GL 1.1
// calls and GLU work): the attributes the platform requests from SDL when it starts. GL headers are
// not included here; callers include <GL/gl.h> and <GL/glu.h> themselves.
//
// Make the context current before each frame of GL work (makeCurrent): other windows' set-up
// can change the current context.
//
// Threads: UI thread only. Failures are reported by the results below (the SDL error is
// logged) and never throw.
#pragma once

#include "platform/Messages.h"

namespace epipolar {

// Names the drawable of one window; null when set-up has no window to draw to.
struct DeviceContext {
  std::uint32_t window = 0;  // the WindowHandle id
  explicit operator bool() const { return window != 0; }
  bool operator==(const DeviceContext&) const = default;
};

// An SDL GL context; null when none.
using GLContext = void*;

// The drawable of a live OpenGL window; null for a dead handle or a window whose class is not
// an OpenGL class.
DeviceContext getDC(WindowHandle hwnd);
// A new context for the drawable (it becomes current), or null on failure.
GLContext createGLContext(DeviceContext dc);
// Makes the context current on the drawable; with a null context, makes no context current.
// False on failure (dead drawable, one another X client destroyed, foreign context).
bool makeCurrent(DeviceContext dc, GLContext context);
// Deletes a context made by createGLContext. False for null.
bool deleteGLContext(GLContext context);
// Gives back the drawable; false if it does not belong to the window.
bool releaseDC(WindowHandle hwnd, DeviceContext dc);
// Shows the back buffer of the drawable. Does nothing for a dead or destroyed drawable.
void swapBuffers(DeviceContext dc);

}  // namespace epipolar
