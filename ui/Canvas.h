// Drawing primitives over a 32-bit pixel buffer: translucent boxes, anti-aliased lines,
// rings and discs, and text in the fixed 6x13 font (ui/FixedFont.h).
//
// The buffer is XRGB8888 as the window surfaces hold it: one 32-bit value 0xXXRRGGBB per
// pixel in native byte order, rows top-down, `pitch` bytes from one row to the next. The top
// byte is never changed (so ARGB8888 works too).
//
// Coordinates are pixels, x to the right, y down, origin at the top-left pixel. Geometric
// shapes take double coordinates with pixel centres at whole numbers (as the picture points
// of the camera windows: the point (352, 81) is the centre of pixel column 352, row 81); text
// and boxes take whole-pixel positions of their top-left pixel.
//
// Every shape is clipped to the canvas; nothing is ever written outside it. Non-finite
// coordinates draw nothing; coordinates of any size are safe (a shape far away draws
// nothing, a long line is clipped before it is walked). An empty canvas (null pixels or a
// size of 0) draws nothing. No call fails or allocates.
//
// Colours carry an alpha: each drawn pixel becomes (colour * a * coverage + old * (255 - a *
// coverage)) / 255 per channel, coverage being 1 inside a shape and falling to 0 over its
// last pixel at the edge (anti-aliasing).
//
// Threads: a canvas belongs to one thread at a time (the UI thread for window surfaces).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace epipolar {

struct Canvas {
  std::uint8_t* pixels = nullptr;  // the top-left pixel
  int width = 0;
  int height = 0;
  std::ptrdiff_t pitch = 0;  // bytes from one row to the next

  bool empty() const { return pixels == nullptr || width <= 0 || height <= 0; }
  // The pixel's value 0xXXRRGGBB; the caller keeps (x, y) inside.
  std::uint32_t at(int x, int y) const;
};

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

// Whole-pixel rectangle: columns x .. x + width - 1, rows y .. y + height - 1.
struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Blends `colour` over the rectangle's pixels (clipped to the canvas).
void fillRect(Canvas& canvas, const PixelRect& rect, Rgba colour);
// A frame `thickness` pixels wide just inside the rectangle's border.
void frameRect(Canvas& canvas, const PixelRect& rect, Rgba colour, int thickness = 1);

// An anti-aliased line `width` pixels wide from (x0, y0) to (x1, y1) with round ends: a pixel
// is covered by clamp(width / 2 + 0.5 - d, 0, 1), d being its centre's distance from the
// segment. A zero-length segment draws a dot of diameter `width`.
void drawLine(
    Canvas& canvas, double x0, double y0, double x1, double y1, Rgba colour, double width = 2.0);
// The same line over a dark halo two pixels wider, so that it stands out on any picture.
void drawOutlinedLine(
    Canvas& canvas, double x0, double y0, double x1, double y1, Rgba colour, double width = 2.0);

// An anti-aliased ring of centre (x, y), radius `radius` (to the middle of the stroke) and
// stroke `width`.
void drawRing(Canvas& canvas, double x, double y, double radius, Rgba colour, double width = 2.0);
// An anti-aliased filled disc.
void fillDisc(Canvas& canvas, double x, double y, double radius, Rgba colour);

// The width in pixels of `text` in the fixed font (kFixedFontWidth per byte); its height is
// always kFixedFontHeight.
int textWidth(std::string_view text);
// Draws `text` with the top-left of its first cell at (x, y). Bytes without a glyph show as
// '?'. With `outline` alpha above 0 every glyph pixel's eight neighbours are first painted in
// that colour, which keeps the text readable on any picture.
void drawText(
    Canvas& canvas, int x, int y, std::string_view text, Rgba colour, Rgba outline = {0, 0, 0, 0});

}  // namespace epipolar
