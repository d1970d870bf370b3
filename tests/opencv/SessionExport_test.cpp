// Ctrl+S of the assisted mode, end to end in-process: the exported session reads back bit for
// bit through the one pair reader and as the --pairs file of the next run, and OpenCV's
// FileStorage reads the exported F bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <opencv2/core.hpp>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "session/PairReader.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::linesStartingWith;

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool sameBits(const Correspondence& a, const Correspondence& b) {
  return sameBits(a.x0, b.x0) && sameBits(a.y0, b.y0) && sameBits(a.x1, b.x1) &&
         sameBits(a.y1, b.y1);
}

using SessionExport = AppFixture;

TEST_F(SessionExport, ExportedFilesReadBackBitForBitByUsByOpenCVAndAsTheNextRunsPairs) {
  Options options;
  options.assist = true;
  std::vector<Correspondence> marked;
  Matrix3x3 F{};
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", options);
    // A camera moving sideways: each pair on one row, at depths that differ. Digits that no
    // short decimal holds.
    std::vector<Correspondence> fitted;
    for (int i = 0; i < 12; ++i) {
      const double x0 = 7.3 * i + 1.0 / 3.0;
      const double y0 = (i * i) % 37 + 0.1 * i;
      fitted.push_back({x0, y0, x0 + 3.0 + (i % 5) * 1.7, y0});
    }
    app.addPairs(fitted, "the test", "");
    app.calibrate();
    ASSERT_TRUE(app.calibration().calibrated());
    const Correspondence later{2.0 / 3.0, -0.0, 1e-300, 5e5};
    app.addPairs(std::vector<Correspondence>{later}, "the test", "");
    app.exportSession();

    marked = app.pairs().correspondences();
    std::copy(app.calibration().fundamental().data(),
              app.calibration().fundamental().data() + 9,
              F.begin());
    EXPECT_EQ(linesStartingWith(log, "Exported "),
              (std::vector<std::string>{"Exported 13 pairs with F to epipolar-session.json",
                                        "Exported F to epipolar-calibration.yaml"}));
  }
  EXPECT_TRUE(linesStartingWith(log, "Saved the edits").empty()) << "nothing changed since";

  const PairFile read = readPairFile(kSessionFileName);
  ASSERT_TRUE(read.ok()) << read.error;
  const Session& session = read.session;
  ASSERT_EQ(session.pairs.size(), marked.size());
  for (std::size_t i = 0; i < marked.size(); ++i)
    EXPECT_TRUE(sameBits(session.pairs[i], marked[i]));
  ASSERT_TRUE(session.F);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_TRUE(sameBits((*session.F)[i], F[i])) << i;
  EXPECT_EQ(session.method, "accurate");
  EXPECT_TRUE(session.rmsSampsonPx && session.runs) << "the calibration's summary";
  // The twelve fitted pairs carry their Sampson distance and verdict; the later one neither.
  ASSERT_EQ(session.fits.size(), marked.size());
  for (std::size_t i = 0; i < 12; ++i) {
    ASSERT_TRUE(session.fits[i]) << i;
    EXPECT_TRUE(sameBits(session.fits[i]->residualPx, sampsonDistance(F, marked[i]))) << i;
    EXPECT_TRUE(session.fits[i]->inlier) << i;
  }
  EXPECT_FALSE(session.fits[12]);
  EXPECT_EQ(session.cameras[0], (SessionCamera{"Left cam", kWidth, kHeight}));
  EXPECT_EQ(session.cameras[1], (SessionCamera{"Right cam", kWidth, kHeight}));

  cv::FileStorage storage(kCalibrationFileName, cv::FileStorage::READ);
  ASSERT_TRUE(storage.isOpened());
  cv::Mat opencvF;
  storage["F"] >> opencvF;
  ASSERT_EQ(opencvF.type(), CV_64F);
  ASSERT_EQ(opencvF.total(), 9u);
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(sameBits(opencvF.at<double>(i / 3, i % 3), F[i])) << i;

  options.pairsFile = kSessionFileName;
  StereoApp next(camera0.get(), camera1.get(), "cams.conf", options);
  ASSERT_EQ(next.pairs().correspondences().size(), marked.size());
  for (std::size_t i = 0; i < marked.size(); ++i) {
    EXPECT_TRUE(sameBits(next.pairs().correspondences()[i], marked[i])) << i;
  }
  EXPECT_FALSE(next.calibration().calibrated()) << "the file's F waits for C";
  EXPECT_EQ(linesStartingWith(log, "Added 13 "),
            std::vector<std::string>{"Added 13 pairs from epipolar-session.json (13 in all); "
                                     "its F is not used: press C to calibrate"});
}

}  // namespace
}  // namespace epipolar
