#include "imaging/Image.h"

#include <cmath>
#include <cstring>

#include "log/DebugStream.h"

namespace epipolar {
namespace {

void put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::uint8_t colourComponentByte(float component) {
  const float scaled = component * 255.0f;
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 2147483648.0f) return 0;
  return static_cast<std::uint8_t>(static_cast<std::int32_t>(scaled) & 0xFF);
}

void writeBmpHeader(std::uint8_t* header,
                    std::int32_t width,
                    std::int32_t height,
                    std::uint32_t pixelBytes) {
  std::memset(header, 0, kBmpHeaderSize);
  put16(header + 0, 0x4D42);
  put32(header + 2, pixelBytes + kBmpHeaderSize);
  put32(header + 10, kBmpHeaderSize);
  put32(header + 14, 40);
  put32(header + 18, static_cast<std::uint32_t>(width));
  put32(header + 22, static_cast<std::uint32_t>(height));
  put16(header + 26, 1);
  put16(header + 28, 24);
  put32(header + 34,
        static_cast<std::uint32_t>(bmpRowStride(width)) * static_cast<std::uint32_t>(height));
}

Image::Image(std::int32_t width,
             std::int32_t height,
             const std::uint8_t* source,
             std::uint32_t size,
             std::int32_t pixelOffset)
    : width(width),
      height(height),
      pixelOffset(pixelOffset),
      size(size),
      data(new std::uint8_t[size]) {
  if (size > 0) std::memcpy(data.get(), source, size);
}

Image::Image(const Image& other)
    : width(other.width),
      height(other.height),
      pixelOffset(other.pixelOffset),
      size(other.size),
      data(new std::uint8_t[other.size]) {
  if (size > 0) std::memcpy(data.get(), other.data.get(), size);
}

Image::~Image() = default;

std::unique_ptr<Image> Image::blank(std::int32_t width, std::int32_t height) {
  const std::uint32_t pixelBytes =
      static_cast<std::uint32_t>(bmpRowStride(width)) * static_cast<std::uint32_t>(height);
  auto block = std::make_unique<std::uint8_t[]>(pixelBytes + kBmpHeaderSize);
  writeBmpHeader(block.get(), width, height, pixelBytes);
  return std::make_unique<Image>(
      width, height, block.get(), pixelBytes + kBmpHeaderSize, kBmpHeaderSize);
}

Colour Image::pixel(std::int32_t x, std::int32_t y) const { return Colour(row(y) + 3 * x); }

void Image::setPixel(std::int32_t x, std::int32_t y, const Colour& colour) {
  if (!contains(x, y)) {
    logLine("What is wrong with you? ", x, " < ", width, ", ", y, " < ", height);
    return;
  }
  std::uint8_t* at = row(y) + 3 * x;
  at[0] = colourComponentByte(colour.b);
  at[1] = colourComponentByte(colour.g);
  at[2] = colourComponentByte(colour.r);
}

}  // namespace epipolar
