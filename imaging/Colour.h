// A colour as three single-precision floats r, g, b, nominally in [0, 1], with the HSV
// conversions and the colour difference that the match score is built on.
//
// All arithmetic is single precision; the operations are exact ports of the arithmetic the
// match search and edge picture depend on, so results are reproducible bit for bit.
#pragma once

#include <cstdint>
#include <ostream>

namespace epipolar {

// The float nearest to 1/255; pixel bytes are scaled by it.
inline constexpr float kByteScale = 1.0f / 255.0f;

struct Colour {
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;

  Colour() = default;
  Colour(float red, float green, float blue) : r(red), g(green), b(blue) {}
  // From a stored pixel: bytes blue, green, red.
  explicit Colour(const std::uint8_t* bgr)
      : r(bgr[2] * kByteScale), g(bgr[1] * kByteScale), b(bgr[0] * kByteScale) {}

  void components(float& red, float& green, float& blue) const {
    red = r;
    green = g;
    blue = b;
  }

  // Hue in degrees [0, 360), saturation and value in [0, 1].
  // Black (v = 0) has hue -1 and saturation 0. A grey that is not black (v > 0, no spread
  // between components) has hue 0: the hue formula would divide 0 by 0 there, and the match
  // score needs a definite, finite hue for every pixel.
  // When two components share the maximum, red wins over green and green over blue.
  void toHsv(float& h, float& s, float& v) const;

  // Replaces r, g, b from hue (degrees), saturation and value. With s = 0 the hue is ignored.
  // Sector i = floor(h / 60); i outside 0..4 (including h = 360 and negative hues) takes the
  // last sector's formula, as do non-finite hues.
  void fromHsv(float h, float s, float v);

  // The difference colour: hue = ((H1 - H2)/360)^2 * 360, saturation = (S1 - S2)^2,
  // value = (V1 - V2)^2, converted back with fromHsv. Hues are not wrapped around the circle
  // and black's hue of -1 enters unchanged. Equal colours give (0, 0, 0).
  Colour difference(const Colour& other) const;
};

// Writes "(" h ", " s ", " v ")" using the stream's current number format.
std::ostream& operator<<(std::ostream& out, const Colour& colour);

}  // namespace epipolar
