#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

std::uint32_t le32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

void expectHeader(const Image& image, std::uint32_t width, std::uint32_t height) {
  const std::uint32_t stride = (3 * width + 3) / 4 * 4;
  const std::uint8_t* h = image.data.get();
  EXPECT_EQ(h[0], 'B');
  EXPECT_EQ(h[1], 'M');
  EXPECT_EQ(le32(h + 2), stride * height + 54);
  EXPECT_EQ(le16(h + 6), 0);
  EXPECT_EQ(le16(h + 8), 0);
  EXPECT_EQ(le32(h + 10), 54u);
  EXPECT_EQ(le32(h + 14), 40u);
  EXPECT_EQ(le32(h + 18), width);
  EXPECT_EQ(le32(h + 22), height);
  EXPECT_EQ(le16(h + 26), 1);
  EXPECT_EQ(le16(h + 28), 24);
  EXPECT_EQ(le32(h + 30), 0u);
  EXPECT_EQ(le32(h + 34), stride * height);
  for (int offset = 38; offset < 54; offset += 4) EXPECT_EQ(le32(h + offset), 0u);
  EXPECT_EQ(image.size, stride * height + 54);
  EXPECT_EQ(image.pixelOffset, 54);
}

TEST(Image, HeaderDescribesPaddedRows) {
  expectHeader(*Image::blank(640, 480), 640, 480);
  auto odd = Image::blank(641, 480);
  expectHeader(*odd, 641, 480);
  EXPECT_EQ(odd->stride(), 1924);
  expectHeader(*Image::blank(1, 1), 1, 1);
}

TEST(Image, PixelsAreAddressedBottomUpWithPaddedRows) {
  // Width 5: 15 pixel bytes and one padding byte per row.
  auto image = Image::blank(5, 3);
  ASSERT_EQ(image->stride(), 16);
  std::uint8_t* lastRow = image->data.get() + 54 + 16 * 2;
  lastRow[0] = 10;   // blue
  lastRow[1] = 20;   // green
  lastRow[2] = 255;  // red
  const Colour c = image->pixel(0, 0);
  EXPECT_EQ(c.r, 1.0f);
  EXPECT_EQ(c.g, 20 * kByteScale);
  EXPECT_EQ(c.b, 10 * kByteScale);

  // Every pixel written lands in its own three bytes; padding stays untouched.
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      const float v = static_cast<float>(1 + x + 5 * y) * kByteScale;
      image->setPixel(x, y, Colour(v, v, v));
    }
  }
  for (int y = 0; y < 3; ++y) {
    const std::uint8_t* row = image->data.get() + 54 + 16 * (2 - y);
    for (int x = 0; x < 5; ++x) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(row[3 * x + c], 1 + x + 5 * y) << x << "," << y;
    }
    EXPECT_EQ(row[15], 0);
  }
}

TEST(Image, EveryByteValueSurvivesReadAndWriteBack) {
  auto image = Image::blank(3, 1);
  std::uint8_t* p = image->data.get() + 54;
  for (int value = 0; value < 256; ++value) {
    p[3] = static_cast<std::uint8_t>(value);
    p[4] = static_cast<std::uint8_t>(255 - value);
    p[5] = static_cast<std::uint8_t>(value ^ 0x5A);
    image->setPixel(1, 0, image->pixel(1, 0));
    EXPECT_EQ(p[3], value);
    EXPECT_EQ(p[4], 255 - value);
    EXPECT_EQ(p[5], value ^ 0x5A);
  }
}

TEST(Image, ComponentsStoreTheLowByteOfTheTruncatedProduct) {
  EXPECT_EQ(colourComponentByte(1.0f), 255);
  EXPECT_EQ(colourComponentByte(0.5f), 127);
  EXPECT_EQ(colourComponentByte(1.2f), 50);
  EXPECT_EQ(colourComponentByte(0.0f), 0);
  EXPECT_EQ(colourComponentByte(-0.5f), static_cast<std::uint8_t>(-127));
  EXPECT_EQ(colourComponentByte(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(colourComponentByte(std::numeric_limits<float>::infinity()), 0);
  EXPECT_EQ(colourComponentByte(1e30f), 0);

  auto image = Image::blank(2, 2);
  image->setPixel(1, 1, Colour(1.0f, 0.0f, 0.0f));
  const std::uint8_t* p = image->data.get() + 54 + 3;  // bottom row, x = 1
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 255);
}

TEST(Image, WritesOutsideThePictureAreRefusedAndLogged) {
  auto image = Image::blank(640, 480);
  const auto before = std::string(reinterpret_cast<char*>(image->data.get()), image->size);
  testing::LogCapture log;
  image->setPixel(640, 0, Colour(1, 1, 1));
  image->setPixel(-1, 10, Colour(1, 1, 1));
  image->setPixel(0, 480, Colour(1, 1, 1));
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"What is wrong with you? 640 < 640, 0 < 480",
                                      "What is wrong with you? -1 < 640, 10 < 480",
                                      "What is wrong with you? 0 < 640, 480 < 480"}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image->data.get()), image->size), before);
}

TEST(Image, CopiesAreDeep) {
  auto image = Image::blank(4, 2);
  image->setPixel(0, 0, Colour(1, 1, 1));
  Image copy(*image);
  image->setPixel(0, 0, Colour(0, 0, 0));
  EXPECT_EQ(copy.pixel(0, 0).r, 1.0f);
  EXPECT_EQ(copy.size, image->size);
  EXPECT_EQ(std::memcmp(copy.data.get(), image->data.get(), 54), 0);
}

}  // namespace
}  // namespace epipolar
