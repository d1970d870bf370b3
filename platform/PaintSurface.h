// Painting a non-GL window: the frame blit, inverted lines, and the pixels for overlays.
//
// A PaintSurface is opened by a WM_PAINT handler on its window and shows what was drawn when
// it is destroyed (or on present()). Drawing goes to the window's own pixel surface, whose
// size is the window's client size; a new or resized surface starts white.
//
// Coordinates are pixels, x to the right, y down, (0, 0) the top-left client pixel.
// Everything is clipped to the surface; drawing never fails. On a dead handle or an OpenGL
// window the surface is not valid and every call does nothing.
//
// Threads: UI thread only.
#pragma once

#include <cstdint>

#include "imaging/Image.h"
#include "platform/Messages.h"

namespace epipolar {

// The pixels of a window surface: one 32-bit value 0xXXRRGGBB per pixel in native byte order
// (XRGB8888 or ARGB8888), rows top-down, `pitch` bytes apart. `data` is null when there are
// none to draw on.
struct SurfacePixels {
  std::uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int pitch = 0;
};

class PaintSurface {
 public:
  explicit PaintSurface(WindowHandle hwnd);
  ~PaintSurface();
  PaintSurface(const PaintSurface&) = delete;
  PaintSurface& operator=(const PaintSurface&) = delete;

  bool valid() const { return surface != nullptr; }
  int width() const;
  int height() const;

  // Copies the picture unscaled with its top-left pixel at (0, 0). Its rows are bottom-up
  // 24-bit BGR with the padded BMP stride; parts outside the surface are cut off.
  void blit(const Image& image);

  // Inverts the colour of every pixel of the line from (x0, y0) to (x1, y1), each coordinate
  // truncated toward zero. As with an inverting pen moved to the start and drawn to the end,
  // the end pixel itself is not drawn (so a line of length 0 draws nothing, and where the
  // two strokes of a cross meet the pixel is inverted twice). A line with a non-finite end
  // point draws nothing. Pixels follow the Bresenham line between the truncated points.
  void invertLine(double x0, double y0, double x1, double y1);

  // The surface's pixels, for drawing over the frame after blit() (ui/Canvas.h); valid until
  // this PaintSurface is destroyed, and shown with everything else by present(). Empty when
  // the surface is not valid or its pixels are not 32-bit XRGB (X11 and the offscreen driver
  // give XRGB8888; a 16-bit display would not), in which case callers draw no overlays.
  SurfacePixels pixels();

  // Shows what has been drawn so far; also done by the destructor.
  void present();

 private:
  WindowHandle window;
  void* surface = nullptr;  // SDL_Surface
};

// Reads one pixel of the window surface as it was last presented (r, g, b). Returns false for
// a dead handle, an OpenGL window or a point outside the surface. For checks and tests.
bool readSurfacePixel(
    WindowHandle hwnd, int x, int y, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b);

}  // namespace epipolar
