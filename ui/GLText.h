// Text in an OpenGL view ("Ball Display"): the fixed 6x13 font (ui/FixedFont.h) as one
// texture, drawn at a window position or at the projection of a 3D point, such as a ball's
// number. OpenGL 1.1 calls only (the compatibility profile of Mesa).
//
// The font is a 128 x 128 GL_ALPHA texture, 16 glyph cells a row, sampled GL_NEAREST, and
// glyphs are drawn on whole pixels with one texel to `scale` x `scale` pixels, so the text has
// exactly the font's pixels, as on the camera windows. Text is drawn without depth test over
// whatever is there, blended by its colour's alpha.
//
// Usage in a GLWnd's drawScene (context current, after the scene):
//   for each ball k: text.drawAt(X, Y, Z, std::to_string(k), kTextColour, kPanelBackground);
// and before GLWnd::releaseResources, text.release() with the context still current.
//
// Window positions are pixels of the current viewport, origin top-left, y down. Every draw
// call restores what it changes: matrices, enables, blend function, texture binding, pixel
// unpacking and the current colour.
//
// Failure: if no texture can be made, nothing is drawn (and the next call tries again).
// Threads: the thread whose GL context is current (the UI thread).
#pragma once

#include <string_view>

#include "ui/Canvas.h"

namespace epipolar {

class GLText {
 public:
  GLText() = default;
  GLText(const GLText&) = delete;
  GLText& operator=(const GLText&) = delete;
  // Leaves the texture to its context (deleted with it); see release().
  ~GLText() = default;

  // Makes the font texture in the current context unless it exists; true when it does.
  bool upload();
  // Deletes the texture from the current context (the one upload() used) and forgets it.
  void release();

  // `text` with the top-left of its first cell at viewport pixel (x, y), over a box of
  // `background` with two pixels of padding (no box when its alpha is 0).
  void drawScreen(int x,
                  int y,
                  std::string_view text,
                  Rgba colour,
                  Rgba background = {0, 0, 0, 0},
                  int scale = 1);
  // `text` centred on where the current modelview, projection and viewport put (X, Y, Z).
  // Nothing for a point that is not finite, behind the eye, or outside the depth range.
  void drawAt(double X,
              double Y,
              double Z,
              std::string_view text,
              Rgba colour,
              Rgba background = {0, 0, 0, 0},
              int scale = 1);

 private:
  unsigned texture = 0;  // GL name; 0 before upload()
};

}  // namespace epipolar
