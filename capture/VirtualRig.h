// The virtual stereo rig as a device list: two synthetic cameras, "Virtual camera 0 (left)"
// and "Virtual camera 1 (right)" with ids 0 and 1, looking at the scene of VirtualScene.
//
//   VirtualRigList rig;                       // cheap: geometry only
//   std::unique_ptr<Camera> left = rig.openCamera(0);   // renders its static view (~50 ms)
//                                             // and logs "Camera 0 resoution: 640x480"
//   left->start(callback, context);           // 640x480 frames at 30 fps on its own thread
//   ...
//   left->stop();
//
// Both cameras show the scene at the same instants: frame k of either camera shows time
// k / 30 s after the list was made, so a pair of frames taken together agrees.
// printVirtualRig (VirtualScene.h) prints the calibration; rig.scene() gives the exact
// geometry, true F and landmarks to tests.
//
// Threads: start and stop on one controlling thread (the UI thread); frames and snapshots
// happen on the camera's own thread. stop() joins that thread, so when it returns no
// delivery is running and none follows. Called from inside the frame callback, stop() cannot
// wait for its own thread: it returns at once, no further frame is delivered, and the thread
// is joined by the next start, stop or the destructor. start() after stop() starts a new
// thread; start() while running only replaces the receiver.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/Camera.h"
#include "capture/Snapshot.h"
#include "capture/VirtualView.h"

namespace epipolar {

class VirtualCamera : public Camera {
 public:
  // `epoch` is the rig's time zero, shared by both cameras.
  VirtualCamera(const CameraEntry* entry,
                std::shared_ptr<const VirtualScene> scene,
                int index,
                std::chrono::steady_clock::time_point epoch);
  ~VirtualCamera() override;

  int frameWidth() const override { return VirtualScene::kWidth; }
  int frameHeight() const override { return VirtualScene::kHeight; }
  void requestSnapshot() override { snapshot_.request(); }
  void start(FrameCallback callback, void* context) override;
  void stop() override;

 private:
  void run();

  VirtualView view_;
  std::chrono::steady_clock::time_point epoch_;
  Snapshot snapshot_;
  std::thread worker_;                       // touched only by the controlling thread
  std::atomic<std::thread::id> workerId_{};  // the running worker's id, set by itself
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopRequested_ = false;  // guarded by mutex_
};

class VirtualRigList : public CameraList {
 public:
  VirtualRigList();

  CameraEntry* entry(int i) override { return &entries_[i]; }
  int count() override { return VirtualScene::kCameraCount; }
  std::unique_ptr<Camera> openCamera(int i) override;

  const VirtualScene& scene() const { return *scene_; }

 private:
  std::shared_ptr<const VirtualScene> scene_;
  CameraEntry entries_[VirtualScene::kCameraCount];
  std::chrono::steady_clock::time_point epoch_;
};

}  // namespace epipolar
