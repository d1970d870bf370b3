#include "imaging/EdgePicture.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace epipolar {
namespace {

// True when the block holds every stored row the header fields promise.
bool holdsRows(const Image& frame) {
  if (frame.pixelOffset < 0 || frame.width <= 0 || frame.height <= 0) return false;
  const std::int64_t end = static_cast<std::int64_t>(frame.pixelOffset) +
                           static_cast<std::int64_t>(frame.stride()) * frame.height;
  return end <= static_cast<std::int64_t>(frame.size);
}

// Makes every byte from the pixel offset on black.
void blackOut(Image& picture) {
  if (picture.pixelOffset < 0 || static_cast<std::uint32_t>(picture.pixelOffset) >= picture.size)
    return;
  std::memset(picture.data.get() + picture.pixelOffset, 0, picture.size - picture.pixelOffset);
}

// Output byte and edge decision as functions of the channel sum 0..2040, derived from the
// float arithmetic of the reference so that both agree byte for byte.
struct SumTables {
  std::uint8_t byte[2041];
  int threshold;  // smallest sum whose edge component exceeds the threshold
  // True when every byte equals (sum / 6) mod 256, which a vector loop computes without
  // look-ups (sum * 255 / 1530 = sum / 6).
  bool bytesAreSixths;

  SumTables() : threshold(2041), bytesAreSixths(true) {
    for (int sum = 2040; sum >= 0; --sum) {
      const float e = static_cast<float>(sum * kGradientScale);
      byte[sum] = colourComponentByte(e);
      if (static_cast<double>(e) > kEdgeThreshold) threshold = sum;
      if (byte[sum] != ((sum / 6) & 0xFF)) bytesAreSixths = false;
    }
  }
};

const SumTables& sumTables() {
  static const SumTables tables;
  return tables;
}

}  // namespace

std::unique_ptr<Image> edgePictureReference(const Image& frame) {
  auto out = std::make_unique<Image>(frame);
  if (frame.width <= 0 || frame.height <= 0) return out;
  if (!holdsRows(frame)) {
    blackOut(*out);
    return out;
  }
  const std::int32_t width = frame.width;
  const std::int32_t height = frame.height;
  const Colour black;
  for (std::int32_t x = 0; x < width; ++x) {
    out->setPixel(x, 0, black);
    out->setPixel(x, height - 1, black);
  }
  auto P = [&](std::int32_t x, std::int32_t y, int c) -> int { return frame.row(y)[3 * x + c]; };
  for (std::int32_t y = 1; y < height - 1; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      if (x == 0 || x == width - 1) {
        out->setPixel(x, y, black);
        continue;
      }
      float e[3];  // blue, green, red
      for (int c = 0; c < 3; ++c) {
        const int gx = P(x + 1, y - 1, c) + 2 * P(x + 1, y, c) + P(x + 1, y + 1, c) -
                       P(x - 1, y - 1, c) - 2 * P(x - 1, y, c) - P(x - 1, y + 1, c);
        const int gy = P(x - 1, y - 1, c) + 2 * P(x, y - 1, c) + P(x + 1, y - 1, c) -
                       P(x - 1, y + 1, c) - 2 * P(x, y + 1, c) - P(x + 1, y + 1, c);
        const int sum = std::abs(gx) + std::abs(gy);
        e[c] = static_cast<float>(sum * kGradientScale);
      }
      const Colour edge(e[2], e[1], e[0]);
      float h, s, v;
      edge.toHsv(h, s, v);
      out->setPixel(x, y, static_cast<double>(v) > kEdgeThreshold ? edge : black);
    }
  }
  return out;
}

namespace {

// The loader runs the variant resolver of target_clones before ThreadSanitizer has started,
// which crashes every TSan binary that links this file; TSan builds keep the baseline only.
#if defined(__SANITIZE_THREAD__)
#define EDGE_ROW_CLONES
#else
#define EDGE_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// One inner row of the fast version. Per byte position i of the row (channels interleaved):
// V = above + 2 * centre + below (vertical smoothing) and D = above - below, then the channel
// sum S = |V(i + 3) - V(i - 3)| + |D(i - 3) + 2 D(i) + D(i + 3)|. Built for AVX2 as well as
// the baseline; the loader picks the variant the processor runs.
EDGE_ROW_CLONES void edgeRow(const std::uint8_t* above,
                             const std::uint8_t* centre,
                             const std::uint8_t* below,
                             std::uint8_t* target,
                             std::int32_t width,
                             std::int16_t* V,
                             std::int16_t* D,
                             std::uint16_t* S,
                             const SumTables& tables) {
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
  for (std::size_t i = 0; i < rowBytes; ++i) {
    V[i] = static_cast<std::int16_t>(above[i] + 2 * centre[i] + below[i]);
    D[i] = static_cast<std::int16_t>(above[i] - below[i]);
  }
  for (std::size_t i = 3; i < rowBytes - 3; ++i) {
    const int gx = V[i + 3] - V[i - 3];
    const int gy = D[i - 3] + 2 * D[i] + D[i + 3];
    S[i] = static_cast<std::uint16_t>(std::abs(gx) + std::abs(gy));
  }
  const unsigned threshold = static_cast<unsigned>(tables.threshold);
  target[0] = target[1] = target[2] = 0;
  if (tables.bytesAreSixths) {
    for (std::int32_t x = 1; x < width - 1; ++x) {
      const unsigned s0 = S[3 * x], s1 = S[3 * x + 1], s2 = S[3 * x + 2];
      const unsigned keep = std::max(s0, std::max(s1, s2)) >= threshold ? 0xFFu : 0u;
      target[3 * x] = static_cast<std::uint8_t>((s0 / 6) & keep);
      target[3 * x + 1] = static_cast<std::uint8_t>((s1 / 6) & keep);
      target[3 * x + 2] = static_cast<std::uint8_t>((s2 / 6) & keep);
    }
  } else {
    for (std::int32_t x = 1; x < width - 1; ++x) {
      const std::uint16_t* s = S + 3 * x;
      const bool edge = std::max(s[0], std::max(s[1], s[2])) >= threshold;
      for (int c = 0; c < 3; ++c) target[3 * x + c] = edge ? tables.byte[s[c]] : 0;
    }
  }
  std::uint8_t* last = target + 3 * (width - 1);
  last[0] = last[1] = last[2] = 0;
}

}  // namespace

std::unique_ptr<Image> edgePicture(const Image& frame) {
  auto out = std::make_unique<Image>(frame);
  if (frame.width <= 0 || frame.height <= 0) return out;
  if (!holdsRows(frame)) {
    blackOut(*out);
    return out;
  }
  const std::int32_t width = frame.width;
  const std::int32_t height = frame.height;
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
  std::memset(out->row(0), 0, rowBytes);
  std::memset(out->row(height - 1), 0, rowBytes);
  if (width < 3) {
    for (std::int32_t y = 1; y < height - 1; ++y) std::memset(out->row(y), 0, rowBytes);
    return out;
  }
  const SumTables& tables = sumTables();
  std::vector<std::int16_t> smooth(rowBytes), difference(rowBytes);
  std::vector<std::uint16_t> sums(rowBytes);
  for (std::int32_t y = 1; y < height - 1; ++y) {
    edgeRow(frame.row(y - 1),
            frame.row(y),
            frame.row(y + 1),
            out->row(y),
            width,
            smooth.data(),
            difference.data(),
            sums.data(),
            tables);
  }
  return out;
}

}  // namespace epipolar
