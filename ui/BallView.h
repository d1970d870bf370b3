// The "Ball Display" scene: the balls set with middle clicks in camera window (0), drawn as
// coloured squares in a perspective view.
//
// A ball at click position (x, y) (pixels of camera 0, y down) with depth value d becomes a
// square centred on
//   X = x / 640 - 0.5,   Y = -(y / 480 - 0.5),   Z = d * 0.01
// so a 640 x 480 picture maps to the square from -0.5 to 0.5 with y pointing up, whatever
// the actual frame size. The scene is moved 3 units away from the eye. Nothing is depth
// tested: squares are drawn in ascending d, so a larger d (nearer the viewer) covers a
// smaller one.
//
// The assisted view (--assist) fits the depths into the view instead: the described Z = d/100
// puts a ball behind the eye once d exceeds 290 (the near plane is 0.1 in front of the eye),
// which ordinary clicks do, so that view mostly stays black. The fit maps the smallest finite
// d onto Z = kFitFarZ and the largest onto Z = kFitNearZ, linearly:
//   Z = kFitFarZ + (kFitNearZ - kFitFarZ) * (d - dmin) / (dmax - dmin)
// (Z = 0 when every d is the same), so the squares stay 2 to 4 units from the eye, where the
// 45 degree field shows at least 0.83 units either side of the axis: the whole picture square
// and its balls. X, Y, the colours and the draw order (ascending d) are as described; balls
// whose d is not finite have no place in the range and are left out. Each square carries its
// ball's number (1 for the first ball set), drawn at its top-right corner.
//
// BallSet, ballQuads and fittedBallQuads are pure and need no GL; the draw functions issue the
// fixed-function GL calls and must run on the thread whose GL context is current (the UI
// thread).
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "geometry/Matrix.h"
#include "imaging/Colour.h"
#include "ui/GLText.h"

namespace epipolar {

// One ball: position (x, y, d) and the colour of camera 0's frame at (x, y).
struct TrackedPoint {
  Vector position{3};
  Colour colour;
};

// One square as the GL vertices receive it: four corners (X - s, Y - s), (X - s, Y + s),
// (X + s, Y + s), (X + s, Y - s), all at depth Z, each computed in double precision and
// rounded to float.
struct BallQuad {
  Colour colour;
  float corners[4][3];
  int number = 0;  // the ball's place in the order set, from 1
};

// Half the side of each square, in view units, at start. The arrow keys of the view change it
// by kPointSizeStep; it has no lower bound (at 0 the squares vanish, below 0 they are drawn
// with swapped corners).
inline constexpr float kInitialPointSize = 0.075f;
inline constexpr double kPointSizeStep = 0.005;

// The balls of the view and the size they are drawn at. Balls are only ever added, in the
// order they are set; the size changes in steps of kPointSizeStep. UI thread only.
class BallSet {
 public:
  const std::vector<TrackedPoint>& trackedPoints() const { return trackedPoints_; }
  // Half the side of each ball's square in the view.
  float pointSize() const { return pointSize_; }

  void add(TrackedPoint ball) { trackedPoints_.push_back(std::move(ball)); }
  // pointSize + kPointSizeStep, and pointSize - kPointSizeStep: summed in double precision,
  // stored as float (the view's Left and Right keys).
  void enlarge() { pointSize_ = static_cast<float>(pointSize_ + kPointSizeStep); }
  void shrink() { pointSize_ = static_cast<float>(pointSize_ - kPointSizeStep); }
  // Drops every ball (the teardown).
  void clear() { trackedPoints_.clear(); }

 private:
  std::vector<TrackedPoint> trackedPoints_;
  float pointSize_ = kInitialPointSize;
};

// The fitted depth range of the assisted view (view units; the eye is at Z = 3).
inline constexpr double kFitNearZ = 1.0;
inline constexpr double kFitFarZ = -1.0;

// The squares of `points` in draw order: ascending d; balls with equal d keep the order in
// which they were set. `pointSize` is the half side s.
std::vector<BallQuad> ballQuads(std::span<const TrackedPoint> points, float pointSize);
// The same with the fitted Z of the assisted view, balls with a d that is not finite left out.
std::vector<BallQuad> fittedBallQuads(std::span<const TrackedPoint> points, float pointSize);

// Clears colour and depth, loads the identity, translates by (0, 0, -3), then draws
// ballQuads as GL_QUADS. The projection is the caller's (the view window's resize).
void drawBallScene(std::span<const TrackedPoint> points, float pointSize);
// The assisted view: as drawBallScene with fittedBallQuads, then each ball's number with
// `text` (white on a dark box, centred on the square's top-right corner), nearest last.
void drawFittedBallScene(std::span<const TrackedPoint> points, float pointSize, GLText& text);

}  // namespace epipolar
