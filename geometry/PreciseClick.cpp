#include "geometry/PreciseClick.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "geometry/ZnccInternal.h"

namespace epipolar {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Structure tensor window 5x5; corner refinement window 9x9: on the virtual rig's corners an
// 11x11 window reaches neighbouring structure more often, and 7x7 is noisier.
constexpr int kTensorHalf = 2;
constexpr int kRefineHalf = 4;
constexpr int kRefineIterations = 40;
constexpr double kRefineStep = 0.01;  // px: the refinement stops when it moves less
// A corner refined to just beyond the radius still belongs to the strongest response inside
// it (the response peak is a few pixels wide).
constexpr double kSnapSlack = 0.5;
// How far the corner polish of a matched click may move it (pixels).
constexpr double kPolishReach = 1.0;
// Luminance patches reach far enough for the tensor, the refinement window and its drift.
constexpr int kPatchRadius = 16;

// Luminance of the pixels within `radius` of (cx, cy), cut to the picture.
class LumaPatch {
 public:
  LumaPatch(const Image& image, int cx, int cy, int radius) {
    x0_ = std::max(cx - radius, 0);
    y0_ = std::max(cy - radius, 0);
    const int x1 = std::min(cx + radius, image.width - 1);
    const int y1 = std::min(cy + radius, image.height - 1);
    width_ = std::max(x1 - x0_ + 1, 0);
    height_ = std::max(y1 - y0_ + 1, 0);
    values_.resize(static_cast<std::size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        values_[y * width_ + x] = detail::sampleAt(image, x0_ + x, y0_ + y, 0, false);
  }

  // True when pixels x - margin .. x + margin and likewise in y are all in the patch.
  bool has(int x, int y, int margin) const {
    return x - margin >= x0_ && y - margin >= y0_ && x + margin < x0_ + width_ &&
           y + margin < y0_ + height_;
  }
  float at(int x, int y) const { return values_[(y - y0_) * width_ + (x - x0_)]; }

  // Bilinear interpolation at (x, y); NaN when the four pixels are not all in the patch.
  double sample(double x, double y) const {
    const double fx = std::floor(x), fy = std::floor(y);
    if (!(fx >= x0_ && fy >= y0_ && fx + 1 < x0_ + width_ && fy + 1 < y0_ + height_)) return kNaN;
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const double ax = x - fx, ay = y - fy;
    const double top = at(ix, iy) + ax * (at(ix + 1, iy) - at(ix, iy));
    const double bottom = at(ix, iy + 1) + ax * (at(ix + 1, iy + 1) - at(ix, iy + 1));
    return top + ay * (bottom - top);
  }

 private:
  int x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;
  std::vector<float> values_;
};

// Mean over the 5x5 window of the smaller eigenvalue of the structure tensor at (x, y), from
// Sobel gradients divided by 8 (grey levels per pixel). NaN when the patch does not cover it.
double cornerResponse(const LumaPatch& patch, int x, int y) {
  if (!patch.has(x, y, kTensorHalf + 1)) return kNaN;
  double gxx = 0, gxy = 0, gyy = 0;
  for (int v = -kTensorHalf; v <= kTensorHalf; ++v) {
    for (int u = -kTensorHalf; u <= kTensorHalf; ++u) {
      const int px = x + u, py = y + v;
      const double gx =
          (patch.at(px + 1, py - 1) + 2.0 * patch.at(px + 1, py) + patch.at(px + 1, py + 1) -
           patch.at(px - 1, py - 1) - 2.0 * patch.at(px - 1, py) - patch.at(px - 1, py + 1)) /
          8.0;
      const double gy =
          (patch.at(px - 1, py + 1) + 2.0 * patch.at(px, py + 1) + patch.at(px + 1, py + 1) -
           patch.at(px - 1, py - 1) - 2.0 * patch.at(px, py - 1) - patch.at(px + 1, py - 1)) /
          8.0;
      gxx += gx * gx;
      gxy += gx * gy;
      gyy += gy * gy;
    }
  }
  const double area = (2 * kTensorHalf + 1) * (2 * kTensorHalf + 1);
  const double halfTrace = (gxx + gyy) / 2.0;
  const double root = std::hypot((gxx - gyy) / 2.0, gxy);
  return (halfTrace - root) / area;
}

// cornerSubPix's iteration from (x, y): with gradients g at window points p, solve
// sum w g g^T q = sum w g g^T p for q, move there, repeat. False when the window leaves the
// patch, or when the system is singular before the first step.
bool refineCorner(const LumaPatch& patch, double& x, double& y) {
  constexpr int kSide = 2 * kRefineHalf + 3;  // the window plus one pixel for the gradients
  static const std::array<double, 2 * kRefineHalf + 1> weight = [] {
    std::array<double, 2 * kRefineHalf + 1> w{};
    for (int i = -kRefineHalf; i <= kRefineHalf; ++i) {
      const double t = static_cast<double>(i) / kRefineHalf;
      w[i + kRefineHalf] = std::exp(-t * t);
    }
    return w;
  }();
  std::array<double, static_cast<std::size_t>(kSide) * kSide> window{};
  bool moved = false;
  for (int iteration = 0; iteration < kRefineIterations; ++iteration) {
    for (int i = 0; i < kSide; ++i) {
      for (int j = 0; j < kSide; ++j) {
        window[i * kSide + j] = patch.sample(x + j - kRefineHalf - 1, y + i - kRefineHalf - 1);
        if (std::isnan(window[i * kSide + j])) return false;
      }
    }
    double a = 0, b = 0, c = 0, bb1 = 0, bb2 = 0;
    for (int i = -kRefineHalf; i <= kRefineHalf; ++i) {
      for (int j = -kRefineHalf; j <= kRefineHalf; ++j) {
        const int at = (i + kRefineHalf + 1) * kSide + (j + kRefineHalf + 1);
        const double gx = window[at + 1] - window[at - 1];
        const double gy = window[at + kSide] - window[at - kSide];
        const double m = weight[i + kRefineHalf] * weight[j + kRefineHalf];
        const double gxx = gx * gx * m, gxy = gx * gy * m, gyy = gy * gy * m;
        a += gxx;
        b += gxy;
        c += gyy;
        bb1 += gxx * j + gxy * i;
        bb2 += gxy * j + gyy * i;
      }
    }
    const double det = a * c - b * b;
    if (!(std::fabs(det) > 1e-9 * (a * c + b * b)) || !std::isfinite(det)) return moved;
    const double dx = (c * bb1 - b * bb2) / det;
    const double dy = (a * bb2 - b * bb1) / det;
    x += dx;
    y += dy;
    moved = true;
    if (dx * dx + dy * dy < kRefineStep * kRefineStep) break;
  }
  return moved;
}

// When the first point sits on a corner, the matched point is moved onto the same corner of
// the second picture: the corner refinement is exact for the junction of straight edges in
// both views, whereas a window match drifts by a fraction of a pixel where the views differ
// by more than a shift (perspective, a background that moves behind an edge). With c1 the
// corner the refinement reaches from the first point and c2 the one it reaches from the
// match, the match becomes c2 - (c1 - first point). Nothing changes unless both refinements
// succeed, the first point lies within kPolishReach of its corner and the move stays within
// kPolishReach as well.
void polishAtCorner(const Image& first,
                    ImagePosition firstPoint,
                    const Image& second,
                    ImagePosition& matched) {
  const int fx = detail::nearestPixel(firstPoint.x), fy = detail::nearestPixel(firstPoint.y);
  const LumaPatch firstPatch(first, fx, fy, kPatchRadius);
  if (!(cornerResponse(firstPatch, fx, fy) >= kMinCornerStrength)) return;
  double c1x = firstPoint.x, c1y = firstPoint.y;
  if (!refineCorner(firstPatch, c1x, c1y)) return;
  const double offsetX = c1x - firstPoint.x, offsetY = c1y - firstPoint.y;
  if (std::hypot(offsetX, offsetY) > kPolishReach) return;
  const LumaPatch secondPatch(
      second, detail::nearestPixel(matched.x), detail::nearestPixel(matched.y), kPatchRadius);
  double c2x = matched.x, c2y = matched.y;
  if (!refineCorner(secondPatch, c2x, c2y)) return;
  const ImagePosition polished{c2x - offsetX, c2y - offsetY};
  if (std::hypot(polished.x - matched.x, polished.y - matched.y) > kPolishReach) return;
  matched = polished;
}

}  // namespace

RefinedClick snapToCorner(const Image& image, ImagePosition click) {
  RefinedClick result{click, false};
  if (!std::isfinite(click.x) || !std::isfinite(click.y)) return result;
  const int cx = detail::nearestPixel(click.x);
  const int cy = detail::nearestPixel(click.y);
  if (!image.contains(cx, cy)) return result;
  const int reach = static_cast<int>(std::ceil(kCornerSnapRadius)) + 1;
  const LumaPatch patch(image, cx, cy, kPatchRadius);

  double best = -1.0;
  int bx = 0, by = 0;
  for (int y = cy - reach; y <= cy + reach; ++y) {
    for (int x = cx - reach; x <= cx + reach; ++x) {
      if (std::hypot(x - click.x, y - click.y) > kCornerSnapRadius) continue;
      const double response = cornerResponse(patch, x, y);
      if (response > best) {
        best = response;
        bx = x;
        by = y;
      }
    }
  }
  if (!(best >= kMinCornerStrength)) return result;
  // The response is high over a few pixels around a corner, so its maximum in the circle
  // may sit off the corner; the refinement, which converges from anywhere in its window,
  // finds the corner itself, and that must lie within the radius.
  double x = bx, y = by;
  if (!refineCorner(patch, x, y) || std::fabs(x - bx) > kRefineHalf ||
      std::fabs(y - by) > kRefineHalf) {
    x = bx;
    y = by;
  }
  if (std::hypot(x - click.x, y - click.y) > kCornerSnapRadius + kSnapSlack) return result;
  return {{x, y}, true};
}

RefinedClick refineMatchingClick(const Image& first,
                                 ImagePosition firstPoint,
                                 const Image& second,
                                 ImagePosition click) {
  RefinedClick result{click, false};
  if (!std::isfinite(click.x) || !std::isfinite(click.y) || !std::isfinite(firstPoint.x) ||
      !std::isfinite(firstPoint.y)) {
    return result;
  }
  const detail::ZnccTemplate t = detail::makeZnccTemplate(
      first, detail::nearestPixel(firstPoint.x), detail::nearestPixel(firstPoint.y), {});
  if (!t.textured) return result;
  const int cx = detail::nearestPixel(click.x);
  const int cy = detail::nearestPixel(click.y);
  if (!second.contains(cx, cy)) return result;

  // Scores of the square within the radius and a ring of one pixel around it, for the fit.
  constexpr int kSide = 2 * kClickSearchRadius + 3;
  std::array<double, static_cast<std::size_t>(kSide) * kSide> scores{};
  auto score = [&](int dx, int dy) -> double& {
    return scores[(dy + kClickSearchRadius + 1) * kSide + (dx + kClickSearchRadius + 1)];
  };
  for (int dy = -kClickSearchRadius - 1; dy <= kClickSearchRadius + 1; ++dy)
    for (int dx = -kClickSearchRadius - 1; dx <= kClickSearchRadius + 1; ++dx)
      score(dx, dy) = detail::znccAt(t, second, cx + dx, cy + dy);

  double best = -std::numeric_limits<double>::infinity();
  int bx = 0, by = 0;
  for (int dy = -kClickSearchRadius; dy <= kClickSearchRadius; ++dy) {
    for (int dx = -kClickSearchRadius; dx <= kClickSearchRadius; ++dx) {
      if (score(dx, dy) > best) {
        best = score(dx, dy);
        bx = dx;
        by = dy;
      }
    }
  }
  if (!(best >= kZnccMinScore)) return result;
  std::array<std::array<double, 3>, 3> around{};
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      around[dy + 1][dx + 1] = score(bx + dx, by + dy);
      if (around[dy + 1][dx + 1] > best) return result;  // the peak lies outside the radius
    }
  }
  const std::array<double, 2> offset = detail::quadraticPeakOffset(around);
  ImagePosition matched{cx + bx + offset[0] + (firstPoint.x - t.cx),
                        cy + by + offset[1] + (firstPoint.y - t.cy)};
  polishAtCorner(first, firstPoint, second, matched);
  return {matched, true};
}

std::string formatRefinedClickLine(int window, ImagePosition click, ImagePosition refined) {
  auto coordinate = [](double value) {
    char text[64];
    std::snprintf(text, sizeof text, value == std::round(value) ? "%.0f" : "%.2f", value);
    return std::string(text);
  };
  char text[96];
  std::snprintf(text, sizeof text, " -> %.2f, %.2f", refined.x, refined.y);
  return "Refined click in (" + std::to_string(window) + "): " + coordinate(click.x) + ", " +
         coordinate(click.y) + text;
}

}  // namespace epipolar
