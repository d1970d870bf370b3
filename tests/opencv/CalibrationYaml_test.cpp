#include "session/CalibrationYaml.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <opencv2/core.hpp>

#include "session/PairReader.h"

namespace epipolar {
namespace {

// Elements a careless writer or reader changes: the sign of zero, subnormals, the extremes,
// decimals without an exact binary form.
const Matrix3x3 kAwkward = {-0.0,
                            5e-324,
                            1.7976931348623157e308,
                            0.1,
                            1.0 / 3.0,
                            -2.2250738585072014e-308,
                            1e22,
                            -1.0,
                            123456789.0};

bool bitwiseEqual(const double* a, const double* b) {
  for (int i = 0; i < 9; ++i) {
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
  }
  return true;
}

TEST(CalibrationYamlWithOpenCV, FileStorageReadsOurFIntoADoubleMatrixBitForBit) {
  cv::FileStorage storage(calibrationYaml(kAwkward),
                          cv::FileStorage::READ | cv::FileStorage::MEMORY);
  ASSERT_TRUE(storage.isOpened());
  cv::Mat F;
  storage["F"] >> F;
  ASSERT_EQ(F.type(), CV_64F);
  ASSERT_EQ(F.rows, 3);
  ASSERT_EQ(F.cols, 3);
  ASSERT_TRUE(F.isContinuous());
  EXPECT_TRUE(bitwiseEqual(F.ptr<double>(), kAwkward.data()));
}

TEST(CalibrationYamlWithOpenCV, WeReadWhatFileStorageWritesBitForBit) {
  // OpenCV itself writes -0.0 as "0.", so that element is not tried here.
  Matrix3x3 written = kAwkward;
  written[0] = -1.5e-7;
  cv::FileStorage storage(".yaml", cv::FileStorage::WRITE | cv::FileStorage::MEMORY);
  storage << "K" << cv::Mat::eye(3, 3, CV_64F);
  storage << "F" << cv::Mat(3, 3, CV_64F, written.data());
  storage << "note"
          << "written by OpenCV";
  const std::string text = storage.releaseAndGetString();
  const PairFile read = readPairBytes(text, "opencv.yaml");
  ASSERT_TRUE(read.ok()) << read.error << "\n" << text;
  ASSERT_TRUE(read.session.F);
  EXPECT_TRUE(bitwiseEqual(read.session.F->data(), written.data())) << text;
}

}  // namespace
}  // namespace epipolar
