#include "vision/ImageMat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <opencv2/core/utility.hpp>
#include <set>
#include <thread>

#include "vision/OpenCvThreads.h"

namespace epipolar {
namespace {

// Every test of this binary runs OpenCV code: its threads are settled before the first.
class OpenCvThreadsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { prepareOpenCvThreads(); }
};
[[maybe_unused]] ::testing::Environment* const kOpenCvThreads =
    ::testing::AddGlobalTestEnvironment(new OpenCvThreadsEnvironment);

// Width 5: 15 bytes of pixels per row padded to 16, so a stride mistake shifts every row.
TEST(ImageMatTest, PixelsKeepTheirPlaceAndColourBothWays) {
  constexpr int kWidth = 5, kHeight = 3;
  auto image = Image::blank(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* p = image->row(y) + 3 * static_cast<std::ptrdiff_t>(x);
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
      const cv::Vec3b& bgr = mat.at<cv::Vec3b>(y, x);
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
  const std::uint8_t* p = fromGray->row(2) + 12;  // pixel (4, 2)
  EXPECT_EQ(p[0], gray.at<std::uint8_t>(2, 4));
  EXPECT_EQ(p[2], gray.at<std::uint8_t>(2, 4));

  EXPECT_EQ(toImage(cv::Mat()), nullptr);
  EXPECT_EQ(toImage(cv::Mat(2, 2, CV_32FC3)), nullptr);
  EXPECT_EQ(toImage(cv::Mat(2, 2, CV_8UC4)), nullptr);
}

// cv::getNumThreads() still reports the pool's size after cv::setNumThreads(0), so the test
// looks at where the loop bodies run.
TEST(OpenCvThreadsTest, ThreadSanitizerBuildsRunOpenCvLoopsOnTheCallingThread) {
  std::mutex mutex;
  std::set<std::thread::id> threads;
  cv::parallel_for_(
      cv::Range(0, 64),
      [&](const cv::Range&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
      },
      64);
  if (builtWithThreadSanitizer()) {
    EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
  } else {
    EXPECT_FALSE(threads.empty());
  }
}

}  // namespace
}  // namespace epipolar
