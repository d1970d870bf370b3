// A camera on a GStreamer pipeline, and the three GStreamer camera lists.
//
// Pipeline: SOURCE ! capsfilter (the chosen capture format) ! decodebin ! videoconvert
//           ! video/x-raw,format=BGR ! appsink
// SOURCE is a device's own element, a bin parsed from a pipeline description, or a still
// picture decoded once and repeated as a live 30 fps stream.
//
// Construction builds the pipeline and negotiates it once: the pipeline runs until the first
// frame arrives (or an error, or the negotiation timeout), which fixes frameWidth() and
// frameHeight(), and is then dropped. Every start() builds a fresh pipeline the same way and
// stop() drops it. "Camera " id " resoution: " W "x" H is logged.
// A failure ends the construction with one line on standard error (the mapping is in
// GstCamera.cpp), followed by "<name>: <detail>" when GStreamer says more; such a camera is
// incomplete: size 0x0, no frames, start/stop still safe. Negotiation never waits longer
// than its timeout.
//
// Frames: each appsink sample becomes a new Image on the pipeline's streaming thread:
// 54-byte BMP header, then bottom-up BGR rows with the BMP stride (3*W rounded up to 4).
// GStreamer's own stride is read from the mapped frame, never assumed. A sample whose size
// differs from the negotiated one is dropped; the first such drop is reported on standard
// error. A pending snapshot is written from the finished block before delivery.
//
// Runtime faults (device unplugged, bus error, end of stream) are reported once per start on
// standard error, prefixed with the source's name; the pipeline stays as it is and the rest
// of the program goes on (an end of stream after an error is part of the error: it is neither
// reported nor played again). A started source that delivers no frame for `stallTimeout` (and
// reported no error or end) is reported once as stalled: "<name>: no frame for S seconds,
// the source has stalled"; the report is armed again once frames flow. A source that ends and can
// seek plays again from its start. An error that reads like a USB bandwidth shortage adds advice:
// lower resolution or MJPEG. A bus watcher thread per started camera handles them; no GLib main
// loop is needed.
//
// Threads: construction, start, stop and destruction on one thread (the UI thread);
// requestSnapshot from any thread; frames on GStreamer's streaming thread. stop() returns
// once no delivery runs (setting the pipeline to NULL waits for the streaming thread), and
// no frame is delivered after it returns.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/Camera.h"
#include "capture/Snapshot.h"
#include "capture/gstreamer/GstRuntime.h"

namespace epipolar::gst {

struct GstCameraOptions {
  // Device mode: choose the capture format from `offeredCaps` (the device's caps records).
  // Null caps records in device mode log "WTF!" and skip the choice.
  bool chooseFormat = false;
  const GstCaps* offeredCaps = nullptr;
  // Why the source element could not be made, written after "Failed to initialize camera".
  std::string sourceError;
  // Longest wait for the first frame at construction.
  std::chrono::milliseconds negotiationTimeout{5000};
  // Longest gap between frames of a started camera before it is reported as stalled.
  std::chrono::milliseconds stallTimeout{5000};
};

class GstCamera : public Camera {
 public:
  // Makes the pipeline's source element (new or floating reference), or returns null and
  // says why in its argument. Called at construction and at every start.
  using SourceFactory = std::function<GstElement*(std::string& error)>;

  GstCamera(const CameraEntry* entry, SourceFactory makeSource, GstCameraOptions options = {});
  ~GstCamera() override;

  int frameWidth() const override { return width_.load(std::memory_order_relaxed); }
  int frameHeight() const override { return height_.load(std::memory_order_relaxed); }
  void requestSnapshot() override { snapshot_.request(); }
  void start(FrameCallback callback, void* context) override;
  void stop() override;

  // True when construction finished and the camera can stream.
  bool complete() const { return complete_; }

 private:
  void construct(const GstCameraOptions& options);
  // Builds a fresh pipeline into pipeline_; returns null, or the failure message with
  // `detail` filled when GStreamer says more.
  const char* assemble(std::string& detail);
  void dropPipeline();
  // Runs the pipeline until the first frame; on success holds its size.
  bool negotiate(std::chrono::milliseconds timeout, GError** error, std::string& detail);
  void failConstruction(const char* message, const std::string& detail = {});
  void handleSample(GstSample* sample);
  void watchBus();
  // On the watcher thread: reports a stall once, re-armed by the next frame.
  void checkStall();
  void reportFault(const std::string& text);

  static GstFlowReturn onNewSample(GstElement* sink, gpointer self);
  static void onDecodedPad(GstElement* decoder, GstPad* pad, gpointer converter);

  std::string name_;
  SourceFactory makeSource_;
  CapsPtr formatCaps_;  // the chosen capture format, when it negotiated
  bool complete_ = false;
  GstPtr<GstElement> pipeline_;    // exists while started (and while negotiating)
  GstElement* appsink_ = nullptr;  // owned by the pipeline
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
  Snapshot snapshot_;
  std::atomic<bool> sizeChangeReported_{false};

  std::thread watcher_;
  std::atomic<bool> stopWatching_{false};
  bool errorReported_ = false;  // watcher thread only
  bool endReported_ = false;    // watcher thread only
  bool ended_ = false;          // watcher thread only: end of stream that did not loop
  bool stallReported_ = false;  // watcher thread only
  std::chrono::milliseconds stallTimeout_{5000};
  // steady_clock time of the last frame (or of start), in nanoseconds.
  std::atomic<std::int64_t> lastFrameNs_{0};
};

// The monitor's video sources, ids 0, 1, 2, ... in the monitor's order.
class GstDeviceCameraList : public CameraList {
 public:
  GstDeviceCameraList();
  CameraEntry* entry(int i) override { return entries_[i].get(); }
  int count() override { return static_cast<int>(entries_.size()); }
  std::unique_ptr<Camera> openCamera(int i) override;
  // The device's caps records (new reference, may be null).
  GstCaps* deviceCaps(int i) const;

 private:
  std::vector<std::unique_ptr<CameraEntry>> entries_;
  std::vector<GstPtr<GstDevice>> devices_;
};

// One camera per pipeline description or per still picture, named by it.
class GstSourceCameraList : public CameraList {
 public:
  enum class Kind { Description, Still };
  GstSourceCameraList(Kind kind, const std::vector<std::string>& sources);
  CameraEntry* entry(int i) override { return entries_[i].get(); }
  int count() override { return static_cast<int>(entries_.size()); }
  std::unique_ptr<Camera> openCamera(int i) override;

  // Longest wait for the first frame when a camera opens.
  std::chrono::milliseconds negotiationTimeout{5000};
  // Longest gap between frames of a started camera before it is reported as stalled.
  std::chrono::milliseconds stallTimeout{5000};

 private:
  Kind kind_;
  std::vector<std::string> sources_;
  std::vector<std::unique_ptr<CameraEntry>> entries_;
};

// Copies at most 256 bytes of `text` into the entry's name, which stays NUL-terminated.
void setEntryName(CameraEntry& entry, const std::string& text);

}  // namespace epipolar::gst
