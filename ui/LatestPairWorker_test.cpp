#include "ui/LatestPairWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace epipolar {
namespace {

// Frames fed far faster than the worker renders: the pairs it has no time for are dropped,
// never queued, the newest pair is the one rendered last, and after stop() every pair is
// accounted for and later ones are ignored.
TEST(LatestPairWorkerTest, DropsWhatItHasNoTimeForAndRendersTheNewestPair) {
  std::mutex mutex;
  std::vector<int> delivered;  // frame 0's width: twice its submission number
  LatestPairWorker worker(
      [](const Image& frame0, const Image&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Image::blank(frame0.width, 1);
      },
      [&](std::unique_ptr<Image> picture) {
        std::lock_guard lock(mutex);
        delivered.push_back(picture->width);
      });
  constexpr int kPairs = 60;
  for (int i = 1; i <= kPairs; ++i) {
    worker.submit(Image::blank(2 * i, 1), Image::blank(1, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int wait = 0; wait < 2000 && worker.counts().rendered + worker.counts().dropped < kPairs;
       ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.stop();
  const LatestPairWorker::Counts counts = worker.counts();
  EXPECT_EQ(counts.submitted, static_cast<std::uint64_t>(kPairs));
  EXPECT_EQ(counts.rendered + counts.dropped, counts.submitted);
  EXPECT_GT(counts.dropped, counts.rendered);
  std::lock_guard lock(mutex);
  ASSERT_EQ(delivered.size(), counts.rendered);
  EXPECT_TRUE(std::is_sorted(delivered.begin(), delivered.end()));
  EXPECT_EQ(delivered.back(), 2 * kPairs);

  worker.submit(Image::blank(2, 1), Image::blank(1, 1));
  EXPECT_EQ(worker.counts().submitted, static_cast<std::uint64_t>(kPairs));
}

}  // namespace
}  // namespace epipolar
