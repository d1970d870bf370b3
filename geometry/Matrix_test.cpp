#include "geometry/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

// Double precision is about 2e-16; a 3x3 or 9x9 decomposition and recomposition stays well
// within a few hundred units of that at unit scale.
constexpr double kRoundTripTolerance = 1e-12;

Matrix matrix3(std::initializer_list<double> values) { return Matrix(values.begin(), 3, 3); }

std::string text(const Vector& v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

TEST(Matrix, DefaultsAreOneZeroElement) {
  const Matrix m;
  EXPECT_EQ(m.rows(), 1);
  EXPECT_EQ(m.cols(), 1);
  EXPECT_EQ(m(0, 0), 0.0);
  EXPECT_EQ(text(Vector()), "<0>");
}

TEST(Matrix, VectorsPrintInAngleBrackets) {
  EXPECT_EQ(text(homogeneousPoint(1, 2.5)), "<1, 2.5, 1>");
  EXPECT_EQ(text(homogeneousPoint(1.0 / 3.0, -2e-7)), "<0.333333, -2e-07, 1>");
}

TEST(Matrix, CopiesAreDeepAndAssignmentTakesTheSourceShape) {
  Matrix a(2, 3);
  a(1, 2) = 5.0;
  Matrix b = a;
  b(1, 2) = 6.0;
  EXPECT_EQ(a(1, 2), 5.0);
  Matrix c;
  c = b;
  EXPECT_EQ(c.rows(), 2);
  EXPECT_EQ(c.cols(), 3);
  EXPECT_EQ(c(1, 2), 6.0);
}

TEST(Matrix, MismatchedDimensionsGiveZerosOrTheVectorItself) {
  const double two[2] = {1.0, 2.0};
  EXPECT_EQ(homogeneousPoint(1, 2).dot(Vector(two, 2)), 0.0);
  EXPECT_EQ(homogeneousPoint(1, 2).dot(homogeneousPoint(3, 4)), 12.0);

  const double values[6] = {1, 2, 3, 4, 5, 6};
  const Matrix threeByTwo(values, 3, 2);
  const Matrix product = threeByTwo * matrix3({1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(product, Matrix(3, 3));

  const Matrix twoByThree(values, 2, 3);
  EXPECT_EQ(twoByThree * homogeneousPoint(7, 8), homogeneousPoint(7, 8));
  EXPECT_EQ(matrix3({1, 2, 3, 4, 5, 6, 7, 8, 9}) * Vector(two, 2), Vector(3));
}

TEST(Matrix, ProductsRowsColumnsAndTranspose) {
  const Matrix a = matrix3({1, 2, 3, 4, 5, 6, 7, 8, 10});
  const double expected[3] = {1 * 1 + 2 * 2 + 3, 4 * 1 + 5 * 2 + 6, 7 * 1 + 8 * 2 + 10};
  EXPECT_EQ(a * homogeneousPoint(1, 2), Vector(expected, 3));
  EXPECT_EQ(a.transpose()(0, 2), 7.0);
  EXPECT_EQ(a.row(1), a.transpose().column(1));
  Matrix identity(3, 3);
  identity.setIdentity();
  EXPECT_EQ(a * identity, a);
  EXPECT_EQ(identity * a, a);
  const double values[6] = {1, 2, 3, 4, 5, 6};
  const Matrix wide(values, 2, 3);
  EXPECT_EQ((wide * wide.transpose()).rows(), 2);
  EXPECT_EQ((wide * wide.transpose())(1, 1), 16.0 + 25.0 + 36.0);
}

TEST(Matrix, SvdOfIdentityNegatesTheLastTwoColumns) {
  Matrix identity(3, 3);
  identity.setIdentity();
  Matrix U;
  Vector S;
  Matrix V;
  identity.svd(U, S, V);
  const Matrix expected = matrix3({1, 0, 0, 0, -1, 0, 0, 0, -1});
  EXPECT_EQ(U, expected);
  EXPECT_EQ(V, expected);
  EXPECT_EQ(S, homogeneousPoint(1, 1));
}

TEST(Matrix, SvdRecomposesAndFindsTheNullVectorOfARank2Matrix) {
  // Third row = first + second: rank 2, right null vector along (1, 1, -1) x ... found below.
  const Matrix a = matrix3({1, 2, 3, 4, 5, 6, 5, 7, 9});
  Matrix U;
  Vector S;
  Matrix V;
  a.svd(U, S, V);
  EXPECT_GT(S[0], S[1]);
  EXPECT_GT(S[1], S[2]);
  EXPECT_NEAR(S[2], 0.0, kRoundTripTolerance * S[0]);
  const Vector null = a * V.column(2);
  EXPECT_NEAR(null.norm(), 0.0, kRoundTripTolerance * S[0]);

  Matrix recomposed;
  recomposed.composeSvd(U, S, V);
  ASSERT_EQ(recomposed.rows(), 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(recomposed(i, j), a(i, j), kRoundTripTolerance * 10);
}

TEST(Matrix, SvdOfA9x9KeepsDecreasingOrderAndTheSignRule) {
  Matrix a(9, 9);
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < 9; ++j) a(i, j) = std::sin(1.0 + i * 9 + j);
  Matrix U;
  Vector S;
  Matrix V;
  a.svd(U, S, V);
  for (int k = 1; k < 9; ++k) EXPECT_GE(S[k - 1], S[k]);
  Matrix recomposed;
  recomposed.composeSvd(U, S, V);
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < 9; ++j) EXPECT_NEAR(recomposed(i, j), a(i, j), kRoundTripTolerance * 10);
}

TEST(Matrix, SvdOfAWideMatrixLogsAndLeavesZeroedOutputs) {
  testing::LogCapture log;
  const double values[6] = {1, 2, 3, 4, 5, 6};
  const Matrix wide(values, 2, 3);
  Matrix U(5, 5);
  U(0, 0) = 9;
  Vector S;
  Matrix V;
  wide.svd(U, S, V);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind("ERROR: ", 0), 0u) << log.lines()[0];
  EXPECT_EQ(U, Matrix(2, 3));
  EXPECT_EQ(S, Vector(3));
  EXPECT_EQ(V, Matrix(3, 3));
}

TEST(Matrix, SvdOfNonFiniteInputDoesNotFail) {
  testing::LogCapture log;
  Matrix a(3, 3);
  a.setIdentity();
  a(0, 0) = NAN;
  Matrix U;
  Vector S;
  Matrix V;
  a.svd(U, S, V);
  EXPECT_EQ(U.rows(), 3);
  EXPECT_EQ(S.count(), 3);
  EXPECT_TRUE(log.units().empty());
}

TEST(Matrix, VectorPairSwapExchangesTheEnds) {
  VectorPair pair(homogeneousPoint(1, 2), homogeneousPoint(3, 4));
  pair.swap();
  EXPECT_EQ(pair.first, homogeneousPoint(3, 4));
  EXPECT_EQ(pair.second, homogeneousPoint(1, 2));
}

}  // namespace
}  // namespace epipolar
