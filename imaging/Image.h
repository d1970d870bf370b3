// A 24-bit colour picture held as a complete BMP file image in one owned byte block.
//
// Block layout (little-endian, no padding between fields):
//   0  file header (14 bytes): "BM", bfSize = pixel bytes + 54, 0, 0, bfOffBits = 54
//   14 info header (40 bytes): biSize 40, W, H (positive: rows bottom-up), 1 plane, 24 bits,
//      BI_RGB, biSizeImage = stride * H, then four zeros
//   54 pixel rows, bottom row first, pixels stored blue, green, red.
//
// Rows are padded to a multiple of 4 bytes (stride = 3 * W rounded up to 4), as in every BMP
// file: pixel access uses that stride too, so the same block can be drawn, saved as a file
// and read by pixel for any width.
//
// Coordinates: x counts columns from the left, y counts rows from the top.
// Threads: no locks; an Image is changed only by its current owner.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/Colour.h"

namespace epipolar {

inline constexpr std::int32_t kBmpHeaderSize = 54;

// Bytes per stored row: 3 * width rounded up to a multiple of 4.
constexpr std::int32_t bmpRowStride(std::int32_t width) { return ((width * 24 + 31) / 8) & ~3; }

// Writes the 54-byte file and info header for a width x height picture whose pixel bytes
// are `pixelBytes` long.
void writeBmpHeader(std::uint8_t* header,
                    std::int32_t width,
                    std::int32_t height,
                    std::uint32_t pixelBytes);

// The stored byte for a colour component: the low 8 bits of component * 255 (in single
// precision) truncated toward zero, so 1.0 gives 255, 0.5 gives 127 and 1.2 gives 50.
// Non-finite components and those beyond the range of a 32-bit integer give 0.
std::uint8_t colourComponentByte(float component);

class Image {
 public:
  // Copies `size` bytes of a complete block from `source`; the caller keeps its source.
  Image(std::int32_t width,
        std::int32_t height,
        const std::uint8_t* source,
        std::uint32_t size,
        std::int32_t pixelOffset);
  Image(const Image& other);
  Image& operator=(const Image&) = delete;
  virtual ~Image();

  // A black picture with a complete header and padded rows.
  static std::unique_ptr<Image> blank(std::int32_t width, std::int32_t height);

  // Reads pixel (x, y); each byte is scaled by the float nearest 1/255.
  // No range check: the caller keeps 0 <= x < width and 0 <= y < height.
  Colour pixel(std::int32_t x, std::int32_t y) const;

  // Writes pixel (x, y). Each byte is the low 8 bits of component * 255 truncated toward
  // zero (1.2 stores 50); a non-finite component stores 0. Outside the picture nothing is
  // written and "What is wrong with you? " x " < " width ", " y " < " height is logged.
  void setPixel(std::int32_t x, std::int32_t y, const Colour& colour);

  // True when (x, y) lies inside the picture.
  bool contains(std::int32_t x, std::int32_t y) const {
    return x >= 0 && y >= 0 && x < width && y < height;
  }
  // True when the double position, truncated toward zero, lies inside the picture.
  bool containsPoint(double x, double y) const {
    return x > -1.0 && y > -1.0 && x < width && y < height;
  }

  std::int32_t stride() const { return bmpRowStride(width); }
  // Start of the stored bytes of picture row y (top-down numbering).
  const std::uint8_t* row(std::int32_t y) const {
    return data.get() + pixelOffset + static_cast<std::int64_t>(height - 1 - y) * stride();
  }
  std::uint8_t* row(std::int32_t y) {
    return data.get() + pixelOffset + static_cast<std::int64_t>(height - 1 - y) * stride();
  }

  std::int32_t width;
  std::int32_t height;
  std::int32_t pixelOffset;
  std::uint32_t size;
  std::unique_ptr<std::uint8_t[]> data;
};

}  // namespace epipolar
