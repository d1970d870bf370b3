#include "vision/ImageMat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <opencv2/core/utility.hpp>

#include "vision/OpenCvThreads.h"

namespace epipolar {
namespace {

// Width 5: 15 bytes of pixels per row padded to 16, so a stride mistake shifts every row.
TEST(ImageMatTest, PixelsKeepTheirPlaceAndColourBothWays) {
  constexpr int kWidth = 5, kHeight = 3;
  auto image = Image::blank(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* p = image->row(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(10 * x + y);  // blue
      p[1] = static_cast<std::uint8_t>(100 + y);     // green
      p[2] = static_cast<std::uint8_t>(200 + x);     // red
    }
  }
  const cv::Mat mat = toMat(*image);
  ASSERT_EQ(mat.type(), CV_8UC3);
  ASSERT_EQ(mat.cols, kWidth);
  ASSERT_EQ(mat.rows, kHeight);
  const cv::Mat gray = toGrayMat(*image);
  ASSERT_EQ(gray.type(), CV_8UC1);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const cv::Vec3b bgr = mat.at<cv::Vec3b>(y, x);
      EXPECT_EQ(bgr[0], 10 * x + y);
      EXPECT_EQ(bgr[1], 100 + y);
      EXPECT_EQ(bgr[2], 200 + x);
      // OpenCV's integer BGR-to-grey weights, rounded.
      const double luminance = 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2];
      EXPECT_NEAR(gray.at<std::uint8_t>(y, x), luminance, 1.0);
    }
  }

  const std::unique_ptr<Image> back = toImage(mat);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->size, image->size);
  EXPECT_EQ(0, std::memcmp(back->data.get(), image->data.get(), image->size));

  const std::unique_ptr<Image> fromGray = toImage(gray);
  ASSERT_NE(fromGray, nullptr);
  const std::uint8_t* p = fromGray->row(2) + 3 * 4;
  EXPECT_EQ(p[0], gray.at<std::uint8_t>(2, 4));
  EXPECT_EQ(p[2], gray.at<std::uint8_t>(2, 4));

  EXPECT_EQ(toImage(cv::Mat()), nullptr);
  EXPECT_EQ(toImage(cv::Mat(2, 2, CV_32FC3)), nullptr);
  EXPECT_EQ(toImage(cv::Mat(2, 2, CV_8UC4)), nullptr);
}

TEST(OpenCvThreadsTest, ThreadSanitizerBuildsRunOpenCvOnTheCallingThread) {
  prepareOpenCvThreads();
  if (builtWithThreadSanitizer()) {
    EXPECT_EQ(cv::getNumThreads(), 1);
  } else {
    SUCCEED() << "OpenCV keeps its own thread pool outside ThreadSanitizer";
  }
}

}  // namespace
}  // namespace epipolar
