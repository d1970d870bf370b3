#include "platform/PaintSurface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "platform/Platform.h"

namespace epipolar {
namespace {

LRESULT quietProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return defWindowProc(hwnd, msg, wParam, lParam);
}

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

class PaintSurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerClass(WindowClass{"Paint", &quietProc, false});
    hwnd = createWindow("Paint", "paint", 0, 0, kWidth, kHeight, nullptr);
    ASSERT_TRUE(hwnd);
  }
  void TearDown() override { shutdownPlatform(); }

  Rgb at(int x, int y) const {
    Rgb c{};
    EXPECT_TRUE(readSurfacePixel(hwnd, x, y, c.r, c.g, c.b)) << x << "," << y;
    return c;
  }

  // A picture whose every pixel differs: r = 20 x, g = 30 y, b = 7.
  static std::unique_ptr<Image> pattern(int w, int h) {
    auto image = Image::blank(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = image->row(y) + 3 * x;
        p[0] = 7;
        p[1] = static_cast<std::uint8_t>(30 * y);
        p[2] = static_cast<std::uint8_t>(20 * x);
      }
    return image;
  }

  // Inverts the line on a white surface and returns the pixels that changed.
  std::set<std::pair<int, int>> changedBy(double x0, double y0, double x1, double y1) {
    {
      PaintSurface surface(hwnd);
      surface.invertLine(x0, y0, x1, y1);
    }
    std::set<std::pair<int, int>> changed;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        Rgb c = at(x, y);
        if (c == Rgb{0, 0, 0}) {
          changed.insert({x, y});
        } else {
          EXPECT_EQ(c, (Rgb{255, 255, 255})) << x << "," << y;
        }
      }
    // Invert again to leave the surface white.
    PaintSurface surface(hwnd);
    surface.invertLine(x0, y0, x1, y1);
    return changed;
  }

  static constexpr int kWidth = 16;
  static constexpr int kHeight = 12;
  WindowHandle hwnd;
};

TEST_F(PaintSurfaceTest, BlitCopiesPaddedBottomUpRowsUnscaledAtTheCorner) {
  // Width 5 has a padded stride (16 bytes for 15); the picture covers part of the window.
  auto image = pattern(5, 3);
  {
    PaintSurface surface(hwnd);
    ASSERT_TRUE(surface.valid());
    EXPECT_EQ(surface.width(), kWidth);
    surface.blit(*image);
  }
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const Rgb expected =
          (x < 5 && y < 3)
              ? Rgb{static_cast<std::uint8_t>(20 * x), static_cast<std::uint8_t>(30 * y), 7}
              : Rgb{255, 255, 255};
      EXPECT_EQ(at(x, y), expected) << x << "," << y;
    }
}

TEST_F(PaintSurfaceTest, BlitCopiesEveryPixelOfEveryWidth) {
  // Widths around the four-pixel steps of the row copy, with and without row padding, and
  // pixels that differ in every byte.
  std::uint32_t seed = 12345;
  auto nextByte = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(seed >> 24);
  };
  for (int width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 16}) {
    auto image = Image::blank(width, kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < 3 * width; ++x) image->row(y)[x] = nextByte();
    {
      PaintSurface surface(hwnd);
      surface.blit(*image);
    }
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const std::uint8_t* p = image->row(y) + 3 * x;
        const Rgb expected = x < width ? Rgb{p[2], p[1], p[0]} : Rgb{255, 255, 255};
        ASSERT_EQ(at(x, y), expected) << "width " << width << " at " << x << "," << y;
      }
    // White again for the next width.
    auto white = Image::blank(kWidth, kHeight);
    std::fill_n(white->row(kHeight - 1), white->stride() * kHeight, std::uint8_t{255});
    PaintSurface surface(hwnd);
    surface.blit(*white);
  }
}

TEST_F(PaintSurfaceTest, BlitOfALargerPictureIsCutOff) {
  auto image = pattern(kWidth + 3, kHeight + 5);
  {
    PaintSurface surface(hwnd);
    surface.blit(*image);
  }
  EXPECT_EQ(at(kWidth - 1, kHeight - 1),
            (Rgb{static_cast<std::uint8_t>(20 * (kWidth - 1)),
                 static_cast<std::uint8_t>(30 * (kHeight - 1)),
                 7}));
}

