#include "capture/Shading.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace epipolar {
namespace {

// Deterministic texture noise: a hash of lattice points, smoothly interpolated.
float latticeHash(std::int64_t a, std::int64_t b, std::uint32_t salt) {
  std::uint64_t h = static_cast<std::uint64_t>(a) * 0x9E3779B97F4A7C15ull ^
                    static_cast<std::uint64_t>(b) * 0xC2B2AE3D27D4EB4Full ^
                    static_cast<std::uint64_t>(salt) * 0x165667B19E3779F9ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<float>(h >> 40) * (1.0f / 16777216.0f);
}

float valueNoise(double u, double v, std::uint32_t salt) {
  const double fu = std::floor(u), fv = std::floor(v);
  const auto i = static_cast<std::int64_t>(fu), j = static_cast<std::int64_t>(fv);
  double su = u - fu, sv = v - fv;
  su = su * su * (3 - 2 * su);
  sv = sv * sv * (3 - 2 * sv);
  const double a = latticeHash(i, j, salt), b = latticeHash(i + 1, j, salt);
  const double c = latticeHash(i, j + 1, salt), d = latticeHash(i + 1, j + 1, salt);
  return static_cast<float>((a + (b - a) * su) * (1 - sv) + (c + (d - c) * su) * sv);
}

// Two octaves: 4 cm blobs and 1.5 cm grain, so match windows of any size see texture.
float grain(double u, double v, std::uint32_t salt) {
  return 0.6f * valueNoise(u * 25, v * 25, salt) + 0.4f * valueNoise(u * 70, v * 70, salt + 7);
}

double positiveMod(double a, double m) { return a - m * std::floor(a / m); }

// A surface's colour before lighting, and the texture factor that scales its brightness.
struct Paint {
  Rgb colour;
  float texture = 1.0f;
};

Paint floorPaint(const Vec3& p) {
  const bool dark = (static_cast<std::int64_t>(std::floor(p.x / kCheckerSide)) +
                     static_cast<std::int64_t>(std::floor(p.y / kCheckerSide))) &
                    1;
  return {dark ? Rgb{0.30f, 0.36f, 0.46f} : Rgb{0.86f, 0.80f, 0.66f},
          0.86f + 0.28f * grain(p.x, p.y, 1)};
}

// Bricks in rows offset by half a brick, and the four-colour poster.
Paint backWallPaint(const Vec3& p) {
  if (p.x >= kPoster.left && p.x <= kPoster.right && p.z >= kPoster.bottom && p.z <= kPoster.top) {
    const bool right = p.x > kPoster.middleX();
    const bool top = p.z > kPoster.middleZ();
    Rgb c;
    if (top && !right) c = {0.95f, 0.80f, 0.10f};   // yellow
    if (top && right) c = {0.10f, 0.35f, 0.80f};    // blue
    if (!top && !right) c = {0.95f, 0.95f, 0.92f};  // white
    if (!top && right) c = {0.12f, 0.12f, 0.12f};   // black
    return {c, 0.94f + 0.12f * grain(p.x, p.z, 2)};
  }
  const double rowHeight = 0.12, length = 0.30, mortar = 0.012;
  const double row = std::floor(p.z / rowHeight);
  const double along = p.x + (static_cast<std::int64_t>(row) & 1 ? length / 2 : 0);
  const double brick = std::floor(along / length);
  Rgb c;
  if (p.z - row * rowHeight < mortar || along - brick * length < mortar) {
    c = {0.74f, 0.73f, 0.69f};
  } else {
    const float v =
        0.78f +
        0.35f * latticeHash(static_cast<std::int64_t>(brick), static_cast<std::int64_t>(row), 3);
    c = {0.62f * v, 0.28f * v, 0.18f * v};
  }
  return {c, 0.88f + 0.24f * grain(p.x, p.z, 4)};
}

// Vertical planks with dark joints and a grain stretched along them.
Paint leftWallPaint(const Vec3& p) {
  const double width = 0.18;
  const double plank = std::floor(p.y / width);
  Rgb c;
  if (p.y - plank * width < 0.008) {
    c = {0.20f, 0.14f, 0.09f};
  } else {
    const float v = 0.8f + 0.3f * latticeHash(static_cast<std::int64_t>(plank), 0, 5);
    c = {0.60f * v, 0.41f * v, 0.24f * v};
  }
  return {
      c,
      0.82f + 0.3f * valueNoise(p.y * 60, p.z * 4, 6) + 0.08f * valueNoise(p.y * 30, p.z * 30, 7)};
}

// Square tiles with light grout.
Paint rightWallPaint(const Vec3& p) {
  const double size = 0.2;
  const double u = positiveMod(p.y, size), v = positiveMod(p.z, size);
  Rgb c;
  if (u < 0.01 || v < 0.01) {
    c = {0.86f, 0.86f, 0.83f};
  } else {
    const float k = 0.88f + 0.22f * latticeHash(static_cast<std::int64_t>(std::floor(p.y / size)),
                                                static_cast<std::int64_t>(std::floor(p.z / size)),
                                                8);
    c = {0.48f * k, 0.66f * k, 0.60f * k};
  }
  return {c, 0.93f + 0.14f * grain(p.y, p.z, 9)};
}

// A box face in its face colour, with a dark trim along every edge.
Paint boxFacePaint(const Room& room, const Surface& surface, const Vec3& p) {
  const BoxLayout& box = kBoxes[surface.box];
  const int axis = surface.axis;
  const Rgb face = axis == 2 ? box.top : axis == 0 ? box.sideX : box.sideY;
  Rgb c = face;
  // Face coordinates in the box's own frame.
  const double cs = room.boxCos(surface.box), sn = room.boxSin(surface.box);
  const double dx = p.x - box.centreX, dy = p.y - box.centreY;
  const double local[3] = {cs * dx + sn * dy, -sn * dx + cs * dy, p.z - box.halfZ};
  const double half[3] = {box.halfX, box.halfY, box.halfZ};
  const int u = (axis + 1) % 3, v = (axis + 2) % 3;
  const double trim = 0.018;
  if (half[u] - std::fabs(local[u]) < trim || half[v] - std::fabs(local[v]) < trim)
    c = {face.r * 0.35f, face.g * 0.35f, face.b * 0.35f};
  // Each face its own grain: salts 21 to 29, apart from those of the walls and floor.
  const auto salt = static_cast<std::uint32_t>(21 + 3 * surface.box + axis);
  return {c, 0.88f + 0.24f * grain(local[u], local[v], salt)};
}

}  // namespace

