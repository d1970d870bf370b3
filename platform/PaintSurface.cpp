// The window surface: frame blit, inverted Bresenham lines, readback.

#include "platform/PaintSurface.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/PlatformInternal.h"

namespace epipolar {

namespace {

// The window's surface, white when it is new or has a new size. Null for GL windows.
SDL_Surface* windowSurface(WindowHandle hwnd) {
  platform_internal::NativeWindow* w = platform_internal::findWindow(hwnd.id);
  if (w == nullptr || w->windowClass.openGL) return nullptr;
  SDL_Surface* surface = SDL_GetWindowSurface(w->sdl);
  if (surface == nullptr) {
    platform_internal::logSdlError("SDL_GetWindowSurface failed");
    return nullptr;
  }
  if (surface->w != w->surfaceWidth || surface->h != w->surfaceHeight) {
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 255, 255, 255));
    w->surfaceWidth = surface->w;
    w->surfaceHeight = surface->h;
  }
  return surface;
}

std::uint8_t* pixelAddress(SDL_Surface* s, int x, int y) {
  return static_cast<std::uint8_t*>(s->pixels) + static_cast<std::ptrdiff_t>(y) * s->pitch +
         static_cast<std::ptrdiff_t>(x) * s->format->BytesPerPixel;
}

void invertPixel(SDL_Surface* s, int x, int y) {
  if (x < 0 || y < 0 || x >= s->w || y >= s->h) return;
  std::uint8_t* p = pixelAddress(s, x, y);
  const SDL_PixelFormat* f = s->format;
  switch (f->BytesPerPixel) {
    case 4: {
      Uint32 v;
      std::memcpy(&v, p, 4);
      v ^= f->Rmask | f->Gmask | f->Bmask;
      std::memcpy(p, &v, 4);
      break;
    }
    case 2: {
      Uint16 v;
      std::memcpy(&v, p, 2);
      v ^= static_cast<Uint16>(f->Rmask | f->Gmask | f->Bmask);
      std::memcpy(p, &v, 2);
      break;
    }
    case 3:
      p[0] ^= 0xFF;
      p[1] ^= 0xFF;
      p[2] ^= 0xFF;
      break;
    default:
      break;  // palette surfaces are not used for windows
  }
}

// Liang-Barsky: clips the segment to [xmin, xmax] x [ymin, ymax]. False if nothing is left.
bool clipSegment(double& x0,
                 double& y0,
                 double& x1,
                 double& y1,
                 double xmin,
                 double ymin,
                 double xmax,
                 double ymax) {
  double t0 = 0.0, t1 = 1.0;
  const double dx = x1 - x0, dy = y1 - y0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - xmin, xmax - x0, y0 - ymin, ymax - y0};
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
  const double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy;
  const double nx1 = x0 + t1 * dx, ny1 = y0 + t1 * dy;
  x0 = nx0;
  y0 = ny0;
  x1 = nx1;
  y1 = ny1;
  return true;
}

#if defined(__x86_64__) || defined(__i386__)
// One row of 24-bit BGR pixels onto a row of SDL_PIXELFORMAT_RGB888 pixels (blue, green, red,
// unused byte in memory order), as SDL_ConvertPixels converts it: the three colour bytes are
// copied and the unused byte keeps its value. Four pixels per step with one byte shuffle; the
// step reads 16 source bytes, so it stops two pixels early to stay inside the row.
__attribute__((target("ssse3"))) void bgr24ToXrgb8888Row(const std::uint8_t* source,
                                                         std::uint8_t* target,
                                                         int columns) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i unused = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  int x = 0;
  for (; x + 6 <= columns; x += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * x));
    __m128i* out = reinterpret_cast<__m128i*>(target + 4 * x);
    const __m128i kept = _mm_and_si128(_mm_loadu_si128(out), unused);
    _mm_storeu_si128(out, _mm_or_si128(kept, _mm_shuffle_epi8(pixels, spread)));
  }
  for (; x < columns; ++x) {
    target[4 * x] = source[3 * x];
    target[4 * x + 1] = source[3 * x + 1];
    target[4 * x + 2] = source[3 * x + 2];
  }
}
#endif

}  // namespace

PaintSurface::PaintSurface(WindowHandle hwnd) : window(hwnd) {
  SDL_Surface* s = windowSurface(hwnd);
  if (s != nullptr && SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) s = nullptr;
  surface = s;
}

PaintSurface::~PaintSurface() {
  if (surface == nullptr) return;
  present();
  auto* s = static_cast<SDL_Surface*>(surface);
  if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
}

int PaintSurface::width() const { return surface ? static_cast<SDL_Surface*>(surface)->w : 0; }
int PaintSurface::height() const { return surface ? static_cast<SDL_Surface*>(surface)->h : 0; }

