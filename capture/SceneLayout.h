// What the virtual rig's room holds and where: the floor, three walls with a poster, three
// boxes, two moving balls and a distant light.
//
// Units: world metres; x to the right, y away from the cameras, z up; the floor is z = 0.
// Angles in radians, colours as linear components in [0, 1] before lighting.
// Plain constant data read by the ray caster, the shading, the landmarks and the renderer;
// only the balls' paths are computed. Threads: constants and a pure function.
#pragma once

#include <array>
#include <numbers>
#include <string_view>

#include "geometry/Vec3.h"

namespace epipolar {

struct Rgb {
  float r = 0, g = 0, b = 0;
};

// The floor spans left..right by front..back; walls stand at x = left (planks), x = right
// (tiles) and y = back (bricks), up to wallHeight. There is no front wall and no ceiling.
struct RoomExtents {
  double left, right;  // x
  double front, back;  // y
  double wallHeight;   // z
};
inline constexpr RoomExtents kRoom{
    .left = -1.8, .right = 1.8, .front = -3.0, .back = 3.2, .wallHeight = 2.6};

// Side of a floor checker square; squares are aligned with the world axes at the origin.
inline constexpr double kCheckerSide = 0.3;

// A poster on the back wall, its four quadrants split at its middle.
struct PosterLayout {
  double left, right;  // x
  double bottom, top;  // z
  constexpr double middleX() const { return 0.5 * (left + right); }
  constexpr double middleZ() const { return 0.5 * (bottom + top); }
};
inline constexpr PosterLayout kPoster{.left = -0.35, .right = 0.45, .bottom = 0.95, .top = 1.55};

// A box standing on the floor, turned about the vertical. Its own axes: x and y along its
// footprint's edges after the turn, z up.
struct BoxLayout {
  std::string_view name;       // landmark names start with it
  double centreX, centreY;     // footprint centre on the floor
  double halfX, halfY, halfZ;  // half extents along its own axes; it is 2 halfZ tall
  double yaw;                  // turn about z, counter-clockwise seen from above
  Rgb top, sideX, sideY;       // faces across its own z (the top), x and y axes
};
inline constexpr std::array<BoxLayout, 3> kBoxes{{
    {.name = "yellow-top box",
     .centreX = -0.85,
     .centreY = 2.15,
     .halfX = 0.32,
     .halfY = 0.24,
     .halfZ = 0.26,
     .yaw = 25 * std::numbers::pi / 180,
     .top = {0.95f, 0.82f, 0.18f},
     .sideX = {0.80f, 0.10f, 0.32f},
     .sideY = {0.15f, 0.30f, 0.85f}},
    {.name = "white-top box",
     .centreX = 0.75,
     .centreY = 2.45,
     .halfX = 0.28,
     .halfY = 0.28,
     .halfZ = 0.45,
     .yaw = -35 * std::numbers::pi / 180,
     .top = {0.92f, 0.92f, 0.90f},
     .sideX = {0.52f, 0.20f, 0.70f},
     .sideY = {0.10f, 0.58f, 0.60f}},
    {.name = "pink-top box",
     .centreX = 0.00,
     .centreY = 2.75,
     .halfX = 0.22,
     .halfY = 0.18,
     .halfZ = 0.16,
     .yaw = 60 * std::numbers::pi / 180,
     .top = {0.92f, 0.40f, 0.62f},
     .sideX = {0.90f, 0.86f, 0.72f},
     .sideY = {0.36f, 0.30f, 0.28f}},
}};

// A ball that moves over the floor (ballCentre) and turns about the vertical through its
// centre at spinRate radians per second.
struct RigBall {
  std::string_view name;  // "orange" or "green"
  Rgb colour;             // base colour, fully saturated
  double radius;
  double spinRate;
};
inline constexpr std::array<RigBall, 2> kBalls{{
    {.name = "orange", .colour = {1.0f, 0.42f, 0.0f}, .radius = 0.11, .spinRate = 1.5},
    {.name = "green", .colour = {0.05f, 0.80f, 0.12f}, .radius = 0.10, .spinRate = -2.0},
}};

// Centre of ball `index` `seconds` after the rig started. The orange ball rolls round an
// ellipse every 16 s; the green one drifts round its own every 11 s and bounces every 3.2 s.
Vec3 ballCentre(int index, double seconds);

// Toward the distant light, not normalised: up, a little right and toward the cameras.
inline constexpr Vec3 kTowardLight{0.35, -0.55, 1.0};

}  // namespace epipolar
