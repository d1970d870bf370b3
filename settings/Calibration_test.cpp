#include "settings/Calibration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace epipolar {
namespace {

namespace fs = std::filesystem;

// A settings file in a fresh temporary directory.
class CalibrationKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/calibration_keys_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "cams.conf").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void writeFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string readFile() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  std::string path_;
};

Matrix sampleMatrix() {
  const double values[9] = {0.1, -2.5, 1.0 / 3.0, 4e-7, 5.0, -6.0, 7.25, 8e10, -0.0009};
  return Matrix(values, 3, 3);
}

TEST_F(CalibrationKeys, AnEmptyRunWritesOnlyMatrixStoredFalse) {
  writeFile("");
  {
    ConfigFile settings(path_);
    writeCalibration(settings, false, Matrix(3, 3), {});
    ASSERT_TRUE(settings.save());
  }
  EXPECT_EQ(readFile(), "matrixStored=false\n");
}

TEST_F(CalibrationKeys, MatrixAndPointsRoundTripWithTenSignificantDigits) {
  writeFile("[Cam0]\nconfigured=false\n");
  const std::vector<Correspondence> points = {{1.5, 2.25, 3, 4}, {100.125, 200, 300, 479}};
  {
    ConfigFile settings(path_);
    writeCalibration(settings, true, sampleMatrix(), points);
    ASSERT_TRUE(settings.save());
  }
  EXPECT_EQ(readFile(),
            "mat0=0.1\nmat1=-2.5\nmat2=0.3333333333\nmat3=4e-07\nmat4=5\nmat5=-6\n"
            "mat6=7.25\nmat7=8e+10\nmat8=-0.0009\nmatrixStored=true\n\n"
            "[Cam0]\nconfigured=false\nhasPoints=true\npt0x=1.5\npt0y=2.25\npt1x=100.125\n"
            "pt1y=200\n\n"
            "[Cam1]\nhasPoints=true\npt0x=3\npt0y=4\npt1x=300\npt1y=479\n");

  ConfigFile reread(path_);
  EXPECT_TRUE(storedMatrixOffered(reread));
  EXPECT_TRUE(storedPointsOffered(reread));
  EXPECT_EQ(readStoredPoints(reread), points);
  const Matrix restored = readStoredMatrix(reread);
  for (int i = 0; i < 9; ++i) {
    EXPECT_NEAR(
        restored.data()[i], sampleMatrix().data()[i], std::abs(sampleMatrix().data()[i]) * 1e-9);
  }
}

TEST_F(CalibrationKeys, ConfiguredOrAMissingFlagKeepsTheMatrixFromBeingOffered) {
  writeFile("matrixStored=true\nmat0=1\n\n[Cam0]\nconfigured=true\n");
  EXPECT_FALSE(storedMatrixOffered(ConfigFile(path_)));
  writeFile("matrixStored=1\n");
  EXPECT_TRUE(storedMatrixOffered(ConfigFile(path_)));
  writeFile("mat0=1\nmatrixStored=TRUE\n");
  EXPECT_FALSE(storedMatrixOffered(ConfigFile(path_)));
  fs::remove(path_);
  EXPECT_FALSE(storedMatrixOffered(ConfigFile(path_)));
  EXPECT_FALSE(storedPointsOffered(ConfigFile(path_)));
}

TEST_F(CalibrationKeys, PointsStopAtTheFirstMissingXKeyAndMissingCamera1KeysReadAsZero) {
  writeFile(
      "[Cam0]\nhasPoints=true\npt0x=1\npt0y=2\npt1x=3\npt1y=4\npt2y=5\npt3x=6\npt3y=7\n\n"
      "[Cam1]\npt0x=10\npt0y=20\n");
  ConfigFile settings(path_);
  EXPECT_EQ(readStoredPoints(settings),
            (std::vector<Correspondence>{{1, 2, 10, 20}, {3, 4, 0, 0}}));
}

TEST_F(CalibrationKeys, ReadingStopsAtTheLimit) {
  std::string text = "[Cam0]\nhasPoints=true\n";
  for (int i = 0; i < 12; ++i) text += "pt" + std::to_string(i) + "x=" + std::to_string(i) + "\n";
  writeFile(text);
  ConfigFile settings(path_);
  EXPECT_EQ(readStoredPoints(settings, 5).size(), 5u);
  EXPECT_EQ(readStoredPoints(settings).size(), 12u);
}

TEST_F(CalibrationKeys, ReadingTenThousandAndOnePointsKeepsTheFirstTenThousand) {
  std::string text = "[Cam0]\nhasPoints=true\n";
  for (std::size_t i = 0; i <= kPointRestoreLimit; ++i) {
    text += "pt" + std::to_string(i) + "x=" + std::to_string(i) + "\n";
  }
  writeFile(text);
  const std::vector<Correspondence> points = readStoredPoints(ConfigFile(path_));
  ASSERT_EQ(points.size(), kPointRestoreLimit);
  EXPECT_EQ(points.back().x0, static_cast<double>(kPointRestoreLimit - 1));
}

TEST_F(CalibrationKeys, NonFiniteStoredValuesArriveAsRead) {
  writeFile("mat0=nan\nmat1=inf\nmat2=-inf\nmatrixStored=true\n\n[Cam0]\npt0x=nan\npt0y=inf\n");
  ConfigFile settings(path_);
  const Matrix matrix = readStoredMatrix(settings);
  EXPECT_TRUE(std::isnan(matrix(0, 0)));
  EXPECT_EQ(matrix(0, 1), INFINITY);
  EXPECT_EQ(matrix(0, 2), -INFINITY);
  EXPECT_EQ(matrix(2, 2), 0.0);
  const std::vector<Correspondence> points = readStoredPoints(settings);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_TRUE(std::isnan(points[0].x0));
  EXPECT_EQ(points[0].y0, INFINITY);
}

TEST_F(CalibrationKeys, FewerPointsThanStoredKeepTheHigherIndicesAndUncalibratedKeepsTheMatrix) {
  writeFile(
      "mat0=9\nmatrixStored=true\n\n[Cam0]\nhasPoints=true\npt0x=1\npt0y=1\npt1x=2\npt1y=2\n\n"
      "[Cam1]\nhasPoints=true\npt0x=1\npt0y=1\npt1x=2\npt1y=2\n");
  {
    ConfigFile settings(path_);
    const std::vector<Correspondence> one = {{7, 8, 9, 10}};
    writeCalibration(settings, false, Matrix(3, 3), one);
    ASSERT_TRUE(settings.save());
  }
  EXPECT_EQ(readFile(),
            "mat0=9\nmatrixStored=false\n\n[Cam0]\nhasPoints=true\npt0x=7\npt0y=8\npt1x=2\n"
            "pt1y=2\n\n[Cam1]\nhasPoints=true\npt0x=9\npt0y=10\npt1x=2\npt1y=2\n");
}

}  // namespace
}  // namespace epipolar
