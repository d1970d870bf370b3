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

// t / 255 rounded to nearest, for 0 <= t <= 255 * 255, without a division: (t + 128 +
// ((t + 128) >> 8)) >> 8 (Blinn, "Three wrongs make a right", IEEE CG&A 1995).
inline unsigned div255(unsigned t) { return (t + 128u + ((t + 128u) >> 8)) >> 8; }

// out = (colour * alpha + old * (255 - alpha)) / 255 per channel, rounded to nearest; the top
// byte stays.
[[gnu::always_inline]] inline void blend(
    const Canvas& canvas, int x, int y, Rgba colour, unsigned alpha) {
  std::uint8_t* p = address(canvas, x, y);
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  const unsigned keep = 255u - alpha;
  const unsigned r = div255(colour.r * alpha + ((v >> 16) & 0xFFu) * keep);
  const unsigned g = div255(colour.g * alpha + ((v >> 8) & 0xFFu) * keep);
  const unsigned b = div255(colour.b * alpha + (v & 0xFFu) * keep);
  v = (v & 0xFF000000u) | r << 16 | g << 8 | b;
  std::memcpy(p, &v, 4);
}

[[gnu::always_inline]] inline void blendCovered(
    const Canvas& canvas, int x, int y, Rgba colour, double coverage) {
  if (coverage <= 0.0) return;
  const auto alpha = static_cast<unsigned>(colour.a * std::min(coverage, 1.0) + 0.5);
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

// Row `row` of cell `cell` of the text as 8 bits for the cell's columns -1 to 6 (bit 7 is
// column -1, bits 6 to 1 the glyph's columns 0 to 5, bit 0 column 6): the glyph's own row and
// the adjoining columns of the cells either side. Cells and rows outside the text are blank.
unsigned cellRow(std::string_view text, long long cell, int row) {
  if (row < 0 || row >= kFixedFontHeight) return 0;
  const long long count = static_cast<long long>(text.size());
  auto glyphRow = [&](long long i) -> unsigned {
    return i >= 0 && i < count ? fixedFontGlyph(text[static_cast<std::size_t>(i)])[row] : 0u;
  };
  const unsigned leftColumn5 = glyphRow(cell - 1) >> 2 & 1u;
  const unsigned rightColumn0 = glyphRow(cell + 1) >> 7 & 1u;
  return leftColumn5 << 7 | glyphRow(cell) >> 1 | rightColumn0;
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
  // The blend of blend() with the colour's share worked out once.
  const unsigned keep = 255u - colour.a;
  const unsigned r = colour.r * colour.a, g = colour.g * colour.a, b = colour.b * colour.a;
  for (long long y = y0; y < y1; ++y) {
    std::uint8_t* p = address(canvas, static_cast<int>(x0), static_cast<int>(y));
    for (long long x = x0; x < x1; ++x, p += 4) {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      if (colour.a == 255) {
        v = (v & 0xFF000000u) | opaque;
      } else {
        v = (v & 0xFF000000u) | div255(r + ((v >> 16) & 0xFFu) * keep) << 16 |
            div255(g + ((v >> 8) & 0xFFu) * keep) << 8 | div255(b + (v & 0xFFu) * keep);
      }
      std::memcpy(p, &v, 4);
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

namespace {

// Visits every canvas pixel within `reach` of the segment with its distance d from it. Returns
// without a visit for non-finite ends or a segment that misses the canvas.
template <typename Visit>
void aroundSegment(
    const Canvas& canvas, double x0, double y0, double x1, double y1, double reach, Visit visit) {
  if (canvas.empty() || !finite(x0, y0, x1, y1) || !(reach > 0.0) || !std::isfinite(reach)) return;
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
  const double inverseLength = length2 > 0.0 ? 1.0 / std::sqrt(length2) : 0.0;
  auto measure = [&](int px, int py) {
    const double rx = px - x0, ry = py - y0;
    const double along = rx * dx + ry * dy;
    if (along > 0.0 && along < length2) {
      // Beside the segment: the distance from its line, |cross product| / length.
      const double d = std::fabs(rx * dy - ry * dx) * inverseLength;
      if (d < reach) visit(px, py, d);
      return;
    }
    // Beyond an end: the distance from that end.
    const double ex = along <= 0.0 ? rx : px - x1, ey = along <= 0.0 ? ry : py - y1;
    const double d2 = ex * ex + ey * ey;
    if (d2 < reach * reach) visit(px, py, std::sqrt(d2));
  };
  // Walk the major axis; across it only the band within reach of the line is visited: at
  // slope angle theta that band is reach / cos(theta) high (cos >= 1/sqrt(2) on the major
  // axis).
  const bool xMajor = std::fabs(dx) >= std::fabs(dy);
  const double major0 = xMajor ? x0 : y0, major1 = xMajor ? x1 : y1;
  const double minor0 = xMajor ? y0 : x0;
  const double dMajor = xMajor ? dx : dy, dMinor = xMajor ? dy : dx;
  const double slope = dMajor != 0.0 ? dMinor / dMajor : 0.0;
  const double band = reach * std::sqrt(1.0 + slope * slope);
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
        measure(m, n);
      } else {
        measure(n, m);
      }
    }
  }
}

}  // namespace

void drawLine(
    Canvas& canvas, double x0, double y0, double x1, double y1, Rgba colour, double width) {
  if (colour.a == 0 || !(width > 0.0)) return;
  const double half = 0.5 * width;
  aroundSegment(canvas, x0, y0, x1, y1, half + 0.5, [&](int px, int py, double d) {
    blendCovered(canvas, px, py, colour, half + 0.5 - d);
  });
}

void drawOutlinedLine(
    Canvas& canvas, double x0, double y0, double x1, double y1, Rgba colour, double width) {
  if (!(width > 0.0)) return;
  // The halo, then the line, pixel by pixel in one walk: the same as drawing the two lines
  // one after the other.
  constexpr Rgba kHalo{0, 0, 0, 150};
  const double half = 0.5 * width;
  aroundSegment(canvas, x0, y0, x1, y1, half + 1.5, [&](int px, int py, double d) {
    blendCovered(canvas, px, py, kHalo, half + 1.5 - d);
    if (colour.a > 0) blendCovered(canvas, px, py, colour, half + 0.5 - d);
  });
}

namespace {

// Visits the pixels of the canvas whose distance d from (x, y) satisfies inner < d < outer,
// with that distance.
template <typename Visit>
void aroundPoint(
    const Canvas& canvas, double x, double y, double inner, double outer, Visit visit) {
  if (canvas.empty() || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(outer)) return;
  int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  if (!pixelSpan(x - outer, x + outer, canvas.width, x0, x1)) return;
  if (!pixelSpan(y - outer, y + outer, canvas.height, y0, y1)) return;
  const double inner2 = inner > 0.0 ? inner * inner : -1.0, outer2 = outer * outer;
  for (int py = y0; py <= y1; ++py) {
    const double ey = py - y;
    if (ey * ey >= outer2) continue;
    // Only the columns within `outer` on this row, less the hole within `inner`.
    const double reach = std::sqrt(outer2 - ey * ey);
    const double hole = ey * ey < inner2 ? std::sqrt(inner2 - ey * ey) : -1.0;
    int left = 0, right = 0;
    if (!pixelSpan(x - reach, x + reach, canvas.width, left, right)) continue;
    for (int px = left; px <= right; ++px) {
      const double ex = px - x;
      if (ex > -hole && ex < hole) {
        // Jump over the hole to its first column on the right.
        px = std::max(px, static_cast<int>(std::floor(x + hole)));
        continue;
      }
      const double d2 = ex * ex + ey * ey;
      if (d2 > inner2 && d2 < outer2) visit(px, py, std::sqrt(d2));
    }
  }
}

}  // namespace

void drawRing(Canvas& canvas, double x, double y, double radius, Rgba colour, double width) {
  if (colour.a == 0 || !(radius >= 0.0) || !(width > 0.0)) return;
  const double half = 0.5 * width;
  aroundPoint(
      canvas, x, y, radius - half - 0.5, radius + half + 0.5, [&](int px, int py, double d) {
        blendCovered(canvas, px, py, colour, half + 0.5 - std::fabs(d - radius));
      });
}

void fillDisc(Canvas& canvas, double x, double y, double radius, Rgba colour) {
  if (colour.a == 0 || !(radius > 0.0)) return;
  aroundPoint(canvas, x, y, 0.0, radius + 0.5, [&](int px, int py, double d) {
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
  const long long count = static_cast<long long>(text.size());
  // Cells -1 and `count` are blank ones either side, where only the outline can show.
  const long long first =
      std::max<long long>(-1, (-static_cast<long long>(x)) / kFixedFontWidth - 1);
  const long long last =
      std::min<long long>(count, (canvas.width - static_cast<long long>(x)) / kFixedFontWidth + 1);
  for (long long cell = first; cell <= last; ++cell) {
    const long long left = static_cast<long long>(x) + cell * kFixedFontWidth;
    // wide[r + 1] is row r of the cell with its neighbours' adjoining columns (cellRow); the
    // rows -1 and kFixedFontHeight around the glyph are blank.
    unsigned wide[kFixedFontHeight + 2] = {};
    for (int row = 0; row < kFixedFontHeight; ++row) wide[row + 1] = cellRow(text, cell, row);
    for (int row = -1; row <= kFixedFontHeight; ++row) {
      const long long py = static_cast<long long>(y) + row;
      if (py < 0 || py >= canvas.height) continue;
      const unsigned here = row >= 0 && row < kFixedFontHeight ? wide[row + 1] : 0u;
      const unsigned own = here & 0x7Eu;
      unsigned near = 0;
      if (outline.a > 0) {
        const unsigned above = row >= 1 ? wide[row] : 0u;
        const unsigned below = row + 2 <= kFixedFontHeight ? wide[row + 2] : 0u;
        const unsigned v = above | here | below;
        near = (v | v << 1 | v >> 1) & 0x7Eu & ~own;
      }
      if ((own | near) == 0) continue;
      for (int col = 0; col < kFixedFontWidth; ++col) {
        const long long px = left + col;
        if (px < 0 || px >= canvas.width) continue;
        const unsigned bit = 0x40u >> col;
        if (own & bit) {
          blend(canvas, static_cast<int>(px), static_cast<int>(py), colour, colour.a);
        } else if (near & bit) {
          blend(canvas, static_cast<int>(px), static_cast<int>(py), outline, outline.a);
        }
      }
    }
  }
}

}  // namespace epipolar
