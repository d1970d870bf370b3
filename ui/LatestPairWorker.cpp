#include "ui/LatestPairWorker.h"

#include <exception>
#include <utility>

namespace epipolar {

LatestPairWorker::LatestPairWorker(Render render, Deliver deliver)
    : render_(std::move(render)), deliver_(std::move(deliver)), thread_([this] { run(); }) {}

LatestPairWorker::~LatestPairWorker() { stop(); }

void LatestPairWorker::submit(std::unique_ptr<Image> frame0, std::unique_ptr<Image> frame1) {
  if (!frame0 || !frame1) return;
  std::unique_ptr<Image> old0;  // deleted after the lock is released
  std::unique_ptr<Image> old1;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    ++counts_.submitted;
    if (slot0_) ++counts_.dropped;
    old0 = std::exchange(slot0_, std::move(frame0));
    old1 = std::exchange(slot1_, std::move(frame1));
  }
  wake_.notify_one();
}

void LatestPairWorker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (slot0_) ++counts_.dropped;
    slot0_.reset();
    slot1_.reset();
  }
  wake_.notify_one();
  std::call_once(joined_, [this] {
    if (thread_.joinable()) thread_.join();
  });
}

LatestPairWorker::Counts LatestPairWorker::counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void LatestPairWorker::run() {
  for (;;) {
    std::unique_ptr<Image> frame0;
    std::unique_ptr<Image> frame1;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || slot0_ != nullptr; });
      if (stopping_) return;
      frame0 = std::move(slot0_);
      frame1 = std::move(slot1_);
    }
    std::unique_ptr<Image> picture;
    try {
      picture = render_(*frame0, *frame1);
    } catch (const std::exception&) {
      picture.reset();
    }
    if (picture) deliver_(std::move(picture));
    std::lock_guard lock(mutex_);
    ++counts_.rendered;
  }
}

}  // namespace epipolar
