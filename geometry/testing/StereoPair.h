// Test and benchmark helper: synthetic stereo pairs whose true match is known.
//
// Picture A shows a texture; picture B shows the same texture moved by (-dx, -dy), so the
// pixel (x, y) of A appears at (x - dx, y - dy) in B. For a translation along (dx, dy) the
// fundamental matrix is the cross-product matrix of t = (dx, dy, 0):
//   F = [[0, 0, dy], [0, 0, -dx], [-dy, dx, 0]],
// and the epipolar line of (x, y) is (dy, -dx, dx*y - dy*x), of slope dy / dx.
// The texture is random colour blocks of 3x3 pixels with per-pixel noise, from a hash of the
// texture coordinates: deterministic, and distinctive enough that every 15x15 window differs.
#pragma once

#include <cstdint>
#include <memory>

#include "geometry/Matrix.h"
#include "imaging/Image.h"

namespace epipolar::testing {

inline std::uint32_t textureHash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 0x9E3779B1u ^
                    static_cast<std::uint32_t>(y) * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// Writes the texture at (x + shiftX, y + shiftY) into every pixel (x, y).
inline std::unique_ptr<Image> texturedPicture(
    int width, int height, int shiftX, int shiftY, std::uint32_t seed = 1) {
  auto image = Image::blank(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = image->row(y);
    for (int x = 0; x < width; ++x) {
      const int tx = x + shiftX;
      const int ty = y + shiftY;
      // Floor division keeps 3x3 blocks aligned across negative coordinates.
      const int bx = tx >= 0 ? tx / 3 : (tx - 2) / 3;
      const int by = ty >= 0 ? ty / 3 : (ty - 2) / 3;
      const std::uint32_t block = textureHash(bx, by, seed);
      const std::uint32_t noise = textureHash(tx, ty, seed + 7);
      for (int c = 0; c < 3; ++c) {
        const int value = static_cast<int>((block >> (8 * c)) & 0xFF) / 2 +
                          static_cast<int>((noise >> (8 * c)) & 0x7F);
        row[3 * x + c] = static_cast<std::uint8_t>(value);
      }
    }
  }
  return image;
}

struct StereoPair {
  std::unique_ptr<Image> a;
  std::unique_ptr<Image> b;
  Matrix F;
};

// A and B as described above, B moved by (dx, dy).
inline StereoPair shiftedPair(int width, int height, int dx, int dy, std::uint32_t seed = 1) {
  StereoPair pair;
  pair.a = texturedPicture(width, height, 0, 0, seed);
  pair.b = texturedPicture(width, height, dx, dy, seed);
  const double values[9] = {0, 0, double(dy), 0, 0, -double(dx), -double(dy), double(dx), 0};
  pair.F = Matrix(values, 3, 3);
  return pair;
}

}  // namespace epipolar::testing