void PaintSurface::blit(const Image& image) {
  auto* s = static_cast<SDL_Surface*>(surface);
  if (s == nullptr || image.data == nullptr) return;
  const int columns = std::min(image.width, s->w);
  const int rows = std::min(image.height, s->h);
  if (columns <= 0 || rows <= 0) return;
#if defined(__x86_64__) || defined(__i386__)
  // The usual window surface (X11 and offscreen): the frame's rows four bytes a pixel.
  if (s->format->format == SDL_PIXELFORMAT_RGB888 && __builtin_cpu_supports("ssse3")) {
    for (int y = 0; y < rows; ++y) bgr24ToXrgb8888Row(image.row(y), pixelAddress(s, 0, y), columns);
    return;
  }
#endif
  for (int y = 0; y < rows; ++y) {
    SDL_ConvertPixels(columns,
                      1,
                      SDL_PIXELFORMAT_BGR24,
                      image.row(y),
                      image.stride(),
                      s->format->format,
                      pixelAddress(s, 0, y),
                      s->pitch);
  }
}

void PaintSurface::invertLine(double x0, double y0, double x1, double y1) {
  auto* s = static_cast<SDL_Surface*>(surface);
  if (s == nullptr) return;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  // Far-away end points are first clipped to a margin around the surface, so the walk below
  // stays short and the integer conversion stays in range. The end pixel of a clipped line lies
  // off the surface anyway, so the clipped end is drawn.
  constexpr double kFar = 65536.0;
  bool includeEnd = false;
  if (std::max({std::fabs(x0), std::fabs(y0), std::fabs(x1), std::fabs(y1)}) > kFar) {
    const bool endInside = std::fabs(x1) <= kFar && std::fabs(y1) <= kFar;
    if (!clipSegment(x0, y0, x1, y1, -2.0, -2.0, s->w + 1.0, s->h + 1.0)) return;
    includeEnd = !endInside;
  }
  // Truncation toward zero, as an integer device coordinate is made from a double.
  long ix = static_cast<long>(x0), iy = static_cast<long>(y0);
  const long ex = static_cast<long>(x1), ey = static_cast<long>(y1);
  const long dx = std::labs(ex - ix), dy = -std::labs(ey - iy);
  const long sx = ix < ex ? 1 : -1, sy = iy < ey ? 1 : -1;
  long err = dx + dy;
  for (;;) {
    const bool atEnd = ix == ex && iy == ey;
    if (atEnd && !includeEnd) break;
    if (ix >= 0 && iy >= 0 && ix < s->w && iy < s->h)
      invertPixel(s, static_cast<int>(ix), static_cast<int>(iy));
    if (atEnd) break;
    const long e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      ix += sx;
    }
    if (e2 <= dx) {
      err += dx;
      iy += sy;
    }
  }
}

SurfacePixels PaintSurface::pixels() {
  auto* s = static_cast<SDL_Surface*>(surface);
  if (s == nullptr) return {};
  const Uint32 format = s->format->format;
  if (format != SDL_PIXELFORMAT_RGB888 && format != SDL_PIXELFORMAT_ARGB8888) return {};
  return {static_cast<std::uint8_t*>(s->pixels), s->w, s->h, s->pitch};
}

void PaintSurface::present() {
  platform_internal::NativeWindow* w = platform_internal::findWindow(window.id);
  if (surface == nullptr || w == nullptr) return;
  if (SDL_UpdateWindowSurface(w->sdl) != 0)
    platform_internal::logSdlError("SDL_UpdateWindowSurface failed");
}

bool readSurfacePixel(
    WindowHandle hwnd, int x, int y, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) {
  SDL_Surface* s = windowSurface(hwnd);
  if (s == nullptr || x < 0 || y < 0 || x >= s->w || y >= s->h) return false;
  if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) return false;
  const std::uint8_t* p = pixelAddress(s, x, y);
  Uint32 value = 0;
  switch (s->format->BytesPerPixel) {
    case 4: {
      Uint32 v;
      std::memcpy(&v, p, 4);
      value = v;
      break;
    }
    case 2: {
      Uint16 v;
      std::memcpy(&v, p, 2);
      value = v;
      break;
    }
    case 3:
      value = SDL_BYTEORDER == SDL_LIL_ENDIAN ? (p[0] | p[1] << 8 | p[2] << 16)
                                              : (p[2] | p[1] << 8 | p[0] << 16);
      break;
    default:
      value = *p;
      break;
  }
  if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
  SDL_GetRGB(value, s->format, &r, &g, &b);
  return true;
}

}  // namespace epipolar
