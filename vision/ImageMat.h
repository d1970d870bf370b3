// Conversion between the project's Image (a BMP block: rows bottom-up, BGR, each row padded to
// a multiple of 4 bytes) and OpenCV's cv::Mat (rows top-down, contiguous or with its own step).
//
// Units: pixels; x counts columns from the left, y rows from the top in both representations,
// so pixel (x, y) of the Image is element (y, x) of the matrix.
// Threads: pure functions; an Image must not be changed while it is being read.
// Failure: toImage refuses (returns nullptr) a matrix that is empty or not 8-bit with 1 or 3
// channels; the others cannot fail.
#pragma once

#include <memory>
#include <opencv2/core/mat.hpp>

#include "imaging/Image.h"

namespace epipolar {

// A top-down copy of `image` as CV_8UC3 in BGR order.
cv::Mat toMat(const Image& image);

// A top-down copy of `image` as CV_8UC1 luminance (cv::COLOR_BGR2GRAY weights).
cv::Mat toGrayMat(const Image& image);

// A new Image holding `mat` (CV_8UC3 BGR, or CV_8UC1 grey written to all three channels).
std::unique_ptr<Image> toImage(const cv::Mat& mat);

}  // namespace epipolar
