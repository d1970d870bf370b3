#include "capture/VirtualView.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <utility>

#include "capture/Shading.h"

namespace epipolar {
namespace {

struct PixelRect {
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
  bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

// Pixel rectangle around the projections of `corners` with a 2 px margin, clipped to the
// picture; the whole picture when a corner is not in front of the camera.
PixelRect bound(const PinholeCamera& camera, std::span<const Vec3> corners, int width, int height) {
  double minX = 1e30, minY = 1e30, maxX = -1e30, maxY = -1e30;
  for (const Vec3& X : corners) {
    double x, y;
    if (!camera.project(X, x, y)) return PixelRect{0, 0, width - 1, height - 1};
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  }
  PixelRect r;
  r.x0 = std::max(0, static_cast<int>(std::floor(std::max(minX, -1e6))) - 2);
  r.y0 = std::max(0, static_cast<int>(std::floor(std::max(minY, -1e6))) - 2);
  r.x1 = std::min(width - 1, static_cast<int>(std::ceil(std::min(maxX, 1e6))) + 2);
  r.y1 = std::min(height - 1, static_cast<int>(std::ceil(std::min(maxY, 1e6))) + 2);
  return r;
}

// One ball at one instant, as one camera sees it.
struct BallInFrame {
  Vec3 centre;
  PixelRect rect;  // around the ball's bounding cube
  // A soft shadow below the ball, along the light, wider and fainter as the ball rises: the
  // floor is darkened by depth * exp(-d^2 / size^2) at distance d from (shadowX, shadowY).
  double shadowX, shadowY, shadowSize, shadowDepth;
  PixelRect shadowRect;     // out to 2.5 sizes
  double spinCos, spinSin;  // its turn about the vertical
};
using BallsInFrame = std::array<BallInFrame, VirtualScene::kBallCount>;

BallsInFrame placeBalls(
    const VirtualScene& scene, int index, double seconds, int width, int height) {
  const PinholeCamera& camera = scene.camera(index);
  const Vec3& light = scene.room().light();
  BallsInFrame balls;
  for (int i = 0; i < VirtualScene::kBallCount; ++i) {
    BallInFrame& ball = balls[i];
    const Vec3 c = scene.ballCentre(i, seconds);
    const double radius = scene.ball(i).radius;
    ball.centre = c;
    std::array<Vec3, 8> cube;
    for (int k = 0; k < 8; ++k)
      cube[k] = {c.x + ((k & 1) ? radius : -radius),
                 c.y + ((k & 2) ? radius : -radius),
                 c.z + ((k & 4) ? radius : -radius)};
    ball.rect = bound(camera, cube, width, height);
    const double lift = c.z - radius;  // above the floor
    ball.shadowX = c.x - light.x * c.z / light.z;
    ball.shadowY = c.y - light.y * c.z / light.z;
    ball.shadowSize = radius * (1.1 + 1.5 * lift);
    ball.shadowDepth = 0.55 / (1 + 3 * lift);
    const double reach = 2.5 * ball.shadowSize;
    const std::array<Vec3, 4> square = {{{ball.shadowX - reach, ball.shadowY - reach, 0},
                                         {ball.shadowX + reach, ball.shadowY - reach, 0},
                                         {ball.shadowX - reach, ball.shadowY + reach, 0},
                                         {ball.shadowX + reach, ball.shadowY + reach, 0}}};
    ball.shadowRect = bound(camera, square, width, height);
    const double spin = scene.ball(i).spinRate * seconds;
    ball.spinCos = std::cos(spin);
    ball.spinSin = std::sin(spin);
  }
  return balls;
}

// Darkens the floor under the balls, each floor pixel once even where rectangles overlap.
void drawShadows(Image& frame, const StaticView& still, const BallsInFrame& balls) {
  const int width = frame.width;
  for (std::size_t i = 0; i < balls.size(); ++i) {
    const PixelRect& r = balls[i].shadowRect;
    for (int y = r.y0; y <= r.y1; ++y) {
      std::uint8_t* row = frame.row(y);
      for (int x = r.x0; x <= r.x1; ++x) {
        bool done = false;
        for (std::size_t j = 0; j < i; ++j) done = done || balls[j].shadowRect.contains(x, y);
        const std::size_t at = static_cast<std::size_t>(y) * width + x;
        if (done || !still.floor[at]) continue;
        double keep = 1;
        for (const BallInFrame& ball : balls) {
          const double dx = still.floorXY[2 * at] - ball.shadowX,
                       dy = still.floorXY[2 * at + 1] - ball.shadowY;
          keep *= 1 - ball.shadowDepth *
                          std::exp(-(dx * dx + dy * dy) / (ball.shadowSize * ball.shadowSize));
        }
        for (int k = 0; k < 3; ++k)
          row[3 * x + k] = static_cast<std::uint8_t>(row[3 * x + k] * keep + 0.5);
      }
    }
  }
}

// The 2x2 samples of pixel (x, y) that meet a ball nearer than the static scene: their count,
// and their colours added to `sum` (red, green, blue) when it is given.
int ballSamples(const VirtualScene& scene,
                int index,
                const BallsInFrame& balls,
                int x,
                int y,
                float staticDepth,
                float* sum) {
  const PinholeCamera& camera = scene.camera(index);
  const Vec3& origin = camera.centre;
  int covered = 0;
  for (int sample = 0; sample < 4; ++sample) {
    const Vec3 d =
        camera.pixelRay(x + ((sample & 1) ? 0.25 : -0.25), y + ((sample & 2) ? 0.25 : -0.25));
    double nearest = staticDepth;
    int which = -1;
    for (int j = 0; j < VirtualScene::kBallCount; ++j) {
      const double t = sphereEntry(origin, d, balls[j].centre, scene.ball(j).radius);
      if (t > 0 && t < nearest) nearest = t, which = j;
    }
    if (which < 0) continue;
    ++covered;
    if (sum == nullptr) continue;
    const BallInFrame& ball = balls[which];
    const Rgb colour =
        scene.shader().ball(which, ball.centre, origin + d * nearest, ball.spinCos, ball.spinSin);
    sum[0] += colour.r, sum[1] += colour.g, sum[2] += colour.b;
  }
  return covered;
}

// Calls visit(x, y, at) for each pixel inside some ball's rectangle, once even where the
// rectangles overlap; `at` is the pixel's row-major index.
template <typename Visit>
void forBallPixels(const BallsInFrame& balls, int width, Visit visit) {
  for (std::size_t i = 0; i < balls.size(); ++i) {
    const PixelRect& r = balls[i].rect;
    for (int y = r.y0; y <= r.y1; ++y) {
      for (int x = r.x0; x <= r.x1; ++x) {
        bool done = false;
        for (std::size_t j = 0; j < i; ++j) done = done || balls[j].rect.contains(x, y);
        if (!done) visit(x, y, static_cast<std::size_t>(y) * width + x);
      }
    }
  }
}

// Ray casts the pixels the balls may cover and mixes the balls' colour with the background
// by the share of samples that meet a ball.
void drawBalls(Image& frame,
               const VirtualScene& scene,
               int index,
               const StaticView& still,
               const BallsInFrame& balls) {
  forBallPixels(balls, frame.width, [&](int x, int y, std::size_t at) {
    float sum[3] = {0, 0, 0};
    const int covered = ballSamples(scene, index, balls, x, y, still.depth[at], sum);
    if (covered == 0) return;
    const float share = covered * 0.25f;
    const float mix[3] = {sum[2] * 0.25f, sum[1] * 0.25f, sum[0] * 0.25f};
    std::uint8_t* pixel = frame.row(y) + 3 * x;
    for (int k = 0; k < 3; ++k) {
      const float old = pixel[k] * (1.0f / 255.0f);
      pixel[k] = componentByte(old * (1 - share) + mix[k]);
    }
  });
}

}  // namespace

std::vector<std::uint8_t> ballCoverage(const VirtualScene& scene, int index, double seconds) {
  const int width = VirtualScene::kWidth, height = VirtualScene::kHeight;
  const StaticView& still = scene.staticView(index);
  const BallsInFrame balls = placeBalls(scene, index, seconds, width, height);
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * height, 0);
  forBallPixels(balls, width, [&](int x, int y, std::size_t at) {
    mask[at] = ballSamples(scene, index, balls, x, y, still.depth[at], nullptr) > 0;
  });
  return mask;
}

VirtualView::VirtualView(std::shared_ptr<const VirtualScene> scene, int index, std::uint64_t seed)
    : scene_(std::move(scene)), index_(index), static_(&scene_->staticView(index)), engine_(seed) {
  // Sensor noise: a normal pattern about 2 grey levels wide, read from a random offset each
  // frame, costs one add per byte instead of one draw per byte.
  std::normal_distribution<float> normal(0.0f, 2.0f);
  noise_.resize(static_->background->size + 65536);
  for (auto& n : noise_)
    n = static_cast<std::int8_t>(std::clamp(std::lround(normal(engine_)), -6l, 6l));
}

std::unique_ptr<Image> VirtualView::renderClean(double seconds) {
  auto frame = std::make_unique<Image>(*static_->background);
  const BallsInFrame balls = placeBalls(*scene_, index_, seconds, frame->width, frame->height);
  drawShadows(*frame, *static_, balls);
  drawBalls(*frame, *scene_, index_, *static_, balls);
  return frame;
}

std::unique_ptr<Image> VirtualView::renderFrame(double seconds) {
  auto frame = renderClean(seconds);
  const std::size_t offset = std::uniform_int_distribution<std::size_t>(0, 65535)(engine_);
  const std::int8_t* noise = noise_.data() + offset;
  // Rows are contiguous and the noise also lands on row padding, so padding is cleared after.
  std::uint8_t* pixels = frame->data.get() + frame->pixelOffset;
  const std::size_t count = frame->size - static_cast<std::uint32_t>(frame->pixelOffset);
  for (std::size_t i = 0; i < count; ++i) {
    const int v = pixels[i] + noise[i];
    pixels[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  const int rowBytes = 3 * frame->width;
  if (frame->stride() != rowBytes)
    for (int y = 0; y < frame->height; ++y)
      std::memset(frame->row(y) + rowBytes, 0, frame->stride() - rowBytes);
  return frame;
}

}  // namespace epipolar
