#include "ui/Overlay.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "ui/FixedFont.h"

namespace epipolar {
namespace {

constexpr std::uint32_t kBlack = 0xFF000000u;  // the top byte must survive every drawing
constexpr std::uint32_t kGuard = 0xA5A5A5A5u;
constexpr Rgba kWhite{255, 255, 255, 255};

// A canvas inside a larger buffer whose border of kMargin pixels holds kGuard, so writes
// outside the canvas show.
class GuardedCanvas {
 public:
  static constexpr int kMargin = 8;
  GuardedCanvas(int width, int height)
      : stride(width + 2 * kMargin),
        buffer(static_cast<std::size_t>(stride) * (height + 2 * kMargin), kGuard) {
    canvas.pixels = reinterpret_cast<std::uint8_t*>(buffer.data() + kMargin * stride + kMargin);
    canvas.width = width;
    canvas.height = height;
    canvas.pitch = static_cast<std::ptrdiff_t>(stride) * 4;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) set(x, y, kBlack);
  }
  void set(int x, int y, std::uint32_t v) {
    buffer[static_cast<std::size_t>(y + kMargin) * stride + x + kMargin] = v;
  }
  std::uint32_t rgb(int x, int y) const { return canvas.at(x, y) & 0xFFFFFFu; }
  // The guard border is untouched and every canvas pixel kept its top byte.
  bool intact() const {
    for (int y = -kMargin; y < canvas.height + kMargin; ++y)
      for (int x = -kMargin; x < canvas.width + kMargin; ++x) {
        const std::uint32_t v =
            buffer[static_cast<std::size_t>(y + kMargin) * stride + x + kMargin];
        const bool inside = x >= 0 && y >= 0 && x < canvas.width && y < canvas.height;
        if (inside ? (v >> 24) != 0xFFu : v != kGuard) return false;
      }
    return true;
  }
  // The set of pixels that are not black.
  std::set<std::pair<int, int>> lit() const {
    std::set<std::pair<int, int>> result;
    for (int y = 0; y < canvas.height; ++y)
      for (int x = 0; x < canvas.width; ++x)
        if (rgb(x, y) != 0) result.insert({x, y});
    return result;
  }

  int stride;
  std::vector<std::uint32_t> buffer;
  Canvas canvas;
};

std::uint32_t grey(int level) { return static_cast<std::uint32_t>(level) * 0x010101u; }

TEST(CanvasLine, CoversPixelsByTheirDistanceFromTheSegment) {
  GuardedCanvas g(64, 48);
  // Two pixels wide: full on the line, half one pixel off it, nothing two pixels off, and a
  // round cap reaching one pixel beyond each end.
  drawLine(g.canvas, 10, 20, 50, 20, kWhite, 2.0);
  EXPECT_EQ(g.rgb(30, 20), grey(255));
  EXPECT_EQ(g.rgb(30, 19), grey(128));
  EXPECT_EQ(g.rgb(30, 21), grey(128));
  EXPECT_EQ(g.rgb(30, 18), 0u);
  EXPECT_EQ(g.rgb(30, 22), 0u);
  EXPECT_EQ(g.rgb(9, 20), grey(128));
  EXPECT_EQ(g.rgb(8, 20), 0u);
  EXPECT_EQ(g.rgb(51, 20), grey(128));
  // Steep and diagonal lines are walked along their major axis without gaps.
  GuardedCanvas steep(64, 48);
  drawLine(steep.canvas, 5.0, 2.0, 9.0, 45.0, kWhite, 2.0);
  drawLine(steep.canvas, 20.0, 5.0, 60.0, 45.0, kWhite, 2.0);
  for (int y = 2; y <= 45; ++y) {
    const double x = 5.0 + 4.0 * (y - 2.0) / 43.0;
    EXPECT_EQ(steep.rgb(static_cast<int>(std::lround(x)), y), grey(255)) << y;
  }
  for (int k = 0; k <= 40; ++k) EXPECT_EQ(steep.rgb(20 + k, 5 + k), grey(255)) << k;
  EXPECT_EQ(steep.rgb(30, 18), 0u);  // 2.1 px from the diagonal
  // Translucent colours blend: 50 % white over black.
  GuardedCanvas half(8, 8);
  drawLine(half.canvas, 0, 4, 7, 4, Rgba{255, 255, 255, 128}, 2.0);
  EXPECT_EQ(half.rgb(3, 4), grey(128));
  EXPECT_TRUE(g.intact() && steep.intact() && half.intact());
}

TEST(CanvasShapes, StayOnTheCanvasWhateverTheirCoordinates) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double big = std::numeric_limits<double>::max();
  GuardedCanvas g(40, 30);
  // A line far longer than the canvas is clipped to it and still drawn where it crosses.
  drawLine(g.canvas, -1e9, 12, 1e9, 12, kWhite, 2.0);
  for (int x = 0; x < 40; ++x) EXPECT_EQ(g.rgb(x, 12), grey(255)) << x;
  // Through both corners, past the edges.
  drawLine(g.canvas, -30, -30, 70, 70, kWhite, 2.0);
  EXPECT_EQ(g.rgb(0, 0), grey(255));
  EXPECT_EQ(g.rgb(29, 29), grey(255));