Shader::Shader(const Room& room)
    : room_(room), halfway_(normalized(room.light() + Vec3{0, 0, 1})) {}

Rgb Shader::surface(const Hit& hit) const {
  const Vec3& p = hit.point;
  Paint paint;
  switch (hit.surface.kind) {
    case Surface::kNothing:
      return {0.18f, 0.20f, 0.24f};
    case Surface::kFloor:
      paint = floorPaint(p);
      break;
    case Surface::kBackWall:
      paint = backWallPaint(p);
      break;
    case Surface::kLeftWall:
      paint = leftWallPaint(p);
      break;
    case Surface::kRightWall:
      paint = rightWallPaint(p);
      break;
    case Surface::kBoxFace:
      paint = boxFacePaint(room_, hit.surface, p);
      break;
  }
  // Ambient 0.45 plus 0.55 of Lambert's cosine where the light is not blocked by a box.
  const double facing = std::max(0.0, dot(hit.normal, room_.light()));
  const bool inShadow = facing > 0 && room_.shadowed(hit.point + hit.normal * 1e-6);
  const float light = paint.texture * static_cast<float>(0.45 + 0.55 * (inShadow ? 0.0 : facing));
  return {paint.colour.r * light, paint.colour.g * light, paint.colour.b * light};
}

Rgb Shader::ball(
    int index, const Vec3& centre, const Vec3& p, double spinCos, double spinSin) const {
  const RigBall& ball = kBalls[index];
  const Vec3 n = (p - centre) * (1 / ball.radius);
  // Eight segments of alternating brightness, turning with the ball, make it look live and
  // give match windows on it something to hold on to. Whether the turned normal lies in an
  // odd 45-degree sector follows from its signs and which component is larger.
  const double u = spinCos * n.x - spinSin * n.y, v = spinSin * n.x + spinCos * n.y;
  const bool odd = (std::fabs(u) < std::fabs(v)) != ((u < 0) != (v < 0));
  const float band = odd ? 0.80f : 1.0f;
  const float diffuse = static_cast<float>(0.30 + 0.70 * std::max(0.0, dot(n, room_.light())));
  // A small highlight away from the centre of the picture of the ball: 0.25 (n.h)^40.
  double specular = std::max(0.0, dot(n, halfway_));
  const double fifth = specular * specular * specular * specular * specular;
  specular = fifth * fifth;                              // ^10
  specular = specular * specular, specular *= specular;  // ^40
  const float highlight = 0.25f * static_cast<float>(specular);
  return {ball.colour.r * band * diffuse + highlight,
          ball.colour.g * band * diffuse + highlight,
          ball.colour.b * band * diffuse + highlight};
}

}  // namespace epipolar
