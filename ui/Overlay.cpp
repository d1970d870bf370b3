#include "ui/Overlay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "ui/FixedFont.h"

namespace epipolar {

namespace {

constexpr Rgba kHalo{0, 0, 0, 150};
constexpr Rgba kTextOutline{0, 0, 0, 200};
constexpr Rgba kLoupeCrosshair{255, 255, 255, 255};
constexpr int kPadding = 2;        // around the text of a label
constexpr int kPanelPadding = 10;  // around the text of the help panel
constexpr int kLineSpacing = kFixedFontHeight + 2;

// The part of `canvas` inside `rect`, with its own origin at the rect's top-left pixel; empty
// when they do not meet.
Canvas within(const Canvas& canvas, const PixelRect& rect) {
  if (canvas.empty()) return {};
  const long long x0 = std::max<long long>(rect.x, 0);
  const long long y0 = std::max<long long>(rect.y, 0);
  const long long x1 =
      std::min<long long>(static_cast<long long>(rect.x) + rect.width, canvas.width);
  const long long y1 =
      std::min<long long>(static_cast<long long>(rect.y) + rect.height, canvas.height);
  if (x0 >= x1 || y0 >= y1) return {};
  Canvas part;
  part.pixels = canvas.pixels + y0 * canvas.pitch + x0 * 4;
  part.width = static_cast<int>(x1 - x0);
  part.height = static_cast<int>(y1 - y0);
  part.pitch = canvas.pitch;
  return part;
}

}  // namespace

Canvas canvasOf(PaintSurface& surface) {
  const SurfacePixels pixels = surface.pixels();
  if (pixels.data == nullptr) return {};
  return Canvas{pixels.data, pixels.width, pixels.height, pixels.pitch};
}

Rgba residualColour(double pixels) {
  if (pixels < 1.0) return kResidualGood;
  if (pixels < 3.0) return kResidualFair;
  return kResidualBad;
}

void drawMarker(Canvas& canvas, double x, double y, int number, Rgba colour, MarkerState state) {
  // Everything of a marker lies within this distance of its point.
  constexpr double kExtent = 64.0;
  if (canvas.empty() || !std::isfinite(x) || !std::isfinite(y)) return;
  if (x < -kExtent || y < -kExtent || x > canvas.width + kExtent || y > canvas.height + kExtent) {
    return;
  }
  const double r = kMarkerRadius;
  switch (state) {
    case MarkerState::normal:
      drawRing(canvas, x, y, r, kHalo, 4.0);
      drawRing(canvas, x, y, r, colour, 2.0);
      break;
    case MarkerState::highlighted:
      drawRing(canvas, x, y, r + 4.0, Rgba{255, 255, 255, 110}, 2.0);
      drawRing(canvas, x, y, r, kHalo, 5.0);
      drawRing(canvas, x, y, r, colour, 3.0);
      break;
    case MarkerState::selected:
      drawRing(canvas, x, y, r + 4.0, kHalo, 6.0);
      drawRing(canvas, x, y, r + 4.5, Rgba{255, 255, 255, 255}, 2.0);
      drawRing(canvas, x, y, r, colour, 2.0);
      break;
    case MarkerState::pending: {
      drawRing(canvas, x, y, r, kHalo, 4.0);
      drawRing(canvas, x, y, r, colour, 2.0);
      const double in = r + 3.0, out = r + 9.0;
      drawOutlinedLine(canvas, x - out, y, x - in, y, colour);
      drawOutlinedLine(canvas, x + in, y, x + out, y, colour);
      drawOutlinedLine(canvas, x, y - out, x, y - in, colour);
      drawOutlinedLine(canvas, x, y + in, x, y + out, colour);
      break;
    }
  }
  if (number <= 0) return;

  const std::string text = std::to_string(number);
  const int w = textWidth(text) + 2 * kPadding, h = kFixedFontHeight + 2 * kPadding;
  // Upper right of the ring; to the left or below where that would leave the canvas.
  const int px = static_cast<int>(std::lround(x)), py = static_cast<int>(std::lround(y));
  const int gap = static_cast<int>(r) + 3;
  int lx = px + gap, ly = py - gap - h;
  if (lx + w > canvas.width) lx = px - gap - w;
  if (ly < 0) ly = py + gap;
  if (state == MarkerState::selected) {
    drawLabel(canvas, lx, ly, text, Rgba{0, 0, 0, 255}, Rgba{colour.r, colour.g, colour.b, 230});
  } else {
    drawText(canvas, lx + kPadding, ly + kPadding, text, colour, kTextOutline);
  }
}

PixelRect drawLabel(
    Canvas& canvas, int x, int y, std::string_view text, Rgba colour, Rgba background) {
  const PixelRect box{x, y, textWidth(text) + 2 * kPadding, kFixedFontHeight + 2 * kPadding};
  // Beyond the canvas's right or bottom edge nothing shows (and x + padding could overflow).
  if (x > canvas.width || y > canvas.height) return box;
  fillRect(canvas, box, background);
  drawText(canvas, x + kPadding, y + kPadding, text, colour);
  return box;
}

int drawStatusLine(Canvas& canvas, std::string_view text) {
  if (canvas.empty()) return kStatusLineHeight;
  const int top = canvas.height - kStatusLineHeight;
  fillRect(canvas, {0, top, canvas.width, kStatusLineHeight}, Rgba{0, 0, 0, 190});
  const int left = 2 * kPadding;
  const int fits = std::max(0, (canvas.width - 2 * left) / kFixedFontWidth);
  const int y = top + kPadding;
  if (text.size() <= static_cast<std::size_t>(fits)) {
    drawText(canvas, left, y, text, kTextColour);
  } else if (fits >= 3) {
    const std::string_view kept = text.substr(0, static_cast<std::size_t>(fits - 3));
    drawText(canvas, left, y, kept, kTextColour);
    drawText(canvas, left + textWidth(kept), y, "...", kTextColour);
  }
  return kStatusLineHeight;
}

void drawHelpPanel(Canvas& canvas, std::string_view text) {
  if (canvas.empty()) return;
  std::size_t longest = 0;
  int lines = 0;
  for (std::size_t start = 0; start <= text.size(); ++lines) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  const long long w = static_cast<long long>(longest) * kFixedFontWidth + 2 * kPanelPadding;
  const long long h = static_cast<long long>(lines) * kLineSpacing - 2 + 2 * kPanelPadding;
  const PixelRect box{static_cast<int>(std::max<long long>(0, (canvas.width - w) / 2)),
                      static_cast<int>(std::max<long long>(0, (canvas.height - h) / 2)),
                      static_cast<int>(std::min<long long>(w, canvas.width)),
                      static_cast<int>(std::min<long long>(h, canvas.height))};
  fillRect(canvas, box, Rgba{0, 0, 0, 215});
  frameRect(canvas, box, Rgba{200, 200, 200, 200});
  int y = box.y + kPanelPadding;
  for (std::size_t start = 0; start <= text.size() && y < canvas.height; y += kLineSpacing) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    drawText(canvas, box.x + kPanelPadding, y, text.substr(start, end - start), kTextColour);
    start = end + 1;
  }
}

