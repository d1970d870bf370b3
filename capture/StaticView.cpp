#include "capture/StaticView.h"

#include <algorithm>

#include "capture/Shading.h"
#include "capture/VirtualScene.h"

namespace epipolar {

std::unique_ptr<StaticView> renderStaticView(const VirtualScene& scene, int index) {
  const int width = VirtualScene::kWidth, height = VirtualScene::kHeight;
  const PinholeCamera& camera = scene.camera(index);
  const Room& room = scene.room();
  const Shader& shader = scene.shader();
  auto view = std::make_unique<StaticView>();
  view->background = Image::blank(width, height);
  view->depth.assign(static_cast<std::size_t>(width) * height, 1e30f);
  view->floor.assign(static_cast<std::size_t>(width) * height, 0);
  view->floorXY.assign(2 * static_cast<std::size_t>(width) * height, 0.0f);
  const Vec3 origin = camera.centre;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = view->background->row(y);
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      float sum[3] = {0, 0, 0};
      double floorX = 0, floorY = 0;
      int floorSamples = 0;
      for (int sample = 0; sample < 4; ++sample) {
        const double sx = x + ((sample & 1) ? 0.25 : -0.25);
        const double sy = y + ((sample & 2) ? 0.25 : -0.25);
        const Hit hit = room.cast(origin, camera.pixelRay(sx, sy));
        const Rgb colour = shader.surface(hit);
        sum[0] += colour.r, sum[1] += colour.g, sum[2] += colour.b;
        if (hit.found()) view->depth[at] = std::min(view->depth[at], static_cast<float>(hit.t));
        if (hit.surface.kind == Surface::kFloor) {
          floorX += hit.point.x, floorY += hit.point.y;
          ++floorSamples;
        }
      }
      row[3 * x + 0] = componentByte(sum[2] * 0.25f);
      row[3 * x + 1] = componentByte(sum[1] * 0.25f);
      row[3 * x + 2] = componentByte(sum[0] * 0.25f);
      if (floorSamples > 0) {
        view->floor[at] = 1;
        view->floorXY[2 * at] = static_cast<float>(floorX / floorSamples);
        view->floorXY[2 * at + 1] = static_cast<float>(floorY / floorSamples);
      }
    }
  }
  return view;
}

}  // namespace epipolar
