#include "geometry/MatchSearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include "geometry/Epipolar.h"
#include "geometry/MatchSearchInternal.h"
#include "geometry/testing/StereoPair.h"
#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

using testing::LogCapture;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Pure horizontal translation: F * (x, y, 1) = (0, -1, y), the line of height y.
Matrix horizontalF() {
  const double values[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  return Matrix(values, 3, 3);
}

Vector lineOf(double a, double b, double c) {
  const double values[3] = {a, b, c};
  return Vector(values, 3);
}

SearchWalk walkFor(const Vector& line, int width, int height, int band = kMatchBand) {
  return planSearchWalk(line, clipLineToImage(line, width, height), width, height, band);
}

std::unique_ptr<Image> uniformPicture(
    int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  auto image = Image::blank(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* at = image->row(y) + 3 * x;
      at[0] = b;
      at[1] = g;
      at[2] = r;
    }
  }
  return image;
}

template <typename T>
std::string text(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

TEST(WindowOffsets, KeepTheWindowInsideThePicture) {
  EXPECT_EQ(windowOffsets(0, 7, 320), (OffsetRange{0, 7}));
  EXPECT_EQ(windowOffsets(3, 7, 320), (OffsetRange{-3, 7}));
  EXPECT_EQ(windowOffsets(160, 7, 320), (OffsetRange{-7, 7}));
  // The last column reads no further than itself.
  EXPECT_EQ(windowOffsets(319, 7, 320), (OffsetRange{-7, 0}));
  EXPECT_EQ(windowOffsets(2, 7, 4), (OffsetRange{-2, 1}));
}

TEST(SearchWalk, HorizontalLineWalksEveryColumnWithinTheBand) {
  const Vector line = horizontalF() * homogeneousPoint(100, 50);
  const SearchWalk walk = walkFor(line, 320, 240);
  ASSERT_TRUE(walk.alongColumns);
  ASSERT_EQ(walk.steps.size(), 320u);
  for (int x = 0; x < 320; ++x) {
    EXPECT_EQ(walk.steps[x], (SearchWalk::Step{x, 30, 71})) << "column " << x;
  }
  EXPECT_EQ(walk.candidates(), 320 * 41);
}

TEST(SearchWalk, SteepAndVerticalLinesWalkRows) {
  // x = 100: both ends on the border crossings, every row, columns 80..120.
  const SearchWalk vertical = walkFor(lineOf(1, 0, -100), 320, 240);
  ASSERT_FALSE(vertical.alongColumns);
  ASSERT_EQ(vertical.steps.size(), 240u);
  EXPECT_EQ(vertical.steps.front(), (SearchWalk::Step{0, 80, 121}));
  EXPECT_EQ(vertical.steps.back(), (SearchWalk::Step{239, 80, 121}));

  // x = y / 2 + 10: rows from the top, columns following the line and cut at x = 0.
  const SearchWalk steep = walkFor(lineOf(2, -1, -20), 320, 240);
  ASSERT_FALSE(steep.alongColumns);
  EXPECT_EQ(steep.steps.front(), (SearchWalk::Step{0, 0, 31}));
  EXPECT_EQ(steep.steps[100], (SearchWalk::Step{100, 40, 81}));

  // A line of slope exactly 1 is walked by rows; 0.99 by columns.
  EXPECT_FALSE(walkFor(lineOf(1, -1, 0), 320, 240).alongColumns);
  EXPECT_TRUE(walkFor(lineOf(0.99, -1, 0), 320, 240).alongColumns);
}

TEST(SearchWalk, NearTheRightBorderTheBandIsCut) {
  // y = x / 2 - 150 enters at the top (300, 0) and leaves at the right (320, 10): columns
  // from 300 - 20 to the last, rows cut at the top border.
  const SearchWalk walk = walkFor(lineOf(0.5, -1, -150), 320, 240);
  ASSERT_TRUE(walk.alongColumns);
  EXPECT_EQ(walk.steps.front(), (SearchWalk::Step{280, 0, 11}));
  EXPECT_EQ(walk.steps.back(), (SearchWalk::Step{319, 0, 30}));
  for (const SearchWalk::Step& step : walk.steps) {
    EXPECT_GE(step.lo, 0);
    EXPECT_LE(step.hi, 240);
    EXPECT_LT(step.lo, step.hi);
  }
}

TEST(SearchWalk, AWalkEndingInsideThePictureRunsBandPastItsEnd) {
  // y = 150 - 0.75 x leaves through the top border at x = 200, well inside the picture: the
  // walk goes on for the band, to column 220 inclusive. Its transpose does the same by rows.
  const SearchWalk columns = walkFor(lineOf(0.75, 1, -150), 320, 240);
  ASSERT_TRUE(columns.alongColumns);
  EXPECT_EQ(columns.steps.front(), (SearchWalk::Step{0, 130, 171}));
  EXPECT_EQ(columns.steps.back(), (SearchWalk::Step{220, 0, 6}));
  const SearchWalk rows = walkFor(lineOf(1, 0.75, -150), 320, 240);
  ASSERT_FALSE(rows.alongColumns);
  EXPECT_EQ(rows.steps.front(), (SearchWalk::Step{0, 130, 171}));
  EXPECT_EQ(rows.steps.back(), (SearchWalk::Step{220, 0, 6}));
}

TEST(SearchWalk, LinesThatMissThePictureOrAreNotFiniteVisitNothing) {
  // Horizontal below the picture: both ends are (inf, 240); the walk must not turn the
  // infinite bounds into INT_MIN.
  EXPECT_EQ(walkFor(lineOf(0, 1, -300), 320, 240).candidates(), 0);
  EXPECT_EQ(walkFor(lineOf(0, 1, 300), 320, 240).candidates(), 0);
  // Far to the left of the picture, both ends on the top border.
  EXPECT_EQ(walkFor(lineOf(1, 1, 1000), 320, 240).candidates(), 0);
  EXPECT_EQ(walkFor(lineOf(kNaN, kNaN, kNaN), 320, 240).candidates(), 0);
  // Horizontal lines just outside the picture meet its border at infinity: nothing either.
  EXPECT_EQ(walkFor(lineOf(0, 1, 5), 320, 240).candidates(), 0);
  EXPECT_EQ(walkFor(lineOf(0, 1, -250), 320, 240).candidates(), 0);
  // An empty picture.
  EXPECT_EQ(walkFor(lineOf(0, 1, -5), 0, 0).candidates(), 0);
}

TEST(MatchScore, EqualColoursScoreFourteenFifteenths) {
  const auto a = uniformPicture(40, 30, 200, 30, 90);
  const auto b = uniformPicture(50, 40, 200, 30, 90);
  // Every sample is the hue of black, -1, so m^2 = 1.
  const float expected = (15.0f - 1.0f) / 15.0f;
  EXPECT_EQ(matchScore(*a, *b, {10, 10}, 20, 20, {-7, 7}, {-7, 7}), expected);
  // At the last column and row the window ends at the picture's edge.
  EXPECT_EQ(
      matchScore(*a, *b, {10, 10}, 49, 39, windowOffsets(49, 7, 50), windowOffsets(39, 7, 40)),
      expected);
  // Ranges reaching outside B are cut to B.
  EXPECT_EQ(matchScore(*a, *b, {10, 10}, 49, 39, {-7, 7}, {-7, 7}), expected);
  // A candidate outside B scores 0.
  EXPECT_EQ(matchScore(*a, *b, {10, 10}, 50, 10, {0, 0}, {0, 0}), 0.0f);
}

TEST(MatchScore, SquaredMeanAtTheThresholdScoresZero) {
  const auto a = uniformPicture(20, 20, 10, 200, 30);
  // m^2 = 1 against a threshold of 1: the first branch, (1 - 1) / 1.
  EXPECT_EQ(matchScore(*a, *a, {5, 5}, 5, 5, {-2, 2}, {-2, 2}, 1.0f), 0.0f);
  // Different colours: every sample is far above 15.
  const auto b = uniformPicture(20, 20, 30, 10, 250);
  EXPECT_EQ(matchScore(*a, *b, {5, 5}, 5, 5, {-2, 2}, {-2, 2}), 0.0f);
}

TEST(MatchScore, ShiftedSourcePixelsAreClampedInsideA) {
  // A: column 0 red, the rest dark blue. B: columns up to 30 red, the rest dark blue (the
  // value differs: colours of equal value give the black difference too). For the source
  // (0, 10), every sample left of the source reads A's column 0 (red), and so does the
  // sample at offset 0, while samples to the right read blue: with the candidate at column
  // 30 every sample matches.
  auto a = uniformPicture(40, 30, 0, 0, 100);
  for (int y = 0; y < 30; ++y) a->setPixel(0, y, Colour(1, 0, 0));
  auto b = uniformPicture(60, 30, 0, 0, 100);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x <= 30; ++x) b->setPixel(x, y, Colour(1, 0, 0));
  }
  EXPECT_EQ(matchScore(*a, *b, {0, 10}, 30, 10, {-7, 7}, {-7, 7}), 14.0f / 15.0f);
  // One column further, one sample differs (and pulls the mean towards 0).
  EXPECT_NE(matchScore(*a, *b, {0, 10}, 31, 10, {-7, 7}, {-7, 7}), 14.0f / 15.0f);
  // A source far outside A reads A's border column for every sample.
  EXPECT_EQ(matchScore(*a, *b, {-1e12, 10}, 23, 10, {-7, 7}, {-7, 7}), 14.0f / 15.0f);
}

