// The still part of one virtual camera's picture: everything but the balls and their
// shadows, ray cast once with 2x2 samples per pixel, and what the per-frame renderer needs to
// draw the moving balls over it without casting the room again.
//
// Per-pixel arrays are row-major, top row first, width * height long (VirtualScene::kWidth,
// kHeight); distances in metres along the unit rays from the camera centre.
// Threads: a StaticView is written once by renderStaticView and then only read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/Image.h"

namespace epipolar {

class VirtualScene;

struct StaticView {
  std::unique_ptr<Image> background;  // the lit room without balls or noise
  std::vector<float> depth;           // nearest static distance of the 4 samples; 1e30: none
  std::vector<std::uint8_t> floor;    // 1 where some sample meets the floor
  std::vector<float> floorXY;         // mean floor point (x, y) of those samples, interleaved
};

// Ray casts camera `index`'s static picture: tens of milliseconds. VirtualScene::staticView
// keeps one per camera.
std::unique_ptr<StaticView> renderStaticView(const VirtualScene& scene, int index);

}  // namespace epipolar
