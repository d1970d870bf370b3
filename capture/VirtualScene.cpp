#include "capture/VirtualScene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <sstream>
#include <utility>

namespace epipolar {
namespace {

constexpr double kPi = std::numbers::pi;

// Room extents in metres.
constexpr double kRoomLeft = -1.8, kRoomRight = 1.8;
constexpr double kRoomBack = 3.2, kRoomFront = -3.0;
constexpr double kWallHeight = 2.6;
// Floor checker square side.
constexpr double kChecker = 0.3;
// Poster on the back wall, split into four quadrants at its middle.
constexpr double kPosterLeft = -0.35, kPosterRight = 0.45;
constexpr double kPosterBottom = 0.95, kPosterTop = 1.55;

Point3 add(const Point3& a, const Point3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Point3 sub(const Point3& a, const Point3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Point3 scale(const Point3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double dot(const Point3& a, const Point3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Point3 cross(const Point3& a, const Point3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Point3 normalized(const Point3& a) { return scale(a, 1.0 / std::sqrt(dot(a, a))); }

Point3 mul(const Matrix3& m, const Point3& v) { return {dot(m[0], v), dot(m[1], v), dot(m[2], v)}; }
Matrix3 mul(const Matrix3& a, const Matrix3& b) {
  Matrix3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}
Matrix3 transposed(const Matrix3& a) {
  Matrix3 t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[i][j] = a[j][i];
  return t;
}
// Inverse of an upper-triangular intrinsic matrix [fx s cx; 0 fy cy; 0 0 1].
Matrix3 inverseIntrinsics(const Matrix3& K) {
  const double fx = K[0][0], s = K[0][1], cx = K[0][2], fy = K[1][1], cy = K[1][2];
  return {
      {{1 / fx, -s / (fx * fy), (s * cy - cx * fy) / (fx * fy)}, {0, 1 / fy, -cy / fy}, {0, 0, 1}}};
}

// A camera at `centre` looking at `target` with the world's z axis up, turned by `roll`
// radians about its viewing direction.
PinholeCamera makeCamera(
    double f, double cx, double cy, const Point3& centre, const Point3& target, double roll) {
  PinholeCamera camera;
  camera.K = {{{f, 0, cx}, {0, f, cy}, {0, 0, 1}}};
  const Point3 forward = normalized(sub(target, centre));
  const Point3 right = normalized(cross(forward, {0, 0, 1}));
  const Point3 down = cross(forward, right);
  const double c = std::cos(roll), s = std::sin(roll);
  camera.R = {add(scale(right, c), scale(down, s)), add(scale(right, -s), scale(down, c)), forward};
  camera.centre = centre;
  const Matrix3 KR = mul(camera.K, camera.R);
  const Point3 translation = scale(mul(KR, centre), -1);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) camera.P[i][j] = KR[i][j];
    camera.P[i][3] = translation[i];
  }
  return camera;
}

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

void set(float* c, float r, float g, float b) { c[0] = r, c[1] = g, c[2] = b; }

double positiveMod(double a, double m) { return a - m * std::floor(a / m); }

bool hitPlane(double origin, double direction, double plane, double& t) {
  if (direction == 0) return false;
  t = (plane - origin) / direction;
  return t > 1e-9;
}

std::uint8_t toByte(float component) {
  return static_cast<std::uint8_t>(std::clamp(component, 0.0f, 1.0f) * 255.0f + 0.5f);
}

}  // namespace

bool PinholeCamera::project(const Point3& X, double& x, double& y) const {
  double h[3];
  for (int i = 0; i < 3; ++i) h[i] = P[i][0] * X[0] + P[i][1] * X[1] + P[i][2] * X[2] + P[i][3];
  if (h[2] <= 0) return false;
  x = h[0] / h[2];
  y = h[1] / h[2];
  return true;
}

VirtualScene::VirtualScene() {
  // Left camera: 560 px focal length (60 degrees across), looking down at the room centre.
  cameras_[0] = makeCamera(560, 320, 240, {-0.20, -1.60, 1.35}, {0.05, 1.60, 0.45}, 0.0);
  // Right camera: 0.45 m to the right, 0.25 m forward, 0.10 m higher, turned inward and
  // rolled by 3 degrees, with a longer lens and an off-centre principal point.
  cameras_[1] =
      makeCamera(575, 318, 236, {0.25, -1.35, 1.45}, {-0.10, 1.65, 0.50}, 3.0 * kPi / 180.0);
  for (int i = 0; i < kCameraCount; ++i) {
    inverseK_[i] = inverseIntrinsics(cameras_[i].K);
    pixelToWorld_[i] = mul(transposed(cameras_[i].R), inverseK_[i]);
  }

  // F = K1^-T [t]x R K0^-1 with X_cam1 = R X_cam0 + t.
  const Matrix3 R = relativeRotation();
  const Point3 t = relativeTranslation();
  const Matrix3 tx = {{{0, -t[2], t[1]}, {t[2], 0, -t[0]}, {-t[1], t[0], 0}}};
  Matrix3 F = mul(mul(transposed(inverseK_[1]), mul(tx, R)), inverseK_[0]);
  double norm = 0;
  for (const auto& row : F)
    for (double v : row) norm += v * v;
  norm = std::sqrt(norm) * (F[2][2] < 0 ? -1 : 1);
  for (auto& row : F)
    for (double& v : row) v /= norm;
  fundamental_ = F;

  boxes_ = {
      {-0.85,
       2.15,
       0.32,
       0.24,
       0.26,
       25 * kPi / 180,
       {0.95f, 0.82f, 0.18f},
       {0.80f, 0.10f, 0.32f},
       {0.15f, 0.30f, 0.85f}},
      {0.75,
       2.45,
       0.28,
       0.28,
       0.45,
       -35 * kPi / 180,
       {0.92f, 0.92f, 0.90f},
       {0.52f, 0.20f, 0.70f},
       {0.10f, 0.58f, 0.60f}},
      {0.00,
       2.75,
       0.22,
       0.18,
       0.16,
       60 * kPi / 180,
       {0.92f, 0.40f, 0.62f},
       {0.90f, 0.86f, 0.72f},
       {0.36f, 0.30f, 0.28f}},
  };
  balls_ = {RigBall{"orange", 1.0f, 0.42f, 0.0f, 0.11},
            RigBall{"green", 0.05f, 0.80f, 0.12f, 0.10}};
  light_ = normalized({0.35, -0.55, 1.0});
}

Matrix3 VirtualScene::relativeRotation() const {
  return mul(cameras_[1].R, transposed(cameras_[0].R));
}

Point3 VirtualScene::relativeTranslation() const {
  return mul(cameras_[1].R, sub(cameras_[0].centre, cameras_[1].centre));
}

Point3 VirtualScene::ballCentre(int index, double seconds) const {
  if (index == 0) {
    // Orange: rolls round an ellipse on the floor once every 16 s.
    const double w = 2 * kPi / 16;
    return {-0.40 + 0.30 * std::cos(w * seconds),
            1.05 + 0.22 * std::sin(w * seconds),
            balls_[0].radius};
  }
  // Green: drifts round its own ellipse every 11 s and bounces gently every 3.2 s.
  const double w = 2 * kPi / 11, bounce = 2 * kPi / 3.2;
  return {0.45 + 0.25 * std::sin(w * seconds),
          1.35 + 0.15 * std::cos(w * seconds),
          balls_[1].radius + 0.20 * std::fabs(std::sin(bounce * seconds))};
}

Point3 VirtualScene::pixelRay(int index, double x, double y) const {
  const Matrix3& m = pixelToWorld_[index];
  return normalized({m[0][0] * x + m[0][1] * y + m[0][2],
                     m[1][0] * x + m[1][1] * y + m[1][2],
                     m[2][0] * x + m[2][1] * y + m[2][2]});
}

bool VirtualScene::hitBox(const Box& box, const Point3& o, const Point3& d, Hit& hit) const {
  // Slab test in the box's own frame (centre at the origin, axes along its edges).
  const double c = std::cos(box.yaw), s = std::sin(box.yaw);
  const double px = o[0] - box.cx, py = o[1] - box.cy, pz = o[2] - box.hz;
  const double lo[3] = {c * px + s * py, -s * px + c * py, pz};
  const double ld[3] = {c * d[0] + s * d[1], -s * d[0] + c * d[1], d[2]};
  const double half[3] = {box.hx, box.hy, box.hz};
  double tNear = -1e300, tFar = 1e300;
  int axis = -1;
  double sign = 0;
  for (int k = 0; k < 3; ++k) {
    if (ld[k] == 0) {
      if (std::fabs(lo[k]) > half[k]) return false;
      continue;
    }
    double t0 = (-half[k] - lo[k]) / ld[k], t1 = (half[k] - lo[k]) / ld[k];
    double entrySign = -1;
    if (t0 > t1) {
      std::swap(t0, t1);
      entrySign = 1;
    }
    if (t0 > tNear) {
      tNear = t0;
      axis = k;
      sign = entrySign;
    }
    tFar = std::min(tFar, t1);
    if (tNear > tFar) return false;
  }
  if (tNear <= 1e-9 || axis < 0 || (hit.surface >= 0 && tNear >= hit.t)) return false;
  hit.t = tNear;
  hit.point = add(o, scale(d, tNear));
  Point3 local{0, 0, 0};
  local[axis] = sign;
  hit.normal = {c * local[0] - s * local[1], s * local[0] + c * local[1], local[2]};
  hit.surface = 10 + static_cast<int>(&box - boxes_.data()) * 3 + axis;
  return true;
}

VirtualScene::Hit VirtualScene::castStatic(const Point3& o, const Point3& d) const {
  Hit hit;
  auto consider = [&](int surface, double t, const Point3& normal) {
    if (hit.surface >= 0 && t >= hit.t) return;
    hit.t = t;
    hit.surface = surface;
    hit.point = add(o, scale(d, t));
    hit.normal = normal;
  };
  double t;
  if (hitPlane(o[2], d[2], 0.0, t)) {
    const double x = o[0] + t * d[0], y = o[1] + t * d[1];
    if (x >= kRoomLeft && x <= kRoomRight && y >= kRoomFront && y <= kRoomBack)
      consider(kFloor, t, {0, 0, 1});
  }
  if (hitPlane(o[1], d[1], kRoomBack, t)) {
    const double x = o[0] + t * d[0], z = o[2] + t * d[2];
    if (x >= kRoomLeft && x <= kRoomRight && z >= 0 && z <= kWallHeight) consider(1, t, {0, -1, 0});
  }
  if (hitPlane(o[0], d[0], kRoomLeft, t)) {
    const double y = o[1] + t * d[1], z = o[2] + t * d[2];
    if (y >= kRoomFront && y <= kRoomBack && z >= 0 && z <= kWallHeight) consider(2, t, {1, 0, 0});
  }
  if (hitPlane(o[0], d[0], kRoomRight, t)) {
    const double y = o[1] + t * d[1], z = o[2] + t * d[2];
    if (y >= kRoomFront && y <= kRoomBack && z >= 0 && z <= kWallHeight) consider(3, t, {-1, 0, 0});
  }
  for (const Box& box : boxes_) hitBox(box, o, d, hit);
  return hit;
}

bool VirtualScene::shadowed(const Point3& p) const {
  Hit hit;
  for (const Box& box : boxes_)
    if (hitBox(box, p, light_, hit)) return true;
  return false;
}

bool VirtualScene::visibleFrom(int index, const Point3& X) const {
  const Point3 toPoint = sub(X, cameras_[index].centre);
  const double distance = std::sqrt(dot(toPoint, toPoint));
  const Hit hit = castStatic(cameras_[index].centre, scale(toPoint, 1 / distance));
  return hit.surface < 0 || hit.t >= distance - 1e-6;
}

void VirtualScene::shade(const Hit& hit, float& r, float& g, float& b) const {
  float c[3] = {0.18f, 0.20f, 0.24f};
  const Point3& p = hit.point;
  float texture = 1.0f;
  switch (hit.surface) {
    case -1:
      r = c[0], g = c[1], b = c[2];
      return;
    case kFloor: {
      const bool dark = (static_cast<std::int64_t>(std::floor(p[0] / kChecker)) +
                         static_cast<std::int64_t>(std::floor(p[1] / kChecker))) &
                        1;
      if (dark)
        set(c, 0.30f, 0.36f, 0.46f);
      else
        set(c, 0.86f, 0.80f, 0.66f);
      texture = 0.86f + 0.28f * grain(p[0], p[1], 1);
      break;
    }
    case 1: {  // back wall: bricks, and the poster
      if (p[0] >= kPosterLeft && p[0] <= kPosterRight && p[2] >= kPosterBottom &&
          p[2] <= kPosterTop) {
        const bool right = p[0] > 0.5 * (kPosterLeft + kPosterRight);
        const bool top = p[2] > 0.5 * (kPosterBottom + kPosterTop);
        if (top && !right) set(c, 0.95f, 0.80f, 0.10f);
        if (top && right) set(c, 0.10f, 0.35f, 0.80f);
        if (!top && !right) set(c, 0.95f, 0.95f, 0.92f);
        if (!top && right) set(c, 0.12f, 0.12f, 0.12f);
        texture = 0.94f + 0.12f * grain(p[0], p[2], 2);
        break;
      }
      const double rowHeight = 0.12, length = 0.30, mortar = 0.012;
      const double row = std::floor(p[2] / rowHeight);
      const double along = p[0] + (static_cast<std::int64_t>(row) & 1 ? length / 2 : 0);
      const double brick = std::floor(along / length);
      if (p[2] - row * rowHeight < mortar || along - brick * length < mortar) {
        set(c, 0.74f, 0.73f, 0.69f);
      } else {
        const float v = 0.78f + 0.35f * latticeHash(static_cast<std::int64_t>(brick),
                                                    static_cast<std::int64_t>(row),
                                                    3);
        set(c, 0.62f * v, 0.28f * v, 0.18f * v);
      }
      texture = 0.88f + 0.24f * grain(p[0], p[2], 4);
      break;
    }
    case 2: {  // left wall: vertical planks
      const double width = 0.18;
      const double plank = std::floor(p[1] / width);
      if (p[1] - plank * width < 0.008) {
        set(c, 0.20f, 0.14f, 0.09f);
      } else {
        const float v = 0.8f + 0.3f * latticeHash(static_cast<std::int64_t>(plank), 0, 5);
        set(c, 0.60f * v, 0.41f * v, 0.24f * v);
      }
      texture = 0.82f + 0.3f * valueNoise(p[1] * 60, p[2] * 4, 6) +
                0.08f * valueNoise(p[1] * 30, p[2] * 30, 7);
      break;
    }
    case 3: {  // right wall: square tiles
      const double size = 0.2;
      const double u = positiveMod(p[1], size), v = positiveMod(p[2], size);
      if (u < 0.01 || v < 0.01) {
        set(c, 0.86f, 0.86f, 0.83f);
      } else {
        const float k =
            0.88f + 0.22f * latticeHash(static_cast<std::int64_t>(std::floor(p[1] / size)),
                                        static_cast<std::int64_t>(std::floor(p[2] / size)),
                                        8);
        set(c, 0.48f * k, 0.66f * k, 0.60f * k);
      }
      texture = 0.93f + 0.14f * grain(p[1], p[2], 9);
      break;
    }
    default: {  // a box face: 10 + 3 * box + axis
      const Box& box = boxes_[(hit.surface - 10) / 3];
      const int axis = (hit.surface - 10) % 3;
      const float* face = axis == 2 ? box.top : axis == 0 ? box.sideX : box.sideY;
      set(c, face[0], face[1], face[2]);
      // Face coordinates in the box's own frame, for a dark trim along every edge.
      const double cs = std::cos(box.yaw), sn = std::sin(box.yaw);
      const double dx = p[0] - box.cx, dy = p[1] - box.cy;
      const double local[3] = {cs * dx + sn * dy, -sn * dx + cs * dy, p[2] - box.hz};
      const double half[3] = {box.hx, box.hy, box.hz};
      const int u = (axis + 1) % 3, v = (axis + 2) % 3;
      const double trim = 0.018;
      if (half[u] - std::fabs(local[u]) < trim || half[v] - std::fabs(local[v]) < trim)
        set(c, face[0] * 0.35f, face[1] * 0.35f, face[2] * 0.35f);
      texture = 0.88f + 0.24f * grain(local[u], local[v], 11 + hit.surface);
      break;
    }
  }
  const double facing = std::max(0.0, dot(hit.normal, light_));
  const bool inShadow = facing > 0 && shadowed(add(hit.point, scale(hit.normal, 1e-6)));
  const float light = texture * static_cast<float>(0.45 + 0.55 * (inShadow ? 0.0 : facing));
  r = c[0] * light, g = c[1] * light, b = c[2] * light;
}

void VirtualScene::shadeBall(int index,
                             const Point3& centre,
                             const Point3& p,
                             double spinCos,
                             double spinSin,
                             float& r,
                             float& g,
                             float& b) const {
  const RigBall& ball = balls_[index];
  const Point3 n = scale(sub(p, centre), 1 / ball.radius);
  // Eight segments of alternating brightness, turning with the ball, make it look live and
  // give match windows on it something to hold on to. Whether the turned normal lies in an
  // odd 45-degree sector follows from its signs and which component is larger.
  const double u = spinCos * n[0] - spinSin * n[1], v = spinSin * n[0] + spinCos * n[1];
  const bool odd = (std::fabs(u) < std::fabs(v)) != ((u < 0) != (v < 0));
  const float band = odd ? 0.80f : 1.0f;
  const float diffuse = static_cast<float>(0.30 + 0.70 * std::max(0.0, dot(n, light_)));
  // A small highlight away from the centre of the picture of the ball: 0.25 (n.h)^40.
  const Point3 half = normalized(add(light_, Point3{0, 0, 1}));
  double specular = std::max(0.0, dot(n, half));
  const double fifth = specular * specular * specular * specular * specular;
  specular = fifth * fifth;                              // ^10
  specular = specular * specular, specular *= specular;  // ^40
  const float highlight = 0.25f * static_cast<float>(specular);
  r = ball.r * band * diffuse + highlight;
  g = ball.g * band * diffuse + highlight;
  b = ball.b * band * diffuse + highlight;
}

std::vector<RigLandmark> VirtualScene::landmarks() const {
  std::vector<std::pair<std::string, Point3>> candidates;
  const char* boxNames[] = {"yellow-top box", "white-top box", "pink-top box"};
  for (std::size_t i = 0; i < boxes_.size(); ++i) {
    const Box& box = boxes_[i];
    const double c = std::cos(box.yaw), s = std::sin(box.yaw);
    for (int level = 0; level < 2; ++level) {
      for (int corner = 0; corner < 4; ++corner) {
        const double lx = (corner == 0 || corner == 3) ? -box.hx : box.hx;
        const double ly = corner < 2 ? -box.hy : box.hy;
        const Point3 X = {
            box.cx + c * lx - s * ly, box.cy + s * lx + c * ly, level == 0 ? 2 * box.hz : 0.0};
        candidates.emplace_back(std::string(boxNames[i]) + (level == 0 ? " top " : " bottom ") +
                                    "corner " + std::to_string(corner),
                                X);
      }
    }
  }
  const double midX = 0.5 * (kPosterLeft + kPosterRight);
  const double midZ = 0.5 * (kPosterBottom + kPosterTop);
  candidates.emplace_back("poster top-left", Point3{kPosterLeft, kRoomBack, kPosterTop});
  candidates.emplace_back("poster top-right", Point3{kPosterRight, kRoomBack, kPosterTop});
  candidates.emplace_back("poster bottom-left", Point3{kPosterLeft, kRoomBack, kPosterBottom});
  candidates.emplace_back("poster bottom-right", Point3{kPosterRight, kRoomBack, kPosterBottom});
  candidates.emplace_back("poster centre", Point3{midX, kRoomBack, midZ});
  for (int k = -4; k <= 4; k += 2) {
    for (int m = -2; m <= 10; m += 2) {
      char name[64];
      std::snprintf(name, sizeof name, "floor corner (%.1f, %.1f)", k * kChecker, m * kChecker);
      candidates.emplace_back(name, Point3{k * kChecker, m * kChecker, 0.0});
    }
  }

  const double margin = 8;
  std::vector<RigLandmark> result;
  for (const auto& [name, X] : candidates) {
    RigLandmark landmark{name, X};
    if (!cameras_[0].project(X, landmark.x0, landmark.y0) ||
        !cameras_[1].project(X, landmark.x1, landmark.y1))
      continue;
    auto inside = [&](double x, double y) {
      return x >= margin && y >= margin && x <= kWidth - 1 - margin && y <= kHeight - 1 - margin;
    };
    if (!inside(landmark.x0, landmark.y0) || !inside(landmark.x1, landmark.y1)) continue;
    if (!visibleFrom(0, X) || !visibleFrom(1, X)) continue;
    result.push_back(landmark);
  }
  return result;
}

void VirtualScene::print(std::ostream& out) const {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  auto row = [&](const char* label, const auto& values) {
    text << label;
    for (double v : values) {
      char number[32];
      std::snprintf(number, sizeof number, " %14.8g", v);
      text << number;
    }
    text << '\n';
  };
  text << "Virtual stereo rig: two pinhole cameras, " << kWidth << "x" << kHeight << " pixels, "
       << kFramesPerSecond << " frames per second.\n"
       << "World: metres, x right, y away from the cameras, z up; the floor is z = 0.\n"
       << "Pixels: x right, y down, pixel centres at whole numbers.\n"
       << "Camera: X_cam = R (X_world - C), P = K [R | -R C].\n";
  for (int i = 0; i < kCameraCount; ++i) {
    const PinholeCamera& cam = cameras_[i];
    text << "\nCamera " << i << (i == 0 ? " (left)" : " (right)") << "\n";
    text << "K" << i << " =\n";
    for (const auto& r : cam.K) row("  ", r);
    text << "R" << i << " =\n";
    for (const auto& r : cam.R) row("  ", r);
    row((std::string("C") + std::to_string(i) + " =").c_str(), cam.centre);
    text << "P" << i << " =\n";
    for (const auto& r : cam.P) row("  ", r);
  }
  text << "\nRelative pose: X_cam1 = R X_cam0 + t\nR =\n";
  for (const auto& r : relativeRotation()) row("  ", r);
  row("t =", relativeTranslation());
  text << "\nTrue fundamental matrix, (x1, y1, 1) F (x0, y0, 1)' = 0, Frobenius norm 1:\nF =\n";
  for (const auto& r : fundamental_) row("  ", r);
  // Epipoles: the image of the other camera's centre (which may lie behind the camera).
  for (int i = 0; i < kCameraCount; ++i) {
    const PinholeCamera& cam = cameras_[i];
    const Point3& other = cameras_[1 - i].centre;
    double h[3];
    for (int k = 0; k < 3; ++k)
      h[k] = cam.P[k][0] * other[0] + cam.P[k][1] * other[1] + cam.P[k][2] * other[2] + cam.P[k][3];
    row((std::string("Epipole in camera ") + std::to_string(i) + ":").c_str(),
        std::array<double, 2>{h[0] / h[2], h[1] / h[2]});
  }
  text << "\nLandmarks seen by both cameras (world x y z; camera 0 x y; camera 1 x y):\n";
  for (const RigLandmark& landmark : landmarks()) {
    char line[200];
    std::snprintf(line,
                  sizeof line,
                  "  %-32s %7.3f %7.3f %7.3f  %9.3f %9.3f  %9.3f %9.3f\n",
                  landmark.name.c_str(),
                  landmark.world[0],
                  landmark.world[1],
                  landmark.world[2],
                  landmark.x0,
                  landmark.y0,
                  landmark.x1,
                  landmark.y1);
    text << line;
  }
  out << text.str();
}

const VirtualScene::StaticView& VirtualScene::staticView(int index) const {
  std::call_once(staticOnce_[index], [this, index] {
    const int width = kWidth, height = kHeight;
    auto view = std::make_unique<StaticView>();
    view->background = Image::blank(width, height);
    view->depth.assign(static_cast<std::size_t>(width) * height, 1e30f);
    view->floor.assign(static_cast<std::size_t>(width) * height, 0);
    view->floorXY.assign(2 * static_cast<std::size_t>(width) * height, 0.0f);
    const Point3 origin = cameras_[index].centre;
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
          const Hit hit = castStatic(origin, pixelRay(index, sx, sy));
          float r, g, b;
          shade(hit, r, g, b);
          sum[0] += r, sum[1] += g, sum[2] += b;
          if (hit.surface >= 0)
            view->depth[at] = std::min(view->depth[at], static_cast<float>(hit.t));
          if (hit.surface == kFloor) {
            floorX += hit.point[0], floorY += hit.point[1];
            ++floorSamples;
          }
        }
        row[3 * x + 0] = toByte(sum[2] * 0.25f);
        row[3 * x + 1] = toByte(sum[1] * 0.25f);
        row[3 * x + 2] = toByte(sum[0] * 0.25f);
        if (floorSamples > 0) {
          view->floor[at] = 1;
          view->floorXY[2 * at] = static_cast<float>(floorX / floorSamples);
          view->floorXY[2 * at + 1] = static_cast<float>(floorY / floorSamples);
        }
      }
    }
    static_[index] = std::move(view);
  });
  return *static_[index];
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
  drawMoving(*frame, seconds);
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

void VirtualView::drawMoving(Image& frame, double seconds) const {
  const VirtualScene& scene = *scene_;
  const PinholeCamera& camera = scene.camera(index_);
  const int width = frame.width, height = frame.height;
  struct Rect {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
    bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
  };
  // Pixel rectangle around the projections of `corners`, with a margin, clipped.
  auto bound = [&](const std::vector<Point3>& corners) {
    double minX = 1e30, minY = 1e30, maxX = -1e30, maxY = -1e30;
    for (const Point3& X : corners) {
      double x, y;
      if (!camera.project(X, x, y)) return Rect{0, 0, width - 1, height - 1};
      minX = std::min(minX, x), maxX = std::max(maxX, x);
      minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    Rect r;
    r.x0 = std::max(0, static_cast<int>(std::floor(std::max(minX, -1e6))) - 2);
    r.y0 = std::max(0, static_cast<int>(std::floor(std::max(minY, -1e6))) - 2);
    r.x1 = std::min(width - 1, static_cast<int>(std::ceil(std::min(maxX, 1e6))) + 2);
    r.y1 = std::min(height - 1, static_cast<int>(std::ceil(std::min(maxY, 1e6))) + 2);
    return r;
  };

  Point3 centres[VirtualScene::kBallCount];
  Rect ballRects[VirtualScene::kBallCount], shadowRects[VirtualScene::kBallCount];
  double shadowX[VirtualScene::kBallCount], shadowY[VirtualScene::kBallCount];
  double shadowSize[VirtualScene::kBallCount], shadowDepth[VirtualScene::kBallCount];
  const Point3& light = scene.light();
  for (int i = 0; i < VirtualScene::kBallCount; ++i) {
    const Point3 c = scene.ballCentre(i, seconds);
    const double radius = scene.ball(i).radius;
    centres[i] = c;
    std::vector<Point3> cube;
    for (int k = 0; k < 8; ++k)
      cube.push_back({c[0] + ((k & 1) ? radius : -radius),
                      c[1] + ((k & 2) ? radius : -radius),
                      c[2] + ((k & 4) ? radius : -radius)});
    ballRects[i] = bound(cube);
    // A soft shadow below the ball, along the light, wider and fainter as the ball rises.
    const double height = c[2] - radius;
    shadowX[i] = c[0] - light[0] * c[2] / light[2];
    shadowY[i] = c[1] - light[1] * c[2] / light[2];
    shadowSize[i] = radius * (1.1 + 1.5 * height);
    shadowDepth[i] = 0.55 / (1 + 3 * height);
    const double reach = 2.5 * shadowSize[i];
    shadowRects[i] = bound({{shadowX[i] - reach, shadowY[i] - reach, 0},
                            {shadowX[i] + reach, shadowY[i] - reach, 0},
                            {shadowX[i] - reach, shadowY[i] + reach, 0},
                            {shadowX[i] + reach, shadowY[i] + reach, 0}});
  }

  // Shadows first, each floor pixel once even where rectangles overlap.
  for (int i = 0; i < VirtualScene::kBallCount; ++i) {
    const Rect& r = shadowRects[i];
    for (int y = r.y0; y <= r.y1; ++y) {
      std::uint8_t* row = frame.row(y);
      for (int x = r.x0; x <= r.x1; ++x) {
        bool done = false;
        for (int j = 0; j < i; ++j) done = done || shadowRects[j].contains(x, y);
        const std::size_t at = static_cast<std::size_t>(y) * width + x;
        if (done || !static_->floor[at]) continue;
        double keep = 1;
        for (int j = 0; j < VirtualScene::kBallCount; ++j) {
          const double dx = static_->floorXY[2 * at] - shadowX[j],
                       dy = static_->floorXY[2 * at + 1] - shadowY[j];
          keep *=
              1 - shadowDepth[j] * std::exp(-(dx * dx + dy * dy) / (shadowSize[j] * shadowSize[j]));
        }
        for (int k = 0; k < 3; ++k)
          row[3 * x + k] = static_cast<std::uint8_t>(row[3 * x + k] * keep + 0.5);
      }
    }
  }

  // Balls: 2x2 samples per pixel, each against both balls and the static depth. Each ball
  // turns about the vertical at its own rate.
  double spinCos[VirtualScene::kBallCount], spinSin[VirtualScene::kBallCount];
  for (int i = 0; i < VirtualScene::kBallCount; ++i) {
    const double spin = (i == 0 ? 1.5 : -2.0) * seconds;
    spinCos[i] = std::cos(spin);
    spinSin[i] = std::sin(spin);
  }
  const Point3 origin = camera.centre;
  for (int i = 0; i < VirtualScene::kBallCount; ++i) {
    const Rect& r = ballRects[i];
    for (int y = r.y0; y <= r.y1; ++y) {
      std::uint8_t* row = frame.row(y);
      for (int x = r.x0; x <= r.x1; ++x) {
        bool done = false;
        for (int j = 0; j < i; ++j) done = done || ballRects[j].contains(x, y);
        if (done) continue;
        const float staticDepth = static_->depth[static_cast<std::size_t>(y) * width + x];
        float sum[3] = {0, 0, 0};
        int covered = 0;
        for (int sample = 0; sample < 4; ++sample) {
          const Point3 d = scene.pixelRay(
              index_, x + ((sample & 1) ? 0.25 : -0.25), y + ((sample & 2) ? 0.25 : -0.25));
          double nearest = staticDepth;
          int which = -1;
          for (int j = 0; j < VirtualScene::kBallCount; ++j) {
            // |o + t d - c|^2 = R^2 with |d| = 1.
            const Point3 oc = sub(origin, centres[j]);
            const double b = dot(oc, d);
            const double disc = b * b - (dot(oc, oc) - scene.ball(j).radius * scene.ball(j).radius);
            if (disc < 0) continue;
            const double t = -b - std::sqrt(disc);
            if (t > 0 && t < nearest) nearest = t, which = j;
          }
          if (which < 0) continue;
          float cr, cg, cb;
          scene.shadeBall(which,
                          centres[which],
                          add(origin, scale(d, nearest)),
                          spinCos[which],
                          spinSin[which],
                          cr,
                          cg,
                          cb);
          sum[0] += cr, sum[1] += cg, sum[2] += cb;
          ++covered;
        }
        if (covered == 0) continue;
        // Mix with the background by the share of samples that hit a ball.
        const float share = covered * 0.25f;
        const float mix[3] = {sum[2] * 0.25f, sum[1] * 0.25f, sum[0] * 0.25f};
        for (int k = 0; k < 3; ++k) {
          const float old = row[3 * x + k] * (1.0f / 255.0f);
          row[3 * x + k] = toByte(old * (1 - share) + mix[k]);
        }
      }
    }
  }
}

void printVirtualRig(std::ostream& out) { VirtualScene().print(out); }

}  // namespace epipolar
