#include "ui/BallView.h"

#include <GL/gl.h>

#include <algorithm>

namespace epipolar {

std::vector<BallQuad> ballQuads(std::span<const TrackedPoint> points, float pointSize) {
  std::vector<const TrackedPoint*> order;
  order.reserve(points.size());
  for (const TrackedPoint& point : points) order.push_back(&point);
  std::stable_sort(order.begin(), order.end(), [](const TrackedPoint* a, const TrackedPoint* b) {
    return a->position[2] < b->position[2];
  });

  const double s = pointSize;
  std::vector<BallQuad> quads;
  quads.reserve(order.size());
  for (const TrackedPoint* point : order) {
    // 1/640 and 1/480: the picture's pixels onto [-0.5, 0.5], y turned upwards.
    const double X = point->position[0] * 0.0015625 - 0.5;
    const double Y = -(point->position[1] * 0.0020833333333333333 - 0.5);
    const double Z = point->position[2] * 0.01;
    const double xs[4] = {X - s, X - s, X + s, X + s};
    const double ys[4] = {Y - s, Y + s, Y + s, Y - s};
    BallQuad quad;
    quad.colour = point->colour;
    for (int corner = 0; corner < 4; ++corner) {
      quad.corners[corner][0] = static_cast<float>(xs[corner]);
      quad.corners[corner][1] = static_cast<float>(ys[corner]);
      quad.corners[corner][2] = static_cast<float>(Z);
    }
    quads.push_back(quad);
  }
  return quads;
}

void drawBallScene(std::span<const TrackedPoint> points, float pointSize) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -3.0f);
  if (points.empty()) return;

  const std::vector<BallQuad> quads = ballQuads(points, pointSize);
  glBegin(GL_QUADS);
  for (const BallQuad& quad : quads) {
    glColor3f(quad.colour.r, quad.colour.g, quad.colour.b);
    for (const auto& corner : quad.corners) glVertex3f(corner[0], corner[1], corner[2]);
  }
  glEnd();
}

}  // namespace epipolar
