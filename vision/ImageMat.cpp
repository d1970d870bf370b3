#include "vision/ImageMat.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace epipolar {
namespace {

// The stored rows of `image` as a matrix header (no copy): row 0 of the header is the bottom
// picture row, and the header's step is the BMP stride, padding included.
cv::Mat storedRows(const Image& image) {
  // OpenCV headers take a non-const pointer; the callers only read through this one.
  auto* pixels = const_cast<std::uint8_t*>(image.data.get() + image.pixelOffset);
  return cv::Mat(image.height, image.width, CV_8UC3, pixels, static_cast<size_t>(image.stride()));
}

}  // namespace

cv::Mat toMat(const Image& image) {
  cv::Mat out;
  if (image.width <= 0 || image.height <= 0) return out;
  cv::flip(storedRows(image), out, 0);
  return out;
}

cv::Mat toGrayMat(const Image& image) {
  cv::Mat out;
  if (image.width <= 0 || image.height <= 0) return out;
  cv::Mat gray;
  cv::cvtColor(storedRows(image), gray, cv::COLOR_BGR2GRAY);
  cv::flip(gray, out, 0);
  return out;
}

std::unique_ptr<Image> toImage(const cv::Mat& mat) {
  if (mat.empty() || mat.dims != 2 || mat.depth() != CV_8U ||
      (mat.channels() != 3 && mat.channels() != 1)) {
    return nullptr;
  }
  std::unique_ptr<Image> image = Image::blank(mat.cols, mat.rows);
  cv::Mat stored(image->height,
                 image->width,
                 CV_8UC3,
                 image->data.get() + image->pixelOffset,
                 static_cast<size_t>(image->stride()));
  if (mat.channels() == 3) {
    cv::flip(mat, stored, 0);
  } else {
    cv::Mat colour;
    cv::cvtColor(mat, colour, cv::COLOR_GRAY2BGR);
    cv::flip(colour, stored, 0);
  }
  return image;
}

}  // namespace epipolar
