// The sample generator of the described estimator: the sequence of the C runtime's unseeded
// rand(), held privately so that no other rand() user in the process changes the samples and
// every start of the program draws the same ones.
//
// Threads: an instance is used by one thread at a time. processRandSequence() is shared by the
// whole process; its users hold processRandMutex() while they draw from it.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace epipolar {

// Produces the sequence of glibc's rand() as it runs without srand(). The table is the one
// initstate_r(1, state, 128) leaves (an additive feedback generator of degree 31, separation
// 3); next() then takes the step random_r takes, without its call and type dispatch (a
// calibration draws 200 values per run). Each instance starts the sequence afresh.
class RandSequence {
 public:
  RandSequence();
  RandSequence(const RandSequence&) = delete;
  RandSequence& operator=(const RandSequence&) = delete;
  // The next value in [0, RAND_MAX].
  int next() {
    // Unsigned arithmetic: the sum wraps modulo 2^32 as random_r's does.
    const std::uint32_t value = table_[front_] += table_[rear_];
    front_ = front_ + 1 == kDegree ? 0 : front_ + 1;
    rear_ = rear_ + 1 == kDegree ? 0 : rear_ + 1;
    return static_cast<int>(value >> 1);
  }

 private:
  static constexpr int kDegree = 31;
  std::array<std::uint32_t, kDegree> table_{};
  int front_ = 0;
  int rear_ = 0;
};

// The generator the described estimator draws from when none is given. Its position carries
// over between calls, so a later calibration in the same process draws different samples.
RandSequence& processRandSequence();
std::mutex& processRandMutex();

}  // namespace epipolar