PixelRect loupePlace(const Canvas& canvas, double pointerX, double pointerY, int bottomReserve) {
  const bool right = !(pointerX >= canvas.width / 2.0);
  const bool bottom = !(pointerY >= canvas.height / 2.0);
  const int x = right ? canvas.width - kLoupeMargin - kLoupeSize : kLoupeMargin;
  const int y = bottom ? canvas.height - bottomReserve - kLoupeMargin - kLoupeSize : kLoupeMargin;
  return {x, y, kLoupeSize, kLoupeSize};
}

void drawLoupe(Canvas& canvas, const Image& picture, double x, double y, const PixelRect& place) {
  if (canvas.empty() || !std::isfinite(x) || !std::isfinite(y)) return;
  if (place.x > canvas.width || place.y > canvas.height || place.x < -kLoupeSize - 2 ||
      place.y < -kLoupeSize - 2) {
    return;
  }
  const PixelRect area{place.x, place.y, kLoupeSize, kLoupeSize};
  frameRect(canvas, {area.x - 2, area.y - 2, kLoupeSize + 4, kLoupeSize + 4}, Rgba{0, 0, 0, 220});
  frameRect(
      canvas, {area.x - 1, area.y - 1, kLoupeSize + 2, kLoupeSize + 2}, Rgba{255, 255, 255, 230});
  Canvas inset = within(canvas, area);
  if (inset.empty()) return;
  // The inset's own origin moves when the loupe is cut off at the canvas's top or left.
  const int shiftX = std::max(0, -area.x), shiftY = std::max(0, -area.y);

  const double cx = std::floor(x + 0.5), cy = std::floor(y + 0.5);
  constexpr int kSide = 2 * kLoupeRadius + 1;
  std::uint32_t blocks[kSide];  // one source row, 0xRRGGBB
  for (int j = 0; j < kSide; ++j) {
    const double sy = cy - kLoupeRadius + j;
    const bool rowInside = sy >= 0.0 && sy < picture.height;
    for (int i = 0; i < kSide; ++i) {
      const double sx = cx - kLoupeRadius + i;
      blocks[i] = 0x282828u;  // outside the picture: dark grey
      if (rowInside && sx >= 0.0 && sx < picture.width) {
        const std::uint8_t* p = picture.row(static_cast<int>(sy)) + 3 * static_cast<int>(sx);
        blocks[i] =
            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
      }
    }
    for (int k = 0; k < kLoupeZoom; ++k) {
      const int row = j * kLoupeZoom + k - shiftY;
      if (row < 0 || row >= inset.height) continue;
      std::uint8_t* out = inset.pixels + static_cast<std::ptrdiff_t>(row) * inset.pitch;
      for (int col = 0; col < inset.width; ++col, out += 4) {
        std::uint32_t v;
        std::memcpy(&v, out, 4);
        v = (v & 0xFF000000u) | blocks[(col + shiftX) / kLoupeZoom];
        std::memcpy(out, &v, 4);
      }
    }
  }

  // Picture point u shows at inset pixel zoom (u - (cx - radius)) + (zoom - 1) / 2, the
  // middle of its block under the pixel-centre convention.
  const double mid = kLoupeZoom * kLoupeRadius + (kLoupeZoom - 1) / 2.0;
  const double lx = mid + kLoupeZoom * (x - cx) - shiftX;
  const double ly = mid + kLoupeZoom * (y - cy) - shiftY;
  // The arms stop short of the centre block's eight neighbours, so the pixels around the
  // point stay in view.
  const double gap = kLoupeZoom * 2.5;
  const double far = kLoupeSize + 4.0;
  drawOutlinedLine(inset, lx - far, ly, lx - gap, ly, kLoupeCrosshair);
  drawOutlinedLine(inset, lx + gap, ly, lx + far, ly, kLoupeCrosshair);
  drawOutlinedLine(inset, lx, ly - far, lx, ly - gap, kLoupeCrosshair);
  drawOutlinedLine(inset, lx, ly + gap, lx, ly + far, kLoupeCrosshair);
}

}  // namespace epipolar
