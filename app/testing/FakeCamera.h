// Test cameras: a Camera that delivers the frames a test hands it, and a CameraList of them.
//
// push() delivers on the calling thread, as the capture thread would; startStreaming() runs a
// thread that delivers a fresh frame every `period` until stop(). stop() returns only when no
// delivery is in progress, as the Camera contract requires.
//
// Tests only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/Camera.h"

namespace epipolar::testing {

// A width x height picture filled by `colourAt(x, y)` (bytes r, g, b).
inline std::unique_ptr<Image> makeFrame(
    int width, int height, const std::function<void(int x, int y, std::uint8_t rgb[3])>& colourAt) {
  std::unique_ptr<Image> frame = Image::blank(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = frame->row(y);
    for (int x = 0; x < width; ++x) {
      std::uint8_t rgb[3] = {0, 0, 0};
      colourAt(x, y, rgb);
      row[3 * x] = rgb[2];
      row[3 * x + 1] = rgb[1];
      row[3 * x + 2] = rgb[0];
    }
  }
  return frame;
}

inline std::unique_ptr<Image> makeUniformFrame(
    int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return makeFrame(width, height, [&](int, int, std::uint8_t rgb[3]) {
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
  });
}

class FakeCamera : public Camera {
 public:
  FakeCamera(const CameraEntry* entry, int width, int height)
      : Camera(entry), width_(width), height_(height) {}
  ~FakeCamera() override { stop(); }

  int frameWidth() const override { return width_; }
  int frameHeight() const override { return height_; }
  void requestSnapshot() override { ++snapshotRequests; }

  void start(FrameCallback callback, void* context) override {
    std::lock_guard lock(deliverMutex_);
    Camera::start(callback, context);
    ++starts;
  }
  void stop() override {
    stopStreaming_.store(true);
    if (streamer_.joinable() && streamer_.get_id() != std::this_thread::get_id()) {
      streamer_.join();
    }
    std::lock_guard lock(deliverMutex_);
    if (running.load()) ++stops;
    Camera::stop();
  }

  // Delivers `frame` now, on this thread. Returns false when the camera is not started.
  bool push(std::unique_ptr<Image> frame) {
    std::lock_guard lock(deliverMutex_);
    if (!running.load()) return false;
    ++delivered;
    deliver(std::move(frame));
    return true;
  }

  // Delivers makeFrame() every `period` on a thread of its own until stop().
  void startStreaming(std::function<std::unique_ptr<Image>()> makeFrame,
                      std::chrono::microseconds period) {
    stopStreaming_.store(false);
    streamer_ = std::thread([this, makeFrame = std::move(makeFrame), period] {
      while (!stopStreaming_.load()) {
        push(makeFrame());
        std::this_thread::sleep_for(period);
      }
    });
  }

  bool isRunning() const { return running.load(); }

  std::atomic<int> snapshotRequests{0};
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<int> delivered{0};

 private:
  int width_;
  int height_;
  std::mutex deliverMutex_;
  std::atomic<bool> stopStreaming_{false};
  std::thread streamer_;
};

// A device list of FakeCameras named as given; records which entries were opened.
class FakeCameraList : public CameraList {
 public:
  explicit FakeCameraList(const std::vector<std::string>& names, int width = 64, int height = 48)
      : width_(width), height_(height), entries_(names.size()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      entries_[i].id = static_cast<std::int32_t>(i);
      std::strncpy(entries_[i].name, names[i].c_str(), 255);
    }
  }
  CameraEntry* entry(int i) override { return &entries_[static_cast<std::size_t>(i)]; }
  int count() override { return static_cast<int>(entries_.size()); }
  std::unique_ptr<Camera> openCamera(int i) override {
    opened.push_back(i);
    return std::make_unique<FakeCamera>(entry(i), width_, height_);
  }

  std::vector<int> opened;

 private:
  int width_;
  int height_;
  std::vector<CameraEntry> entries_;
};

}  // namespace epipolar::testing
