#include "ui/PairList.h"

#include <utility>

namespace epipolar {

const Correspondence* PairList::find(long long index) const {
  if (index < 0 || index >= static_cast<long long>(correspondences_.size())) return nullptr;
  return &correspondences_[static_cast<std::size_t>(index)];
}

bool PairList::click(int window, ImagePosition point) {
  const int side = window == 1 ? 1 : 0;
  if (pendingSource_ == -1 || pendingSource_ == side) {
    pendingSource_ = side;
    pendingPoint_ = point;
    return false;
  }
  if (side == 1) {
    correspondences_.push_back({pendingPoint_.x, pendingPoint_.y, point.x, point.y});
  } else {
    correspondences_.push_back({point.x, point.y, pendingPoint_.x, pendingPoint_.y});
  }
  pendingSource_ = -1;
  ++revision_;
  return true;
}

void PairList::append(std::span<const Correspondence> pairs) {
  if (pairs.empty()) return;
  correspondences_.insert(correspondences_.end(), pairs.begin(), pairs.end());
  ++revision_;
}

void PairList::assign(std::vector<Correspondence> pairs) {
  correspondences_ = std::move(pairs);
  ++revision_;
}

}  // namespace epipolar
