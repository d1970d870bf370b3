// Capture interfaces: the device list and an opened camera.
//
// A Camera delivers every frame it captures, as a freshly made Image holding a complete BMP
// block, to one receiver registered with start(). Frames arrive on the camera's own
// streaming thread. stop() returns only when no delivery is in progress; no frame arrives
// after it returns. Frame width and height are known once the camera is constructed.
//
// This header includes no capture framework; implementations live in capture/gstreamer/
// (devices, pipelines, still pairs) and capture/ (the virtual stereo rig).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "imaging/Image.h"
#include "log/DebugStream.h"

namespace epipolar {

// One entry of a device list. `name` holds at most 256 bytes of text and always ends in NUL.
struct CameraEntry {
  std::int32_t id = 0;
  char name[512] = {};
};

// Receives a frame on the streaming thread and takes ownership of it.
using FrameCallback = void (*)(std::unique_ptr<Image> frame, void* context);

class Camera {
 public:
  explicit Camera(const CameraEntry* entry) : deviceEntry(entry) {}
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;
  // The owner calls stop() before destroying a started camera.
  virtual ~Camera() = default;

  virtual int frameWidth() const = 0;
  virtual int frameHeight() const = 0;
  // Asks for the next frame to be written to the snapshot file. Called on the UI thread.
  virtual void requestSnapshot() = 0;
  // Registers the receiver and starts delivery.
  virtual void start(FrameCallback callback, void* context) {
    callbackContext.store(context);
    frameCallback.store(callback);
    running.store(true);
  }
  // Stops delivery; returns when no callback is running. Safe on a camera never started.
  virtual void stop() {
    frameCallback.store(nullptr);
    running.store(false);
  }

  const CameraEntry* deviceEntry;

 protected:
  // Hands a finished frame to the receiver, or drops it when none is registered.
  void deliver(std::unique_ptr<Image> frame) {
    FrameCallback callback = frameCallback.load();
    if (callback != nullptr) callback(std::move(frame), callbackContext.load());
  }

  // The line every camera writes once its frame size is known after opening.
  void logResolution() const {
    logLine("Camera ", deviceEntry->id, " resoution: ", frameWidth(), "x", frameHeight());
  }

  std::atomic<FrameCallback> frameCallback{nullptr};
  std::atomic<bool> running{false};
  std::atomic<void*> callbackContext{nullptr};
};

// The list of capture devices, built once at start-up. Entries stay valid as long as the list.
class CameraList {
 public:
  virtual ~CameraList() = default;
  // No range check: the caller keeps 0 <= i < count().
  virtual CameraEntry* entry(int i) = 0;
  virtual int count() = 0;
  // A new camera for entry(i), owned by the caller; never null (a camera that failed to open
  // reports why and delivers no frames).
  virtual std::unique_ptr<Camera> openCamera(int i) = 0;
};

}  // namespace epipolar
