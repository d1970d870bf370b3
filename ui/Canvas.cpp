#include "ui/Canvas.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "ui/FixedFont.h"

namespace epipolar {

namespace {

std::uint8_t* address(const Canvas& canvas, int x, int y) {
  return canvas.pixels + static_cast<std::ptrdiff_t>(y) * canvas.pitch +
         static_cast<std::ptrdiff_t>(x) * 4;
}

// out = (colour * alpha + old * (255 - alpha)) / 255 per channel, rounded; the top byte stays.
void blend(const Canvas& canvas, int x, int y, Rgba colour, unsigned alpha) {
  std::uint8_t* p = address(canvas, x, y);
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  const unsigned keep = 255u - alpha;
  const unsigned r = (colour.r * alpha + ((v >> 16) & 0xFFu) * keep + 127u) / 255u;
  const unsigned g = (colour.g * alpha + ((v >> 8) & 0xFFu) * keep + 127u) / 255u;
  const unsigned b = (colour.b * alpha + (v & 0xFFu) * keep + 127u) / 255u;
  v = (v & 0xFF000000u) | r << 16 | g << 8 | b;
  std::memcpy(p, &v, 4);
}

void blendCovered(const Canvas& canvas, int x, int y, Rgba colour, double coverage) {
  if (coverage <= 0.0) return;
  const auto alpha = static_cast<unsigned>(std::lround(colour.a * std::min(coverage, 1.0)));
  if (alpha > 0) blend(canvas, x, y, colour, alpha);
}

bool finite(double a, double b, double c, double d) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

// The whole pixels from floor(lo) to ceil(hi) that lie in [0, size - 1], as [first, last];
// false when none do. Compared in double first, so any finite bounds are safe.
bool pixelSpan(double lo, double hi, int size, int& first, int& last) {
  lo = std::max(std::floor(lo), 0.0);
  hi = std::min(std::ceil(hi), static_cast<double>(size - 1));
  if (!(lo <= hi)) return false;
  first = static_cast<int>(lo);
  last = static_cast<int>(hi);
  return true;
}

// Liang-Barsky clipping of the segment to [xmin, xmax] x [ymin, ymax]; false if nothing is
// left. The direction is taken as two halves, 0.5 x1 - 0.5 x0, so that ends near the largest
// doubles cannot overflow; the parameters t = q / p are then (q / 2) / (p / 2).
bool clipSegment(double& x0,
                 double& y0,
                 double& x1,
                 double& y1,
                 double xmin,
                 double ymin,
                 double xmax,
                 double ymax) {
  const double hx = 0.5 * x1 - 0.5 * x0, hy = 0.5 * y1 - 0.5 * y0;
  const double p[4] = {-hx, hx, -hy, hy};
  const double q[4] = {0.5 * (x0 - xmin), 0.5 * (xmax - x0), 0.5 * (y0 - ymin), 0.5 * (ymax - y0)};
  double t0 = 0.0, t1 = 1.0;
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0.0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const double sx = x0, sy = y0;
  x0 = sx + t0 * hx + t0 * hx;
  y0 = sy + t0 * hy + t0 * hy;
  x1 = sx + t1 * hx + t1 * hx;
  y1 = sy + t1 * hy + t1 * hy;
  return true;
}

// Whether the glyph pixel at column `col`, row `row` of the text (cell coordinates from the
// text's top-left) is set.
bool textBit(std::string_view text, long long col, int row) {
  if (col < 0 || row < 0 || row >= kFixedFontHeight) return false;
  const long long index = col / kFixedFontWidth;
  if (index >= static_cast<long long>(text.size())) return false;
  const std::uint8_t bits = fixedFontGlyph(text[static_cast<std::size_t>(index)])[row];
  return (bits >> (7 - col % kFixedFontWidth)) & 1u;
}

// Blends `colour` over columns [x0, x1) of rows [y0, y1), clipped to the canvas.
void fillSpan(
    const Canvas& canvas, long long x0, long long y0, long long x1, long long y1, Rgba colour) {
  if (canvas.empty() || colour.a == 0) return;
  x0 = std::max<long long>(x0, 0);
  y0 = std::max<long long>(y0, 0);
  x1 = std::min<long long>(x1, canvas.width);
  y1 = std::min<long long>(y1, canvas.height);
  const std::uint32_t opaque = static_cast<std::uint32_t>(colour.r) << 16 |
                               static_cast<std::uint32_t>(colour.g) << 8 | colour.b;
  for (long long y = y0; y < y1; ++y) {
    for (long long x = x0; x < x1; ++x) {
      if (colour.a == 255) {
        std::uint8_t* p = address(canvas, static_cast<int>(x), static_cast<int>(y));
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        v = (v & 0xFF000000u) | opaque;
        std::memcpy(p, &v, 4);
      } else {
        blend(canvas, static_cast<int>(x), static_cast<int>(y), colour, colour.a);
      }
    }
  }
}

}  // namespace

std::uint32_t Canvas::at(int x, int y) const {
  std::uint32_t v;
  std::memcpy(&v, address(*this, x, y), 4);
  return v;
}

void fillRect(Canvas& canvas, const PixelRect& rect, Rgba colour) {
  if (rect.width <= 0 || rect.height <= 0) return;
  fillSpan(canvas,
           rect.x,
           rect.y,
           static_cast<long long>(rect.x) + rect.width,
           static_cast<long long>(rect.y) + rect.height,
           colour);
}

void frameRect(Canvas& canvas, const PixelRect& rect, Rgba colour, int thickness) {
  if (thickness <= 0 || rect.width <= 0 || rect.height <= 0) return;
  const long long x0 = rect.x, y0 = rect.y;
  const long long x1 = x0 + rect.width, y1 = y0 + rect.height;
  const long long t = std::min<long long>({thickness, rect.width / 2 + 1, rect.height / 2 + 1});
  fillSpan(canvas, x0, y0, x1, std::min(y0 + t, y1), colour);
  fillSpan(canvas, x0, std::max(y1 - t, y0 + t), x1, y1, colour);
  fillSpan(canvas, x0, y0 + t, std::min(x0 + t, x1), y1 - t, colour);
  fillSpan(canvas, std::max(x1 - t, x0 + t), y0 + t, x1, y1 - t, colour);
}

void drawLine(
    Canvas& canvas, double x0, double y0, double x1, double y1, Rgba colour, double width) {
  if (canvas.empty() || colour.a == 0) return;
  if (!finite(x0, y0, x1, y1) || !std::isfinite(width) || !(width > 0.0)) return;
  // Pixels farther than `reach` from the segment get no coverage.
  const double half = 0.5 * width;
  const double reach = half + 0.5;
  const double xmin = -reach - 1.0, ymin = -reach - 1.0;
  const double xmax = canvas.width + reach, ymax = canvas.height + reach;
  if (!clipSegment(x0, y0, x1, y1, xmin, ymin, xmax, ymax)) return;
  // Ends beyond about 1e15 pixels leave the crossing point below double precision: such a
  // clipped segment may land off the canvas, and is then not drawn.
  for (const double v : {x0, x1}) {
    if (!(v >= xmin - 1.0 && v <= xmax + 1.0)) return;
  }
  for (const double v : {y0, y1}) {
    if (!(v >= ymin - 1.0 && v <= ymax + 1.0)) return;
  }

  const double dx = x1 - x0, dy = y1 - y0;
  const double length2 = dx * dx + dy * dy;
  auto cover = [&](int px, int py) {
    double t = length2 > 0.0 ? ((px - x0) * dx + (py - y0) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double d = std::hypot(px - (x0 + t * dx), py - (y0 + t * dy));
    blendCovered(canvas, px, py, colour, half + 0.5 - d);
  };
  // Walk the major axis; across it only the band within reach of the line is visited: at
  // slope angle theta that band is reach / cos(theta) high (cos >= 1/sqrt(2) on the major
  // axis).
  const bool xMajor = std::fabs(dx) >= std::fabs(dy);
  const double major0 = xMajor ? x0 : y0, major1 = xMajor ? x1 : y1;
  const double minor0 = xMajor ? y0 : x0;
  const double dMajor = xMajor ? dx : dy, dMinor = xMajor ? dy : dx;
  const double slope = dMajor != 0.0 ? dMinor / dMajor : 0.0;
  const double band = reach * std::sqrt(1.0 + slope * slope) + 1.0;
  int first = 0, last = 0;
  if (!pixelSpan(std::min(major0, major1) - reach,
                 std::max(major0, major1) + reach,
                 xMajor ? canvas.width : canvas.height,
                 first,
                 last)) {
    return;
  }
  for (int m = first; m <= last; ++m) {
    // Beyond the ends the line's continuation stays within reach of the end cap's centre.
    const double along =
        std::clamp(static_cast<double>(m), std::min(major0, major1), std::max(major0, major1));
    const double centre = minor0 + (along - major0) * slope;
    int lo = 0, hi = 0;
    if (!pixelSpan(centre - band, centre + band, xMajor ? canvas.height : canvas.width, lo, hi)) {
      continue;
    }
    for (int n = lo; n <= hi; ++n) {
      if (xMajor) {
        cover(m, n);
      } else {
        cover(n, m);
      }
    }
  }
}

void drawOutlinedLine(
    Canvas& canvas, double x0, double y0, double x1, double y1, Rgba colour, double width) {
  drawLine(canvas, x0, y0, x1, y1, Rgba{0, 0, 0, 150}, width + 2.0);
  drawLine(canvas, x0, y0, x1, y1, colour, width);
}

namespace {

// Visits the pixels within `reach` of (x, y) that lie on the canvas with their distance from
// the centre.
template <typename Visit>
void aroundPoint(const Canvas& canvas, double x, double y, double reach, Visit visit) {
  if (canvas.empty() || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(reach)) return;
  int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  if (!pixelSpan(x - reach, x + reach, canvas.width, x0, x1)) return;
  if (!pixelSpan(y - reach, y + reach, canvas.height, y0, y1)) return;
  for (int py = y0; py <= y1; ++py) {
    for (int px = x0; px <= x1; ++px) visit(px, py, std::hypot(px - x, py - y));
  }
}

}  // namespace

void drawRing(Canvas& canvas, double x, double y, double radius, Rgba colour, double width) {
  if (colour.a == 0 || !(radius >= 0.0) || !(width > 0.0)) return;
  const double half = 0.5 * width;
  aroundPoint(canvas, x, y, radius + half + 1.0, [&](int px, int py, double d) {
    blendCovered(canvas, px, py, colour, half + 0.5 - std::fabs(d - radius));
  });
}

void fillDisc(Canvas& canvas, double x, double y, double radius, Rgba colour) {
  if (colour.a == 0 || !(radius > 0.0)) return;
  aroundPoint(canvas, x, y, radius + 1.0, [&](int px, int py, double d) {
    blendCovered(canvas, px, py, colour, radius + 0.5 - d);
  });
}

int textWidth(std::string_view text) {
  // Far below INT_MAX, so a box around any text still fits an int.
  const std::size_t limit = (INT_MAX / 2) / kFixedFontWidth;
  return static_cast<int>(std::min(text.size(), limit)) * kFixedFontWidth;
}

void drawText(Canvas& canvas, int x, int y, std::string_view text, Rgba colour, Rgba outline) {
  if (canvas.empty() || text.empty()) return;
  const long long width = static_cast<long long>(text.size()) * kFixedFontWidth;
  // The outline reaches one pixel beyond the cells on every side.
  const long long left = std::max<long long>(x - 1LL, 0);
  const long long right = std::min<long long>(x + width, canvas.width - 1LL);
  const long long top = std::max<long long>(y - 1LL, 0);
  const long long bottom =
      std::min<long long>(y + static_cast<long long>(kFixedFontHeight), canvas.height - 1LL);
  for (long long py = top; py <= bottom; ++py) {
    const int row = static_cast<int>(py - y);
    for (long long px = left; px <= right; ++px) {
      const long long col = px - x;
      if (textBit(text, col, row)) {
        blend(canvas, static_cast<int>(px), static_cast<int>(py), colour, colour.a);
        continue;
      }
      if (outline.a == 0) continue;
      bool near = false;
      for (int dy = -1; dy <= 1 && !near; ++dy) {
        for (int dx = -1; dx <= 1 && !near; ++dx) near = textBit(text, col + dx, row + dy);
      }
      if (near) blend(canvas, static_cast<int>(px), static_cast<int>(py), outline, outline.a);
    }
  }
}

}  // namespace epipolar
