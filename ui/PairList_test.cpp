#include "ui/PairList.h"

#include <gtest/gtest.h>

#include <vector>

namespace epipolar {
namespace {

using Pairs = std::vector<Correspondence>;

// One sequence through every kind of step, undone to the start and redone to the end, with
// the list and its state checked after each step; a new step after an undo forgets what was
// undone and makes a state never seen before.
TEST(PairListHistory, EveryStepUndoesAndRedoesWhole) {
  PairList list;
  std::vector<Pairs> states{{}};
  std::vector<std::uint64_t> ids{list.state()};
  auto record = [&] {
    states.push_back(list.correspondences());
    EXPECT_NE(list.state(), ids.back());
    ids.push_back(list.state());
  };

  EXPECT_FALSE(list.click(1, {10, 11}));
  EXPECT_TRUE(list.click(0, {1, 2}));  // (1) first: camera 0's point still comes first
  EXPECT_EQ(list.correspondences(), (Pairs{{1, 2, 10, 11}}));
  record();
  const Pairs bulk{{3, 4, 30, 40}, {5, 6, 50, 60}, {7, 8, 70, 80}};
  list.append(bulk);
  record();
  EXPECT_TRUE(list.movePoint(2, 1, {55, 66}));
  EXPECT_EQ(list.correspondences()[2], (Correspondence{5, 6, 55, 66}));
  record();
  EXPECT_TRUE(list.remove(1));
  EXPECT_EQ(list.correspondences(), (Pairs{{1, 2, 10, 11}, {5, 6, 55, 66}, {7, 8, 70, 80}}));
  record();
  list.assign({{9, 9, 9, 9}});
  record();

  // Steps that change nothing are no steps.
  EXPECT_FALSE(list.remove(1));
  EXPECT_FALSE(list.movePoint(-1, 0, {0, 0}));
  EXPECT_FALSE(list.movePoint(0, 0, {9, 9}));
  list.append({});
  EXPECT_EQ(list.state(), ids.back());

  for (std::size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(list.undo());
    EXPECT_EQ(list.correspondences(), states[i - 1]) << i;
    EXPECT_EQ(list.state(), ids[i - 1]) << i;
  }
  EXPECT_FALSE(list.undo());
  for (std::size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(list.redo());
    EXPECT_EQ(list.correspondences(), states[i]) << i;
    EXPECT_EQ(list.state(), ids[i]) << i;
  }
  EXPECT_FALSE(list.redo());

  // The bulk addition comes back as one step; a click after undoing forgets the redo.
  for (int i = 0; i < 3; ++i) list.undo();
  EXPECT_EQ(list.correspondences(), states[2]);
  list.undo();
  EXPECT_EQ(list.correspondences(), states[1]);
  list.click(0, {0, 0});
  EXPECT_TRUE(list.click(1, {1, 1}));
  EXPECT_FALSE(list.canRedo());
  EXPECT_EQ(list.correspondences(), (Pairs{{1, 2, 10, 11}, {0, 0, 1, 1}}));
  for (std::uint64_t seen : ids) EXPECT_NE(list.state(), seen);

  // The waiting click and the shown index are not in the history.
  list.setCurrentCorrespondence(1);
  list.click(1, {4, 4});
  EXPECT_TRUE(list.undo());
  EXPECT_EQ(list.pendingSource(), 1);
  EXPECT_EQ(list.currentCorrespondence(), 1);
  EXPECT_TRUE(list.dropPending());
  EXPECT_EQ(list.pendingSource(), -1);
  EXPECT_FALSE(list.dropPending());
}

}  // namespace
}  // namespace epipolar