  GuardedCanvas wild(40, 30);
  const double values[] = {nan, inf, -inf, big, -big, 1e300, -1e300, 1e17, -5.0, 20.0};
  for (double a : values)
    for (double b : values) {
      drawLine(wild.canvas, a, b, b, a, kWhite, 3.0);
      drawLine(wild.canvas, a, 10.0, 15.0, b, kWhite, 2.0);
      drawOutlinedLine(wild.canvas, 0.0, a, b, 29.0, kWhite, 2.0);
      drawRing(wild.canvas, a, b, 6.0, kWhite, 2.0);
      drawRing(wild.canvas, 20.0, 15.0, a, kWhite, b);
      fillDisc(wild.canvas, a, 15.0, b, kWhite);
      drawMarker(wild.canvas, a, b, 12, kWhite, MarkerState::pending);
      drawMarker(wild.canvas, a, b, 7, kWhite, MarkerState::selected);
    }
  drawLine(wild.canvas, 1.0, 1.0, 2.0, 2.0, kWhite, nan);
  for (int v : {INT_MIN, INT_MIN + 3, -100, 0, 35, INT_MAX - 3, INT_MAX}) {
    drawText(wild.canvas, v, 5, "outline", kWhite, Rgba{0, 0, 0, 200});
    drawText(wild.canvas, 5, v, "text", kWhite);
    fillRect(wild.canvas, {v, v, INT_MAX, INT_MAX}, kWhite);
    fillRect(wild.canvas, {v, 3, 5, 5}, kWhite);
    frameRect(wild.canvas, {v, v, v, 4}, kWhite, 3);
    drawLabel(wild.canvas, v, v, "12");
  }
  EXPECT_TRUE(wild.intact());

  // Panels and the status line on a canvas too small for them, and a long text.
  GuardedCanvas tiny(3, 2);
  const std::string longText(5000, 'W');
  drawStatusLine(tiny.canvas, longText);
  drawHelpPanel(tiny.canvas, longText + "\n\n" + longText);
  drawMarker(tiny.canvas, 1, 1, 99999, kWhite, MarkerState::highlighted);
  auto picture = Image::blank(2, 2);
  drawLoupe(tiny.canvas, *picture, 1.0, 1.0, loupePlace(tiny.canvas, 0, 0));
  drawLoupe(tiny.canvas, *picture, 1e300, -1e300, {-INT_MAX, INT_MAX, 0, 0});
  EXPECT_TRUE(tiny.intact());
  EXPECT_TRUE(g.intact());
}

// The pixels `text` lights when drawn alone at (1, 1).
std::set<std::pair<int, int>> textPixels(std::string_view text) {
  GuardedCanvas g(kFixedFontWidth * static_cast<int>(text.size()) + 2, kFixedFontHeight + 2);
  drawText(g.canvas, 1, 1, text, kWhite);
  EXPECT_TRUE(g.intact());
  return g.lit();
}

TEST(CanvasText, GlyphsAreUprightDistinctAndOutlined) {
  // Every printable character has its own glyph within its cell; only space is empty.
  std::set<std::set<std::pair<int, int>>> seen;
  for (char c = 33; c < 127; ++c) {
    const auto pixels = textPixels(std::string(1, c));
    EXPECT_FALSE(pixels.empty()) << c;
    EXPECT_TRUE(seen.insert(pixels).second) << c;
  }
  EXPECT_TRUE(textPixels(" ").empty());
  // Not mirrored or upside down: '|' is one column 9 or more rows high; 'L' has its stem at
  // the left and its foot at the bottom reaching right; '-' is one row.
  std::set<int> columns, rows;
  for (const auto& [x, y] : textPixels("|")) {
    columns.insert(x);
    rows.insert(y);
  }
  EXPECT_EQ(columns.size(), 1u);
  EXPECT_GE(rows.size(), 9u);
  const auto l = textPixels("L");
  const int left = l.begin()->first, right = l.rbegin()->first;
  int bottom = 0, top = 100;
  for (const auto& [x, y] : l) {
    bottom = std::max(bottom, y);
    top = std::min(top, y);
  }
  EXPECT_TRUE(l.count({left, top}) && l.count({right, bottom}) && !l.count({right, top}));
  // Drawn at (1, 1): the stem is the cell's first column and starts on the cell's third row.
  EXPECT_EQ(left, 1);
  EXPECT_EQ(top, 3);
  rows.clear();
  for (const auto& p : textPixels("-")) rows.insert(p.second);
  EXPECT_EQ(rows.size(), 1u);
  // Bytes without a glyph (here a UTF-8 sequence) show as '?', and cells advance by 6.
  EXPECT_EQ(textPixels("\xC3\xA9"), textPixels("??"));
  EXPECT_EQ(textWidth("pairs"), 30);
  // The outline surrounds the glyph: the pixel left of '|' is painted in it, the glyph keeps
  // its colour.
  GuardedCanvas g(10, 16);
  drawText(g.canvas, 1, 1, "|", kWhite, Rgba{0, 0, 255, 255});
  const int stem = textPixels("|").begin()->first;
  const int mid = 1 + kFixedFontHeight / 2;
  EXPECT_EQ(g.rgb(stem, mid), grey(255));
  EXPECT_EQ(g.rgb(stem - 1, mid), 0x0000FFu);
  EXPECT_EQ(g.rgb(stem + 2, mid), 0u);
}

