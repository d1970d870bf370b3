// One camera's frames of the virtual rig: the pre-rendered static picture, with the moving
// balls and their soft floor shadows drawn over it, and sensor noise.
//
// Each frame copies the camera's StaticView picture, darkens the floor under the balls,
// ray casts only the pixels the balls may cover (2x2 samples per pixel, against the static
// depth, mixed with the background by the share of samples that meet a ball) and adds noise
// read from a pattern drawn once by the view's own <random> engine.
//
// Frames are 640x480 BMP blocks (imaging/Image.h); time is seconds since the rig started.
// Threads: a VirtualView is used by one thread at a time; the scene is shared read-only.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "capture/VirtualScene.h"
#include "imaging/Image.h"

namespace epipolar {

class VirtualView {
 public:
  // A view of camera `index`; the first view of a camera ray casts its static picture.
  // `seed` starts the noise engine: views with the same seed give the same frames.
  VirtualView(std::shared_ptr<const VirtualScene> scene, int index, std::uint64_t seed);

  // The complete frame at `seconds`. Each call draws the next noise offset.
  std::unique_ptr<Image> renderFrame(double seconds);
  // The same without sensor noise; deterministic.
  std::unique_ptr<Image> renderClean(double seconds);

  // The static picture alone (no balls, no noise).
  const Image& background() const { return *static_->background; }

 private:
  std::shared_ptr<const VirtualScene> scene_;
  int index_;
  const StaticView* static_;
  std::mt19937_64 engine_;
  std::vector<std::int8_t> noise_;  // sensor noise pattern, longer than a frame
};

// 1 for each pixel of camera `index` whose colour at `seconds` comes partly from a ball (some
// of its 2x2 samples meet a ball before the static scene), 0 elsewhere. Row-major, top row
// first, kWidth * kHeight long. Renders the camera's static view on first use.
std::vector<std::uint8_t> ballCoverage(const VirtualScene& scene, int index, double seconds);

}  // namespace epipolar