using SearchFunction =
    ImagePosition (*)(const Image&, const Image&, ImagePosition, const Matrix&, int, int, float);

struct NamedSearch {
  const char* name;
  SearchFunction search;
};

class SearchTest : public ::testing::TestWithParam<NamedSearch> {};

TEST_P(SearchTest, FindsTheTruePixelOfAShiftedPair) {
  // The match lies on the line, so a narrow band finds it as well and keeps the test short.
  const auto pair = testing::shiftedPair(120, 90, 6, 3);
  for (const ImagePosition source : {ImagePosition{60, 40}, ImagePosition{8, 5}}) {
    const ImagePosition found =
        GetParam().search(*pair.a, *pair.b, source, pair.F, 15, 6, kMatchThreshold);
    EXPECT_EQ(found, (ImagePosition{source.x - 6, source.y - 3}))
        << "from " << source.x << ", " << source.y;
  }
}

TEST_P(SearchTest, LogsTheLineAndItsEnds) {
  const auto a = uniformPicture(320, 240, 1, 2, 3);
  LogCapture log;
  GetParam().search(*a, *a, {100, 50}, horizontalF(), 1, 0, kMatchThreshold);
  const Vector line = lineOf(0, -1 / std::sqrt(2501.0), 50 / std::sqrt(2501.0));
  const std::vector<std::string> expected = {"Line: " + text(line), "<0, 50, 1> -> <320, 50, 1>"};
  EXPECT_EQ(log.lines(), expected);
}

