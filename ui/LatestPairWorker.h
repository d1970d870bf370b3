// A worker thread that turns the latest pair of camera frames into a picture, dropping the
// pairs it has no time for instead of queueing them.
//
// There is one slot: submit() puts a pair there, replacing (and counting as dropped) a pair
// that still waits; the worker takes the pair in the slot, renders it, and hands the picture
// to `deliver`. So however fast frames come, at most one pair waits and the picture shown is
// never more than one render behind the newest frames.
//
// Threads: submit() and counts() from any thread; `render` and `deliver` run on the worker
// thread only, one call at a time (so `render` may keep state, such as a matcher, for
// itself). stop() (and the destructor) from any thread but the worker: it lets a render in
// progress finish, drops a waiting pair, and joins the thread; later submits are ignored.
// Failure: a render that returns nullptr delivers nothing; one that throws ends nothing but
// that render (the exception is swallowed: a live view must not end the program).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "imaging/Image.h"

namespace epipolar {

class LatestPairWorker {
 public:
  using Render = std::function<std::unique_ptr<Image>(const Image& frame0, const Image& frame1)>;
  using Deliver = std::function<void(std::unique_ptr<Image> picture)>;

  struct Counts {
    std::uint64_t submitted = 0;
    std::uint64_t rendered = 0;  // renders finished (with or without a picture)
    std::uint64_t dropped = 0;   // pairs replaced in the slot, or left there by stop()
  };

  LatestPairWorker(Render render, Deliver deliver);
  ~LatestPairWorker();
  LatestPairWorker(const LatestPairWorker&) = delete;
  LatestPairWorker& operator=(const LatestPairWorker&) = delete;

  void submit(std::unique_ptr<Image> frame0, std::unique_ptr<Image> frame1);
  void stop();
  Counts counts() const;

 private:
  void run();

  Render render_;
  Deliver deliver_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::unique_ptr<Image> slot0_;  // the waiting pair, guarded by mutex_
  std::unique_ptr<Image> slot1_;
  bool stopping_ = false;  // guarded by mutex_
  Counts counts_;          // guarded by mutex_
  std::thread thread_;     // started last, joined by stop()
  std::once_flag joined_;
};

}  // namespace epipolar
