#include "capture/VirtualRig.h"

#include <cstdio>
#include <utility>

namespace epipolar {

namespace {
constexpr std::chrono::nanoseconds kFramePeriod{1'000'000'000 / VirtualScene::kFramesPerSecond};
}

VirtualCamera::VirtualCamera(const CameraEntry* entry,
                             std::shared_ptr<const VirtualScene> scene,
                             int index,
                             std::chrono::steady_clock::time_point epoch)
    : Camera(entry),
      view_(std::move(scene), index, 0x5eed0000u + static_cast<std::uint64_t>(index)),
      epoch_(epoch) {
  logResolution();
}

VirtualCamera::~VirtualCamera() { stop(); }

void VirtualCamera::start(FrameCallback callback, void* context) {
  Camera::start(callback, context);
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!stopRequested_) return;  // already running: only the receiver changed
    }
    worker_.join();  // a thread told to stop from its own callback is finishing
    workerId_.store(std::thread::id());
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = false;
  }
  worker_ = std::thread(&VirtualCamera::run, this);
}

void VirtualCamera::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  // From the frame callback itself the thread cannot wait for itself: it ends after the
  // callback returns, delivers nothing more, and is joined by the next start or stop.
  if (workerId_.load() == std::this_thread::get_id()) {
    Camera::stop();
    return;
  }
  if (worker_.joinable()) worker_.join();
  workerId_.store(std::thread::id());
  Camera::stop();
}

void VirtualCamera::run() {
  using Clock = std::chrono::steady_clock;
  workerId_.store(std::this_thread::get_id());
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopRequested_) {
    // Frame k shows the scene at k periods after the epoch, in both cameras. A late frame
    // skips to the current tick rather than catching up in a burst.
    const auto tick = (Clock::now() - epoch_) / kFramePeriod + 1;
    const auto due = epoch_ + tick * kFramePeriod;
    if (wake_.wait_until(lock, due, [this] { return stopRequested_; })) break;
    lock.unlock();
    const double seconds = static_cast<double>(tick) / VirtualScene::kFramesPerSecond;
    std::unique_ptr<Image> frame = view_.renderFrame(seconds);
    snapshot_.writeIfRequested(*frame, deviceEntry->id);
    deliver(std::move(frame));
    lock.lock();
  }
}

VirtualRigList::VirtualRigList()
    : scene_(std::make_shared<const VirtualScene>()), epoch_(std::chrono::steady_clock::now()) {
  for (int i = 0; i < VirtualScene::kCameraCount; ++i) {
    entries_[i].id = i;
    std::snprintf(entries_[i].name, 257, "Virtual camera %d (%s)", i, i == 0 ? "left" : "right");
  }
}

std::unique_ptr<Camera> VirtualRigList::openCamera(int i) {
  return std::make_unique<VirtualCamera>(&entries_[i], scene_, i, epoch_);
}

}  // namespace epipolar
