// Writes pictures as PNG files through GStreamer's PNG encoder (pngenc): 8-bit colour from an
// Image, and 16-bit grey from a row-major array (disparity maps x 256, for example).
//
// Units: pixels; rows are written top row first, as every PNG reader expects.
// Files: the encoded bytes replace the file's whole content through the one careful save
// (fileio/SaveFile.h), so a failure leaves any earlier file as it was and no partial file
// behind; a new file gets mode 0666 less the umask.
// Threads: callable from any thread, also from several at once; each call builds and drops
// its own pipeline. GStreamer is initialised on first use.
// Failure: false, with `error` set to one line naming the reason (a picture without pixels, a
// size that does not match the values, the encoder failing or not answering within 10 s, the
// file that cannot be written); never a throw.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/Image.h"

namespace epipolar {

// The PNG encoding of `image` (8 bits per channel, RGB).
bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& error);

// The PNG encoding of a width x height picture of 16-bit grey values, row-major, top row
// first.
bool encodePng16(int width,
                 int height,
                 std::span<const std::uint16_t> values,
                 std::vector<std::uint8_t>& png,
                 std::string& error);

bool writePngFile(const std::string& path, const Image& image, std::string& error);

bool writePng16File(const std::string& path,
                    int width,
                    int height,
                    std::span<const std::uint16_t> values,
                    std::string& error);

}  // namespace epipolar
