// Colours of the virtual rig's surfaces: procedural textures (checkers, bricks, planks, tiles,
// the poster, box faces with dark trims, all with value-noise grain so that match windows of
// any size see texture) lit by one distant light with box shadows, and the shaded balls.
//
// Colours are linear components, about [0, 1] (a ball's highlight may exceed 1; the renderer
// clamps). Every texture is a pure function of the world position, so both cameras see the
// same surface detail. Threads: a Shader is immutable and may be shared by any threads.
#pragma once

#include <algorithm>
#include <cstdint>

#include "capture/Room.h"
#include "capture/SceneLayout.h"
#include "geometry/Vec3.h"

namespace epipolar {

class Shader {
 public:
  // Keeps a reference to `room`, which must outlive the Shader.
  explicit Shader(const Room& room);

  // Lit colour of a static hit; a dark grey where the ray met nothing.
  Rgb surface(const Hit& hit) const;

  // Lit colour of ball `index` centred at `centre`, seen at its surface point p, turned about
  // the vertical by the angle whose cosine and sine are given.
  Rgb ball(int index, const Vec3& centre, const Vec3& p, double spinCos, double spinSin) const;

 private:
  const Room& room_;
  Vec3 halfway_;  // between the light and the vertical, for the balls' highlight
};

// The stored byte of a colour component: clamped to [0, 1], times 255, rounded.
inline std::uint8_t componentByte(float component) {
  return static_cast<std::uint8_t>(std::clamp(component, 0.0f, 1.0f) * 255.0f + 0.5f);
}

}  // namespace epipolar
