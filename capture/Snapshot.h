// One-shot snapshot files of delivered frames.
//
// A camera owns one Snapshot. The UI thread calls request() (any number of times); the
// camera's streaming thread calls writeIfRequested() with every finished frame block. The
// first frame after a request is written unchanged to "pic<id>.bmp" in the working
// directory, after the log line "Writing image pic<id>.bmp". Several requests before one frame
// give one file; every later snapshot of the same camera replaces the file.
//
// The block goes to a temporary file "pic<id>.bmp.part" with a single write(2) (short and
// interrupted writes are finished) and is then renamed over the old file, so a reader never
// sees a half-written snapshot and a crash mid-write leaves the previous one intact.
//
// Failure: a file that cannot be created, written or renamed is reported with one line on
// standard error ("Could not write snapshot pic<id>.bmp: " reason) and that request is
// dropped, so an unwritable directory gives one message per key press, not one per frame.
//
// Threads: request() and pending() from any thread (atomic flag, no lock);
// writeIfRequested() from one streaming thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/Image.h"

namespace epipolar {

// "pic<id>.bmp": the snapshot file name of camera `cameraId`.
std::string snapshotFileName(int cameraId);

// Writes `size` bytes to `path` through a temporary file and a rename. Returns false and sets
// `error` to a readable reason on failure; no partial file is left behind.
bool writeFileReplacing(const std::string& path,
                        const std::uint8_t* bytes,
                        std::size_t size,
                        std::string& error);

class Snapshot {
 public:
  // Asks for the next frame. Called on the UI thread.
  void request() { requested_.store(true, std::memory_order_relaxed); }
  // True while a request waits for a frame.
  bool pending() const { return requested_.load(std::memory_order_relaxed); }

  // Streaming thread: when a request is pending, takes it and writes the complete block
  // (`size` bytes from `block`) as camera `cameraId`'s snapshot file. Returns true when a file
  // was written. A request made while the file is being written is served by a later frame.
  bool writeIfRequested(const std::uint8_t* block, std::size_t size, int cameraId);
  bool writeIfRequested(const Image& frame, int cameraId) {
    return writeIfRequested(frame.data.get(), frame.size, cameraId);
  }

 private:
  std::atomic<bool> requested_{false};
};

}  // namespace epipolar
