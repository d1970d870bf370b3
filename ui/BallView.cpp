#include "ui/BallView.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "ui/Overlay.h"

namespace epipolar {
namespace {

struct Placed {
  const TrackedPoint* point;
  int number;  // from 1, in the order set
};

// The balls in draw order: ascending d, equal d in the order set.
std::vector<Placed> drawOrder(std::span<const TrackedPoint> points, bool finiteOnly) {
  std::vector<Placed> order;
  order.reserve(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (finiteOnly && !std::isfinite(points[i].position[2])) continue;
    order.push_back({&points[i], static_cast<int>(i) + 1});
  }
  std::stable_sort(order.begin(), order.end(), [](const Placed& a, const Placed& b) {
    return a.point->position[2] < b.point->position[2];
  });
  return order;
}

BallQuad quadAt(const Placed& placed, double Z, double s) {
  const TrackedPoint& point = *placed.point;
  // 1/640 and 1/480: the picture's pixels onto [-0.5, 0.5], y turned upwards.
  const double X = point.position[0] * 0.0015625 - 0.5;
  const double Y = -(point.position[1] * 0.0020833333333333333 - 0.5);
  const double xs[4] = {X - s, X - s, X + s, X + s};
  const double ys[4] = {Y - s, Y + s, Y + s, Y - s};
  BallQuad quad;
  quad.colour = point.colour;
  quad.number = placed.number;
  for (int corner = 0; corner < 4; ++corner) {
    quad.corners[corner][0] = static_cast<float>(xs[corner]);
    quad.corners[corner][1] = static_cast<float>(ys[corner]);
    quad.corners[corner][2] = static_cast<float>(Z);
  }
  return quad;
}

void drawQuads(const std::vector<BallQuad>& quads) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -3.0f);
  if (quads.empty()) return;
  glBegin(GL_QUADS);
  for (const BallQuad& quad : quads) {
    glColor3f(quad.colour.r, quad.colour.g, quad.colour.b);
    for (const auto& corner : quad.corners) glVertex3f(corner[0], corner[1], corner[2]);
  }
  glEnd();
}

}  // namespace

std::vector<BallQuad> ballQuads(std::span<const TrackedPoint> points, float pointSize) {
  std::vector<BallQuad> quads;
  quads.reserve(points.size());
  for (const Placed& placed : drawOrder(points, false)) {
    quads.push_back(quadAt(placed, placed.point->position[2] * 0.01, pointSize));
  }
  return quads;
}

std::vector<BallQuad> fittedBallQuads(std::span<const TrackedPoint> points, float pointSize) {
  const std::vector<Placed> order = drawOrder(points, true);
  std::vector<BallQuad> quads;
  if (order.empty()) return quads;
  quads.reserve(order.size());
  const double low = order.front().point->position[2];
  const double high = order.back().point->position[2];
  // Halves, so that the span of two finite depths cannot overflow.
  const double halfSpan = high * 0.5 - low * 0.5;
  for (const Placed& placed : order) {
    double Z = 0.0;
    if (halfSpan > 0.0) {
      const double t =
          std::clamp((placed.point->position[2] * 0.5 - low * 0.5) / halfSpan, 0.0, 1.0);
      Z = kFitFarZ + (kFitNearZ - kFitFarZ) * t;
    }
    quads.push_back(quadAt(placed, Z, pointSize));
  }
  return quads;
}

void drawBallScene(std::span<const TrackedPoint> points, float pointSize) {
  drawQuads(ballQuads(points, pointSize));
}

void drawFittedBallScene(std::span<const TrackedPoint> points, float pointSize, GLText& text) {
  const std::vector<BallQuad> quads = fittedBallQuads(points, pointSize);
  drawQuads(quads);
  for (const BallQuad& quad : quads) {
    const auto& corner = quad.corners[2];  // (X + s, Y + s): top right
    text.drawAt(corner[0],
                corner[1],
                corner[2],
                std::to_string(quad.number),
                kTextColour,
                kPanelBackground);
  }
}

}  // namespace epipolar
