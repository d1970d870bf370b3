// One-shot snapshot files of delivered frames.
//
// A camera owns one Snapshot. The UI thread calls request() (any number of times); the
// camera's streaming thread calls writeIfRequested() with every finished frame block. The
// first frame after a request is written unchanged to "pic<id>.bmp" in the working
// directory, after the log line "Writing image pic<id>.bmp". Several requests before one frame
// give one file; every later snapshot of the same camera replaces the file.
//
// The block is written with the careful save of fileio/SaveFile.h, without fsync (it runs on
// the streaming thread, and waiting for the disk would stall capture): a plain file is replaced
// through a uniquely named temporary file and a rename, so a reader never sees a half-written
// snapshot and a crash mid-write leaves the previous one intact; a snapshot file that is a
// symbolic link, has other hard links, or has an owner, group or ACL that a new file could not
// be given is rewritten in place with one write instead, and keeps all of that.
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
