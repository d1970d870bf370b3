#include "geometry/RandSequence.h"

#include <cstdlib>

namespace epipolar {

RandSequence::RandSequence() {
  // Let the C library lay out and warm up the table, then step it here.
  random_data data{};
  alignas(std::int32_t) char state[128]{};
  initstate_r(1, state, sizeof state, &data);
  const std::int32_t* table = data.state;
  for (int k = 0; k < kDegree; ++k) table_[k] = static_cast<std::uint32_t>(table[k]);
  front_ = static_cast<int>(data.fptr - table);
  rear_ = static_cast<int>(data.rptr - table);
}

RandSequence& processRandSequence() {
  static RandSequence sequence;
  return sequence;
}

std::mutex& processRandMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace epipolar
