// The private sample generator must yield exactly the sequence of an unseeded rand(). The
// rand() values are taken during static initialisation, before anything else in this binary
// can have drawn from it.
#include "geometry/RandSequence.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace epipolar {
namespace {

constexpr int kDraws = 5000;

std::vector<int> drawFromRand() {
  std::vector<int> values;
  for (int i = 0; i < kDraws; ++i) values.push_back(std::rand());
  return values;
}

const std::vector<int> unseededRand = drawFromRand();

std::vector<int> drawFrom(RandSequence& sequence) {
  std::vector<int> values;
  for (int i = 0; i < kDraws; ++i) values.push_back(sequence.next());
  return values;
}

TEST(RandSequence, MatchesUnseededRand) {
  RandSequence sequence;
  EXPECT_EQ(drawFrom(sequence), unseededRand);
}

TEST(RandSequence, IsUnaffectedByOtherRandUsers) {
  RandSequence sequence;
  std::srand(12345);
  for (int i = 0; i < 10; ++i) std::rand();
  EXPECT_EQ(drawFrom(sequence), unseededRand);
}

TEST(RandSequence, EachInstanceStartsAfresh) {
  RandSequence first;
  first.next();
  RandSequence second;
  EXPECT_EQ(second.next(), unseededRand[0]);
  EXPECT_EQ(first.next(), unseededRand[1]);
}

}  // namespace
}  // namespace epipolar