TEST(Overlay, MarkersTakeTheResidualColourAndLeaveTheirPointVisible) {
  EXPECT_EQ(residualColour(0.99).g, kResidualGood.g);
  EXPECT_EQ(residualColour(1.0).r, kResidualFair.r);
  EXPECT_EQ(residualColour(2.99).g, kResidualFair.g);
  for (double bad : {3.0, 50.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
    EXPECT_EQ(residualColour(bad).g, kResidualBad.g) << bad;
  }
  GuardedCanvas g(80, 60);
  drawMarker(g.canvas, 30, 30, 3, kResidualGood, MarkerState::normal);
  const std::uint32_t green = (kResidualGood.r << 16) | (kResidualGood.g << 8) | kResidualGood.b;
  EXPECT_EQ(g.rgb(30 + 6, 30), green);
  EXPECT_EQ(g.rgb(30, 30 - 6), green);
  EXPECT_EQ(g.rgb(30, 30), 0u);  // the point itself stays visible
  // The number sits at the upper right; at the right border it moves to the left.
  EXPECT_FALSE(g.lit().empty());
  int numberPixels = 0;
  for (const auto& [x, y] : g.lit()) numberPixels += x > 38 && y < 22;
  EXPECT_GT(numberPixels, 5);
  GuardedCanvas edge(80, 60);
  drawMarker(edge.canvas, 76, 30, 3, kResidualGood, MarkerState::normal);
  for (const auto& [x, y] : edge.lit()) EXPECT_LT(x, 80) << y;
  int leftPixels = 0;
  for (const auto& [x, y] : edge.lit()) leftPixels += x < 67 && y < 22;
  EXPECT_GT(leftPixels, 5);
}

// A picture whose every pixel differs: red = x, green = y, blue = 77.
std::unique_ptr<Image> pattern(int width, int height) {
  auto image = Image::blank(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image->row(y) + 3 * x;
      p[0] = 77;
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x);
    }
  return image;
}

TEST(Overlay, LoupeMagnifiesFourTimesInTheCornerAwayFromThePointer) {
  GuardedCanvas g(240, 220);
  const auto picture = pattern(240, 220);
  // Pointer at the upper left: the loupe goes to the lower right, above the status line.
  const PixelRect place = loupePlace(g.canvas, 50, 40, kStatusLineHeight);
  EXPECT_EQ(place.x, 240 - kLoupeMargin - kLoupeSize);
  EXPECT_EQ(place.y, 220 - kStatusLineHeight - kLoupeMargin - kLoupeSize);
  EXPECT_EQ(loupePlace(g.canvas, 200, 200).x, kLoupeMargin);
  EXPECT_EQ(loupePlace(g.canvas, 200, 200).y, kLoupeMargin);

  drawLoupe(g.canvas, *picture, 50.0, 40.0, place);
  auto expected = [](int i, int j) {
    return (static_cast<std::uint32_t>(30 + i) << 16) | ((20u + j) << 8) | 77u;
  };
  for (int j = 0; j <= 40; ++j)
    for (int i = 0; i <= 40; ++i) {
      // Blocks under the crosshair's arms are covered; the centre block and its neighbours
      // are not.
      if ((i == 20 && std::abs(j - 20) > 1) || (j == 20 && std::abs(i - 20) > 1)) continue;
      for (int k = 0; k < 16; ++k) {
        const int x = place.x + 4 * i + k % 4, y = place.y + 4 * j + k / 4;
        ASSERT_EQ(g.rgb(x, y), expected(i, j)) << i << "," << j;
      }
    }
  // The crosshair's vertical arm covers the middle two columns of the centre block's column
  // and moves with a sub-pixel point: a quarter pixel is one screen pixel.
  EXPECT_EQ(g.rgb(place.x + 81, place.y + 10), grey(255));
  EXPECT_EQ(g.rgb(place.x + 82, place.y + 10), grey(255));
  drawLoupe(g.canvas, *picture, 50.25, 40.0, place);
  EXPECT_EQ(g.rgb(place.x + 83, place.y + 10), grey(255));
  EXPECT_NE(g.rgb(place.x + 81, place.y + 10), grey(255));

  // Near the picture's corner the pixels outside it show dark grey.
  drawLoupe(g.canvas, *picture, 2.0, 3.0, place);
  EXPECT_EQ(g.rgb(place.x, place.y), grey(40));
  EXPECT_EQ(g.rgb(place.x + 4 * 18, place.y + 4 * 17), expected(-30, -20));
  EXPECT_TRUE(g.intact());
}

}  // namespace
}  // namespace epipolar