TEST_P(SearchTest, UniformPicturesTieAndTheFirstCandidateWins) {
  const auto a = uniformPicture(320, 240, 90, 90, 200);
  LogCapture log;
  // A 3x3 window keeps the test short; the walk is the full one.
  const ImagePosition found =
      GetParam().search(*a, *a, {100, 50}, horizontalF(), 3, 20, kMatchThreshold);
  EXPECT_EQ(found, (ImagePosition{0, 30}));
}

TEST_P(SearchTest, NonFiniteAndMissingLinesReturnTheOrigin) {
  const auto pair = testing::shiftedPair(320, 240, 6, 3);
  LogCapture log;
  // Before calibration F is zero: the line is 0/0.
  EXPECT_EQ(GetParam().search(*pair.a, *pair.b, {10, 10}, Matrix(3, 3), 15, 20, 15.0f),
            (ImagePosition{}));
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0].rfind("Line: <", 0), 0u);
  EXPECT_NE(log.lines()[1].find(" -> "), std::string::npos);
  // A horizontal line far below the picture: infinite ends.
  const double below[9] = {0, 0, 0, 0, 0, 0, 0, 1, -5000};
  EXPECT_EQ(GetParam().search(*pair.a, *pair.b, {10, 10}, Matrix(below, 3, 3), 15, 20, 15.0f),
            (ImagePosition{}));
  // A NaN source point, and a malformed matrix.
  EXPECT_EQ(GetParam().search(*pair.a, *pair.b, {kNaN, 10}, pair.F, 15, 20, 15.0f),
            (ImagePosition{}));
  EXPECT_EQ(GetParam().search(*pair.a, *pair.b, {10, 10}, Matrix(), 15, 20, 15.0f),
            (ImagePosition{}));
}

INSTANTIATE_TEST_SUITE_P(Both,
                         SearchTest,
                         ::testing::Values(NamedSearch{"Reference", &searchAlongLineReference},
                                           NamedSearch{"Fast", &searchAlongLine}),
                         [](const auto& info) { return std::string(info.param.name); });

// Random pictures, mostly from a small palette (many ties and many means near the threshold),
// random lines of every kind, and random window and band sizes: the fast search with the walk split
// in up to three pieces, and with the default split, must give the reference's position and
// log.
// The fast search (default split, and split in three pieces) against the reference: the same
// position and the same log lines.
void expectFastEqualsReference(const Image& a,
                               const Image& b,
                               ImagePosition source,
                               const Matrix& M,
                               int windowSize,
                               int band) {
  LogCapture log;
  const ImagePosition expected =
      searchAlongLineReference(a, b, source, M, windowSize, band, kMatchThreshold);
  const auto referenceLines = log.lines();
  log.clear();
  const ImagePosition split =
      detail::searchAlongLineSplit(a, b, source, M, windowSize, band, kMatchThreshold, 3, 1);
  const ImagePosition fast = searchAlongLine(a, b, source, M, windowSize, band, kMatchThreshold);
  EXPECT_EQ(split, expected);
  EXPECT_EQ(fast, expected);
  const auto fastLines = log.lines();
  ASSERT_EQ(fastLines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(fastLines.begin(), fastLines.begin() + 2), referenceLines);
  EXPECT_EQ(std::vector<std::string>(fastLines.begin() + 2, fastLines.end()), referenceLines);
}

