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
  const Correspondence pair =
      side == 1 ? Correspondence{pendingPoint_.x, pendingPoint_.y, point.x, point.y}
                : Correspondence{point.x, point.y, pendingPoint_.x, pendingPoint_.y};
  pendingSource_ = -1;
  apply({correspondences_.size(), {}, {pair}});
  return true;
}

void PairList::append(std::span<const Correspondence> pairs) {
  if (pairs.empty()) return;
  apply({correspondences_.size(), {}, {pairs.begin(), pairs.end()}});
}

void PairList::assign(std::vector<Correspondence> pairs) {
  apply({0, correspondences_, std::move(pairs)});
}

bool PairList::movePoint(long long index, int side, ImagePosition point) {
  const Correspondence* old = find(index);
  if (old == nullptr) return false;
  Correspondence moved = *old;
  if (side == 1) {
    moved.x1 = point.x;
    moved.y1 = point.y;
  } else {
    moved.x0 = point.x;
    moved.y0 = point.y;
  }
  if (moved == *old) return false;
  apply({static_cast<std::size_t>(index), {*old}, {moved}});
  return true;
}

bool PairList::remove(long long index) {
  const Correspondence* old = find(index);
  if (old == nullptr) return false;
  apply({static_cast<std::size_t>(index), {*old}, {}});
  return true;
}

bool PairList::dropPending() {
  if (pendingSource_ == -1) return false;
  pendingSource_ = -1;
  return true;
}

bool PairList::undo() {
  if (!canUndo()) return false;
  const Step& step = history_[--done_];
  splice(step.index, step.after.size(), step.before);
  return true;
}

bool PairList::redo() {
  if (!canRedo()) return false;
  const Step& step = history_[done_++];
  splice(step.index, step.before.size(), step.after);
  return true;
}

void PairList::apply(Step step) {
  step.serial = ++lastSerial_;
  splice(step.index, step.before.size(), step.after);
  history_.resize(done_);
  history_.push_back(std::move(step));
  done_ = history_.size();
}

void PairList::splice(std::size_t index,
                      std::size_t remove,
                      const std::vector<Correspondence>& insert) {
  const auto at = correspondences_.begin() + static_cast<std::ptrdiff_t>(index);
  correspondences_.erase(at, at + static_cast<std::ptrdiff_t>(remove));
  correspondences_.insert(
      correspondences_.begin() + static_cast<std::ptrdiff_t>(index), insert.begin(), insert.end());
}

}  // namespace epipolar