TEST_F(PaintSurfaceTest, PixelsAfterTheBlitAreTheShownSurface) {
  // Overlays are drawn through pixels() after the blit: what is written there is what the
  // window shows, at (x, y) as 0xXXRRGGBB.
  auto image = pattern(5, 3);
  {
    PaintSurface surface(hwnd);
    surface.blit(*image);
    const SurfacePixels pixels = surface.pixels();
    ASSERT_NE(pixels.data, nullptr);
    ASSERT_EQ(pixels.width, kWidth);
    ASSERT_EQ(pixels.height, kHeight);
    std::uint32_t blitted;
    std::memcpy(&blitted, pixels.data + 2 * pixels.pitch + 3 * 4, 4);
    EXPECT_EQ(blitted & 0xFFFFFFu, (60u << 16) | (60u << 8) | 7u);
    const std::uint32_t written = 0x123456u;
    std::memcpy(pixels.data + 11 * pixels.pitch + 15 * 4, &written, 4);
  }
  EXPECT_EQ(at(15, 11), (Rgb{0x12, 0x34, 0x56}));
  EXPECT_EQ(at(3, 2), (Rgb{60, 60, 7}));
}

TEST_F(PaintSurfaceTest, LinesInvertExactlyTheirPixelsWithoutTheEndPixel) {
  std::set<std::pair<int, int>> horizontal;
  for (int x = 2; x < 9; ++x) horizontal.insert({x, 5});
  EXPECT_EQ(changedBy(2, 5, 9, 5), horizontal);

  // Coordinates are truncated toward zero: (2.9, 5.99) is (2, 5).
  EXPECT_EQ(changedBy(2.9, 5.99, 9.5, 5.2), horizontal);

  std::set<std::pair<int, int>> diagonal{{1, 1}, {2, 2}, {3, 3}};
  EXPECT_EQ(changedBy(1, 1, 4, 4), diagonal);

  // A shallow Bresenham line: one pixel per column, rounding to the nearer row.
  std::set<std::pair<int, int>> shallow{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}};
  EXPECT_EQ(changedBy(0, 0, 6, 2), shallow);

  EXPECT_TRUE(changedBy(3, 3, 3, 3).empty()) << "a zero-length line draws nothing";
}

TEST_F(PaintSurfaceTest, CrossStrokesCancelWhereTheyMeet) {
  {
    PaintSurface surface(hwnd);
    surface.invertLine(8 - 3, 6, 8 + 3, 6);
    surface.invertLine(8, 6 - 3, 8, 6 + 3);
  }
  EXPECT_EQ(at(8, 6), (Rgb{255, 255, 255}));
  EXPECT_EQ(at(7, 6), (Rgb{0, 0, 0}));
  EXPECT_EQ(at(8, 5), (Rgb{0, 0, 0}));
}

TEST_F(PaintSurfaceTest, LinesAreClippedAndNonFiniteOnesSkipped) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(changedBy(0, 0, nan, 5).empty());
  EXPECT_TRUE(changedBy(-inf, 3, inf, 3).empty());
  EXPECT_TRUE(changedBy(-50, -50, -10, -40).empty());

  // Far beyond the surface on both sides: only the visible row is touched, and quickly.
  std::set<std::pair<int, int>> row;
  for (int x = 0; x < kWidth; ++x) row.insert({x, 4});
  EXPECT_EQ(changedBy(-1e12, 4, 1e12, 4), row);
  EXPECT_EQ(changedBy(-30, 4, kWidth + 30, 4), row);
}

TEST_F(PaintSurfaceTest, NewSurfaceStartsWhiteAndKeepsWhatWasPainted) {
  EXPECT_EQ(at(0, 0), (Rgb{255, 255, 255}));
  auto image = pattern(kWidth, kHeight);
  {
    PaintSurface surface(hwnd);
    surface.blit(*image);
  }
  {
    PaintSurface again(hwnd);  // a later paint starts from the previous picture
  }
  EXPECT_EQ(at(3, 3), (Rgb{60, 90, 7}));
  std::uint8_t r, g, b;
  EXPECT_FALSE(readSurfacePixel(hwnd, kWidth, 0, r, g, b));
  EXPECT_FALSE(readSurfacePixel(hwnd, 0, -1, r, g, b));
}

TEST_F(PaintSurfaceTest, DeadWindowsAndGLWindowsHaveNoSurface) {
  registerClass(WindowClass{"PaintGL", &quietProc, true});
  WindowHandle gl = createWindow("PaintGL", "gl", 0, 0, 8, 8, nullptr);
  PaintSurface glSurface(gl);
  EXPECT_FALSE(glSurface.valid());
  EXPECT_EQ(glSurface.pixels().data, nullptr);
  glSurface.invertLine(0, 0, 5, 5);
  destroyWindow(hwnd);
  PaintSurface dead(hwnd);
  EXPECT_FALSE(dead.valid());
  auto image = pattern(2, 2);
  dead.blit(*image);
  std::uint8_t r, g, b;
  EXPECT_FALSE(readSurfacePixel(hwnd, 0, 0, r, g, b));
}

}  // namespace
}  // namespace epipolar