TEST(SearchEquality, FastEqualsReferenceOnRandomInputs) {
  std::mt19937 random(12345);
  auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random);
  };
  auto integer = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };

  for (int round = 0; round < 150; ++round) {
    const int wa = integer(1, 40), ha = integer(1, 30);
    const int wb = integer(1, 48), hb = integer(1, 36);
    std::vector<Colour> palette(std::vector<int>{1, 2, 3, 4, 200}[integer(0, 4)]);
    for (Colour& colour : palette) {
      colour = Colour(integer(0, 255) / 255.0f, integer(0, 255) / 255.0f, integer(0, 255) / 255.0f);
    }
    auto picture = [&](int w, int h) {
      auto image = Image::blank(w, h);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image->setPixel(x, y, palette[integer(0, palette.size() - 1)]);
      }
      return image;
    };
    const auto a = picture(wa, ha);
    const auto b = picture(wb, hb);

    Matrix M(3, 3);
    switch (round % 6) {
      case 0:  // any line
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) M(i, j) = uniform(-1, 1);
        break;
      case 1:  // horizontal, possibly outside the picture
        M(1, 2) = -1;
        M(2, 1) = 1;
        M(2, 2) = uniform(-80, 80);
        break;
      case 2:  // vertical
        M(0, 2) = 1;
        M(2, 2) = uniform(-80, 80);
        break;
      case 3:  // steep
        M(0, 2) = uniform(2, 10);
        M(1, 2) = uniform(-1, 1);
        M(2, 2) = uniform(-100, 100);
        break;
      case 4:  // not finite
        M(0, 0) = kNaN;
        break;
      default:  // shallow, through the picture
        M(0, 2) = uniform(-0.9, 0.9);
        M(1, 2) = -1;
        M(2, 2) = uniform(0, hb);
        break;
    }
    const ImagePosition source{uniform(-5, wa + 5), uniform(-5, ha + 5)};
    const int windowSize = std::vector<int>{15, 15, 7, 4, 1}[integer(0, 4)];
    const int band = std::vector<int>{20, 20, 5, 0}[integer(0, 3)];

    SCOPED_TRACE(::testing::Message() << "round " << round);
    expectFastEqualsReference(*a, *b, source, M, windowSize, band);
  }
}

// Difference hues in [240, 300), fromHsv's sector 4, arise from pairs of hues about 300 to
// 330 degrees apart: a reddish-purple base (hue 330-359) against orange (hue 0-40). Both
// pictures are the uniform base with sparse orange pixels, so most samples are the -1 of
// identical colours and a window's few sector-4 samples decide how close its mean comes to
// 0, which is what makes one candidate win over another.
TEST(SearchEquality, FastEqualsReferenceWhereSectorFourSamplesDecide) {
  std::mt19937 random(777);
  auto uniform = [&](float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(random);
  };
  for (int round = 0; round < 30; ++round) {
    Colour base;
    base.fromHsv(uniform(330, 359), uniform(0.5f, 1), uniform(0.5f, 1));
    auto picture = [&](int w, int h) {
      auto image = Image::blank(w, h);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          Colour colour = base;
          if (uniform(0, 1) < 0.006f) {
            colour.fromHsv(uniform(0, 40), uniform(0.3f, 1), uniform(0.3f, 1));
          }
          image->setPixel(x, y, colour);
        }
      }
      return image;
    };
    const auto a = picture(64, 48);
    const auto b = picture(64, 48);
    const ImagePosition source{uniform(10, 54), uniform(10, 38)};
    SCOPED_TRACE(::testing::Message() << "round " << round);
    expectFastEqualsReference(*a, *b, source, horizontalF(), 15, 10);
  }
}

// A textured pair of the size the camera delivers, with a slanted line, from several source
// points, split in two pieces as on the two-core machine.
TEST(SearchEquality, FastEqualsReferenceOnACameraSizedPair) {
  const auto pair = testing::shiftedPair(320, 240, 10, 4, 3);
  LogCapture log;
  for (const ImagePosition source : {ImagePosition{160, 120}}) {
    const ImagePosition expected =
        searchAlongLineReference(*pair.a, *pair.b, source, pair.F, 15, 20, kMatchThreshold);
    EXPECT_EQ(detail::searchAlongLineSplit(
                  *pair.a, *pair.b, source, pair.F, 15, 20, kMatchThreshold, 2, 1),
              expected);
  }
}

}  // namespace
}  // namespace epipolar
