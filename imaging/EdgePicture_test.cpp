#include "imaging/EdgePicture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>

#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

using Painter = std::function<void(int x, int y, std::uint8_t* bgr)>;

// A frame with padded rows whose pixel (x, y) is set by `paint`; padding bytes hold 0xEE so
// that a test sees whether they are kept.
std::unique_ptr<Image> makeFrame(int width, int height, const Painter& paint) {
  auto frame = Image::blank(width, height);
  std::memset(frame->data.get() + 54, 0xEE, frame->size - 54);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) paint(x, y, frame->row(y) + 3 * x);
  }
  return frame;
}

void fill(std::uint8_t* bgr, int b, int g, int r) {
  bgr[0] = static_cast<std::uint8_t>(b);
  bgr[1] = static_cast<std::uint8_t>(g);
  bgr[2] = static_cast<std::uint8_t>(r);
}

// The stored blue, green, red bytes of picture pixel (x, y).
std::array<int, 3> bytes(const Image& image, int x, int y) {
  const std::uint8_t* p = image.row(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

bool sameBlock(const Image& a, const Image& b) {
  return a.size == b.size && std::memcmp(a.data.get(), b.data.get(), a.size) == 0;
}

TEST(EdgePicture, UniformFrameIsBlackAndKeepsHeaderAndPadding) {
  auto frame = makeFrame(7, 5, [](int, int, std::uint8_t* p) { fill(p, 90, 30, 200); });
  auto edges = edgePicture(*frame);
  ASSERT_EQ(edges->size, frame->size);
  EXPECT_EQ(std::memcmp(edges->data.get(), frame->data.get(), 54), 0);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) EXPECT_EQ(bytes(*edges, x, y), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(edges->row(y)[21], 0xEE);  // padding
  }
}

TEST(EdgePicture, StepEdgesShowInTheChannelsThatDiffer) {
  const int k = 4;  // step between columns k and k + 1
  auto grey = makeFrame(10, 6, [](int x, int, std::uint8_t* p) {
    const int v = x <= k ? 0 : 255;
    fill(p, v, v, v);
  });
  auto red = makeFrame(10, 6, [](int x, int, std::uint8_t* p) { fill(p, 0, 0, x <= k ? 255 : 0); });
  auto greyEdges = edgePicture(*grey);
  auto redEdges = edgePicture(*red);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      const bool edge = y > 0 && y < 5 && (x == k || x == k + 1);
      // Sum 1020, e = 0.6666667, byte 170.
      EXPECT_EQ(bytes(*greyEdges, x, y),
                edge ? (std::array<int, 3>{170, 170, 170}) : (std::array<int, 3>{0, 0, 0}))
          << x << "," << y;
      EXPECT_EQ(bytes(*redEdges, x, y),
                edge ? (std::array<int, 3>{0, 0, 170}) : (std::array<int, 3>{0, 0, 0}))
          << x << "," << y;
    }
  }
}

TEST(EdgePicture, ThresholdIsStrictAndTheStrongestEdgeIsFull) {
  // A 3 x 3 frame has one inner pixel. A green value g right of it gives gx = 2g, gy = 0.
  auto single = [](int green) {
    return makeFrame(3, 3, [green](int x, int y, std::uint8_t* p) {
      fill(p, 0, x == 2 && y == 1 ? green : 0, 0);
    });
  };
  // Channel sums are always even: sum 76 stays black, sum 78 is an edge storing 78 / 6.
  EXPECT_EQ(bytes(*edgePicture(*single(38)), 1, 1), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(bytes(*edgePicture(*single(39)), 1, 1), (std::array<int, 3>{0, 13, 0}));
  // The largest possible sum, 1530, is exactly 1.0 and stores 255.
  auto corner = makeFrame(3, 3, [](int x, int y, std::uint8_t* p) {
    const int v = (y == 0 || x == 2) && !(x == 2 && y == 2) ? 255 : 0;
    fill(p, v, v, v);
  });
  EXPECT_EQ(bytes(*edgePicture(*corner), 1, 1), (std::array<int, 3>{255, 255, 255}));
}

TEST(EdgePicture, BordersAreBlackAndOrientationIsKept) {
  std::mt19937 random(3);
  auto noise = makeFrame(9, 8, [&](int, int, std::uint8_t* p) {
    fill(p, random() & 255, random() & 255, random() & 255);
  });
  auto edges = edgePicture(*noise);
  for (int x = 0; x < 9; ++x) {
    EXPECT_EQ(bytes(*edges, x, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(bytes(*edges, x, 7), (std::array<int, 3>{0, 0, 0}));
  }
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(bytes(*edges, 0, y), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(bytes(*edges, 8, y), (std::array<int, 3>{0, 0, 0}));
  }
  // A step only in the top three rows shows only near the top.
  auto top = makeFrame(8, 12, [](int x, int y, std::uint8_t* p) {
    const int v = y < 3 && x > 3 ? 255 : 0;
    fill(p, v, v, v);
  });
  auto topEdges = edgePicture(*top);
  EXPECT_EQ(bytes(*topEdges, 3, 1)[0], 170);
  for (int y = 6; y < 12; ++y) EXPECT_EQ(bytes(*topEdges, 3, y)[0], 0) << y;
}

TEST(EdgePicture, TinyOrDamagedFramesComeOutBlackWithoutLogging) {
  testing::LogCapture log;
  for (auto [w, h] : {std::pair{1, 1}, {2, 5}, {5, 2}, {1, 7}, {7, 1}, {0, 4}}) {
    auto frame = makeFrame(w, h, [](int, int, std::uint8_t* p) { fill(p, 255, 0, 255); });
    auto edges = edgePicture(*frame);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) EXPECT_EQ(bytes(*edges, x, y), (std::array<int, 3>{0, 0, 0}));
    }
    EXPECT_TRUE(sameBlock(*edges, *edgePictureReference(*frame))) << w << "x" << h;
  }
  EXPECT_TRUE(log.units().empty());

  // A block shorter than its rows: nothing is read past it.
  auto frame = makeFrame(6, 6, [](int x, int, std::uint8_t* p) { fill(p, x * 40, 0, 0); });
  Image cut(6, 6, frame->data.get(), 54 + 30, 54);
  auto edges = edgePicture(cut);
  for (std::uint32_t i = 54; i < edges->size; ++i) EXPECT_EQ(edges->data[i], 0);
  EXPECT_TRUE(sameBlock(*edges, *edgePictureReference(cut)));
}

TEST(EdgePicture, FastVersionMatchesTheReferenceByteForByte) {
  std::mt19937 random(11);
  const std::pair<int, int> sizes[] = {
      {3, 3}, {4, 3}, {5, 7}, {17, 9}, {64, 48}, {641, 5}, {99, 37}};
  for (auto [w, h] : sizes) {
    for (int levels : {2, 5, 256}) {
      // Few levels give sums near the threshold often; 256 gives everything.
      auto frame = makeFrame(w, h, [&](int, int, std::uint8_t* p) {
        for (int c = 0; c < 3; ++c) {
          p[c] =
              static_cast<std::uint8_t>(levels == 256 ? random() & 255 : (random() % levels) * 20);
        }
      });
      EXPECT_TRUE(sameBlock(*edgePicture(*frame), *edgePictureReference(*frame)))
          << w << "x" << h << " levels " << levels;
    }
  }
}

}  // namespace
}  // namespace epipolar
