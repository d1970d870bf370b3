#include "imaging/Colour.h"

#include <algorithm>
#include <cmath>

namespace epipolar {

void Colour::toHsv(float& h, float& s, float& v) const {
  v = std::max(r, std::max(g, b));
  const float m = std::min(r, std::min(g, b));
  const float delta = v - m;
  if (v == 0.0f) {
    s = 0.0f;
    h = -1.0f;
    return;
  }
  s = delta / v;
  if (delta == 0.0f) {  // grey: see the header
    h = 0.0f;
    return;
  }
  if (r == v) {
    h = (g - b) / delta;
  } else if (g == v) {
    h = 2.0f + (b - r) / delta;
  } else {
    h = 4.0f + (r - g) / delta;
  }
  h = h * 60.0f;
  if (h < 0.0f) h = h + 360.0f;
}

void Colour::fromHsv(float h, float s, float v) {
  if (s == 0.0f) {
    r = g = b = v;
    return;
  }
  const float hh = h * (1.0f / 60.0f);
  const float floored = std::floor(hh);
  // Converting a float that is not finite or beyond the int range is undefined; only those
  // hues are guarded, and they take the last row like every other sector outside 0..4. The
  // fraction is taken from the floor itself, which equals hh - i wherever i exists.
  const bool fitsInt =
      std::isfinite(floored) && floored >= -2147483648.0f && floored < 2147483648.0f;
  const int i = fitsInt ? static_cast<int>(floored) : -1;
  const float f = hh - floored;
  const float p = v * (1.0f - s);
  const float q = v * (1.0f - s * f);
  const float t = v * (1.0f - s * (1.0f - f));
  switch (i) {
    case 0:
      r = v, g = t, b = p;
      break;
    case 1:
      r = q, g = v, b = p;
      break;
    case 2:
      r = p, g = v, b = t;
      break;
    case 3:
      r = p, g = q, b = v;
      break;
    case 4:
      r = t, g = p, b = v;
      break;
    default:
      r = v, g = p, b = q;
      break;
  }
}

Colour Colour::difference(const Colour& other) const {
  float h1, s1, v1, h2, s2, v2;
  toHsv(h1, s1, v1);
  other.toHsv(h2, s2, v2);
  const float d = (h1 - h2) * (1.0f / 360.0f);
  const float hue = d * d * 360.0f;
  const float ds = s1 - s2;
  const float dv = v1 - v2;
  const float saturation = ds * ds;
  const float value = dv * dv;
  Colour result;
  result.fromHsv(hue, saturation, value);
  return result;
}

std::ostream& operator<<(std::ostream& out, const Colour& colour) {
  float h, s, v;
  colour.toHsv(h, s, v);
  return out << "(" << h << ", " << s << ", " << v << ")";
}

}  // namespace epipolar
