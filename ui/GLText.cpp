#include "ui/GLText.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/FixedFont.h"

namespace epipolar {

namespace {

constexpr int kAtlasSize = 128;
constexpr int kAtlasColumns = 16;  // 16 x 6 = 96 and 6 rows x 13 = 78 texels fit in 128
constexpr int kPadding = 2;

}  // namespace

bool GLText::upload() {
  if (texture != 0) return true;
  std::vector<GLubyte> atlas(kAtlasSize * kAtlasSize, 0);
  for (int g = 0; g < kFixedFontGlyphs; ++g) {
    const int left = (g % kAtlasColumns) * kFixedFontWidth;
    const int top = (g / kAtlasColumns) * kFixedFontHeight;
    for (int row = 0; row < kFixedFontHeight; ++row) {
      for (int col = 0; col < kFixedFontWidth; ++col) {
        if ((kFixedFontRows[g][row] >> (7 - col)) & 1u) {
          // Texture rows go up from t = 0; atlas row 0 is stored first and is the glyphs' top
          // row, so the texture coordinates below run t downwards with the text.
          atlas[(top + row) * kAtlasSize + left + col] = 255;
        }
      }
    }
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  if (name == 0) return false;
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
  glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  glTexImage2D(GL_TEXTURE_2D,
               0,
               GL_ALPHA8,
               kAtlasSize,
               kAtlasSize,
               0,
               GL_ALPHA,
               GL_UNSIGNED_BYTE,
               atlas.data());
  glPopClientAttrib();
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
  texture = name;
  return true;
}

void GLText::release() {
  if (texture == 0) return;
  const GLuint name = texture;
  glDeleteTextures(1, &name);
  texture = 0;
}

void GLText::drawScreen(
    int x, int y, std::string_view text, Rgba colour, Rgba background, int scale) {
  if (text.empty() || scale < 1 || !upload()) return;
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);

  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT |
               GL_TRANSFORM_BIT);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  // One unit a pixel, y down from the viewport's top edge.
  glOrtho(0.0, viewport[2], viewport[3], 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  const double cellW = static_cast<double>(kFixedFontWidth) * scale;
  const double cellH = static_cast<double>(kFixedFontHeight) * scale;
  const double x0 = x, y0 = y;
  const double x1 = x0 + cellW * static_cast<double>(text.size());
  if (background.a > 0) {
    glDisable(GL_TEXTURE_2D);
    glColor4ub(background.r, background.g, background.b, background.a);
    glBegin(GL_QUADS);
    glVertex2d(x0 - kPadding, y0 - kPadding);
    glVertex2d(x1 + kPadding, y0 - kPadding);
    glVertex2d(x1 + kPadding, y0 + cellH + kPadding);
    glVertex2d(x0 - kPadding, y0 + cellH + kPadding);
    glEnd();
  }

  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor4ub(colour.r, colour.g, colour.b, colour.a);
  glBegin(GL_QUADS);
  double left = x0;
  for (const char c : text) {
    const int g = static_cast<int>(fixedFontGlyph(c) - kFixedFontRows[0]) / kFixedFontHeight;
    const double s0 = static_cast<double>((g % kAtlasColumns) * kFixedFontWidth) / kAtlasSize;
    const double t0 = static_cast<double>((g / kAtlasColumns) * kFixedFontHeight) / kAtlasSize;
    const double s1 = s0 + static_cast<double>(kFixedFontWidth) / kAtlasSize;
    const double t1 = t0 + static_cast<double>(kFixedFontHeight) / kAtlasSize;
    glTexCoord2d(s0, t0);
    glVertex2d(left, y0);
    glTexCoord2d(s1, t0);
    glVertex2d(left + cellW, y0);
    glTexCoord2d(s1, t1);
    glVertex2d(left + cellW, y0 + cellH);
    glTexCoord2d(s0, t1);
    glVertex2d(left, y0 + cellH);
    left += cellW;
  }
  glEnd();

  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
}

void GLText::drawAt(
    double X, double Y, double Z, std::string_view text, Rgba colour, Rgba background, int scale) {
  if (!std::isfinite(X) || !std::isfinite(Y) || !std::isfinite(Z) || scale < 1) return;
  GLdouble modelview[16], projection[16];
  GLint viewport[4];
  glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glGetIntegerv(GL_VIEWPORT, viewport);
  GLdouble wx = 0, wy = 0, wz = 0;
  if (gluProject(X, Y, Z, modelview, projection, viewport, &wx, &wy, &wz) != GL_TRUE) return;
  // Behind the eye the perspective division lands beyond the far side of the depth range.
  if (!(wz >= 0.0 && wz <= 1.0) || !std::isfinite(wx) || !std::isfinite(wy)) return;
  // Window coordinates go up from the window's bottom; the text's go down from the
  // viewport's top.
  const double sx = wx - viewport[0];
  const double sy = (viewport[1] + viewport[3]) - wy;
  const double w = static_cast<double>(kFixedFontWidth) * scale * static_cast<double>(text.size());
  const double h = static_cast<double>(kFixedFontHeight) * scale;
  const double left = std::floor(sx - w / 2.0 + 0.5), top = std::floor(sy - h / 2.0 + 0.5);
  // A projected point far outside the viewport would not fit an int; its text is not seen.
  constexpr double kFar = 1e6;
  if (std::fabs(left) > kFar || std::fabs(top) > kFar) return;
  drawScreen(static_cast<int>(left), static_cast<int>(top), text, colour, background, scale);
}

}  // namespace epipolar
