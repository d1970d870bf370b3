#include "geometry/Epipolar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "geometry/Residuals.h"
#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

// F of a camera pair related by a pure horizontal translation: matches share their row.
Matrix horizontalTranslationF() {
  const double values[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  return Matrix(values, 3, 3);
}

Vector line(double a, double b, double c) {
  const double values[3] = {a, b, c};
  return Vector(values, 3);
}

TEST(Epipolar, HorizontalTranslationMapsAPointToItsRow) {
  const Matrix F = horizontalTranslationF();
  EXPECT_EQ(epipolarMatrix(F, false) * homogeneousPoint(100, 50), line(0, -1, 50));
  EXPECT_EQ(epipolarMatrix(F, true), F.transpose());
  EXPECT_EQ(epipolarMatrix(F, true) * homogeneousPoint(100, 50), line(0, 1, -50));
}

TEST(Epipolar, EpipolesOfHorizontalTranslationLieAtInfinityAlongX) {
  testing::LogCapture log;
  Vector epipole0;
  Vector epipole1;
  computeEpipoles(horizontalTranslationF(), epipole0, epipole1);
  for (const Vector* e : {&epipole0, &epipole1}) {
    ASSERT_EQ(e->count(), 3);
    EXPECT_EQ(std::fabs((*e)[0]), 1.0);
    EXPECT_EQ((*e)[1], 0.0);
    EXPECT_EQ((*e)[2], 0.0);
  }
  EXPECT_EQ(horizontalTranslationF() * epipole1, Vector(3));
  ASSERT_EQ(log.lines().size(), 2u);
  std::ostringstream expected0;
  std::ostringstream expected1;
  expected0 << "Epipole 0: " << epipole0;
  expected1 << "Epipole 1: " << epipole1;
  EXPECT_EQ(log.lines()[0], expected0.str());
  EXPECT_EQ(log.lines()[1], expected1.str());
}

TEST(Epipolar, EpipolesOfAMalformedMatrixStayInsideIt) {
  testing::LogCapture log;
  Vector epipole0;
  Vector epipole1;
  computeEpipoles(Matrix(), epipole0, epipole1);
  EXPECT_EQ(epipole0.count(), 1);
  EXPECT_EQ(log.lines().size(), 2u);
}

TEST(Epipolar, ClipsLinesAtTheSideBorders) {
  const VectorPair row = clipLineToImage(line(0, -1, 50), 320, 240);
  EXPECT_EQ(row.first, homogeneousPoint(0, 50));
  EXPECT_EQ(row.second, homogeneousPoint(320, 50));
}

TEST(Epipolar, ClipsLinesAtTheTopAndBottomBorders) {
  // x = y leaves through the bottom at (240, 240).
  const VectorPair diagonal = clipLineToImage(line(1, -1, 0), 320, 240);
  EXPECT_EQ(diagonal.first, homogeneousPoint(0, 0));
  EXPECT_EQ(diagonal.second, homogeneousPoint(240, 240));
  // y = 300 - x: enters through the bottom at x = 60, leaves through the top at x = 300.
  const VectorPair falling = clipLineToImage(line(1, 1, -300), 320, 240);
  EXPECT_EQ(falling.first, homogeneousPoint(60, 240));
  EXPECT_EQ(falling.second, homogeneousPoint(300, 0));
  // y = x - 100: enters through the top at x = 100, leaves at the right border.
  const VectorPair rising = clipLineToImage(line(1, -1, -100), 320, 240);
  EXPECT_EQ(rising.first, homogeneousPoint(100, 0));
  EXPECT_EQ(rising.second, homogeneousPoint(320, 220));
}

TEST(Epipolar, VerticalLinesRunFromTopToBottomBorder) {
  const VectorPair vertical = clipLineToImage(line(1, 0, -100), 320, 240);
  EXPECT_EQ(vertical.first[0], 100.0);
  EXPECT_EQ(vertical.second[0], 100.0);
  EXPECT_EQ(vertical.first[1] + vertical.second[1], 240.0);
  EXPECT_EQ(std::fabs(vertical.first[1] - vertical.second[1]), 240.0);
}

TEST(Epipolar, ScaleOfTheLineDoesNotMatter) {
  EXPECT_EQ(clipLineToImage(line(-2, 2, 0), 320, 240), clipLineToImage(line(1, -1, 0), 320, 240));
}

// Horizontal translation: epipolar lines are image rows, so both distances are the vertical
// offset and the Sampson distance spreads it over both pictures (offset / sqrt(2)).
TEST(Residuals, PixelDistancesUnderHorizontalTranslation) {
  const Matrix3x3 F{0, 0, 0, 0, 0, -1, 0, 1, 0};
  const Correspondence c{10, 20, 300, 23};
  const EpipolarDistances d = epipolarDistances(F, c);
  EXPECT_DOUBLE_EQ(d.d0, 3.0);
  EXPECT_DOUBLE_EQ(d.d1, 3.0);
  EXPECT_DOUBLE_EQ(symmetricEpipolarDistance(F, c), 3.0);
  EXPECT_DOUBLE_EQ(sampsonDistance(F, c), 3.0 / std::sqrt(2.0));
  // Scaling F changes nothing.
  Matrix3x3 scaled = F;
  for (double& v : scaled) v *= -7.5;
  EXPECT_DOUBLE_EQ(sampsonDistance(scaled, c), sampsonDistance(F, c));
  // A zero F has no lines: every pair satisfies it, and no distance is a NaN.
  EXPECT_EQ(sampsonDistance(Matrix3x3{}, c), 0.0);
  EXPECT_TRUE(std::isnan(meanSymmetricEpipolarDistance(F, {})));
}

}  // namespace
}  // namespace epipolar
