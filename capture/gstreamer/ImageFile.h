// Decodes one picture file (PNG, JPEG, BMP, or anything else GStreamer decodes) into an Image.
//
// The decode chain is the one the still-picture cameras of --images use:
//   filesrc ! decodebin ! videoconvert ! video/x-raw,format=BGR ! appsink
// and the first frame is taken. No EXIF orientation is applied, so a picture read here has
// the same pixel coordinates as the same file shown by --images (pixels, origin top-left,
// y down). The Image is a complete BMP block (imaging/Image.h): bottom-up rows, padded stride.
//
// Failure: the result holds no image and one line of text naming the file and the reason
// (missing, not a regular file, unreadable, not a decodable picture, wider or taller than
// kMaxImageFileSide pixels, ended without a frame, no frame within the timeout). Nothing is
// written to the log or to standard error. The wait for the frame is bounded by `timeout`, so
// a file that never yields a frame costs at most that long.
//
// Threads: callable from any thread, also from several at once; each call builds and drops
// its own pipeline. GStreamer is initialised on first use.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "imaging/Image.h"

namespace epipolar {

// The largest width and height read: a 16384x16384 picture is already 768 MiB as an Image.
inline constexpr int kMaxImageFileSide = 16384;

struct ImageFileResult {
  std::unique_ptr<Image> image;  // null on failure
  std::string error;             // one line without a line feed; empty on success
};

ImageFileResult loadImageFile(const std::string& path,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace epipolar
