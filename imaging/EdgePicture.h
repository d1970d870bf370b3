// The colour edge picture of a frame.
//
// Each colour channel is differentiated on its own with the 3 x 3 Sobel operator; for
// channel c at (x, y) the gradient strength is sum(c) = |gx| + |gy| (0 to 2040) and the edge
// component e(c) = sum(c) / 1530, computed in double and stored as float. A pixel is an edge
// when its largest e(c) exceeds 0.05 strictly; it then takes Colour(e(red), e(green),
// e(blue)) written with Image::setPixel, otherwise black. setPixel keeps the low 8 bits of
// component * 255, so a component above 1 wraps (sum 1836 gives 1.2 and the byte 50). Row 0,
// the last row, column 0 and the last column are always black; pictures narrower or lower
// than 3 pixels come out all black.
//
// The result is a new Image: a deep copy of the frame (same header, size and row padding)
// with every pixel overwritten. Coordinates as in Image: x from the left, y from the top;
// orientation is preserved.
//
// A frame whose byte block is too short for its stated rows gives an all-black copy (every
// byte from the pixel offset on is 0) rather than reading past the block.
//
// Threads: pure functions; the frame is only read.
#pragma once

#include <memory>

#include "imaging/Image.h"

namespace epipolar {

inline constexpr double kGradientScale = 1.0 / 1530.0;
inline constexpr double kEdgeThreshold = 0.05;

// The edge picture, computed row by row on integer gradients with table look-ups.
std::unique_ptr<Image> edgePicture(const Image& frame);

// The same picture computed pixel by pixel through Colour, toHsv and setPixel, exactly as the
// description above reads. Kept as the reference the fast version is checked against.
std::unique_ptr<Image> edgePictureReference(const Image& frame);

}  // namespace epipolar
