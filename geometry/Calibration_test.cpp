#include "geometry/Calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/Residuals.h"
#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

using testing::LogCapture;

// Points of two cameras looking at a box of 3D points: camera 0 at the origin, camera 1
// moved and turned a little; both with focal length 500 and centre (320, 240).
std::vector<Correspondence> rigCorrespondences(int count) {
  std::vector<Correspondence> result;
  for (int i = 0; i < count; ++i) {
    const double X = -1.0 + 0.37 * (i % 6) + 0.05 * (i % 4);
    const double Y = -0.8 + 0.29 * (i % 5) + 0.03 * (i % 7);
    const double Z = 4.0 + 0.6 * (i % 3) + 0.17 * (i % 8);
    const double angle = 0.05;
    const double X1 = std::cos(angle) * X + std::sin(angle) * Z - 0.5;
    const double Y1 = Y + 0.02;
    const double Z1 = -std::sin(angle) * X + std::cos(angle) * Z + 0.1;
    result.push_back(
        {320 + 500 * X / Z, 240 + 500 * Y / Z, 320 + 500 * X1 / Z1, 240 + 500 * Y1 / Z1});
  }
  return result;
}

std::string testLine(const Matrix& F, const Correspondence& c) {
  const double values[3] = {c.x0, c.y0, 1};
  Vector l = F * Vector(values, 3);
  const double norm = l.norm();
  for (int i = 0; i < 3; ++i) l[i] = l[i] / norm;
  std::ostringstream out;
  out << "Test results: " << l[0] << " * " << c.x1 << " + " << l[1] << " * " << c.y1 << " + "
      << l[2] << " = " << l[1] * c.y1 + l[0] * c.x1 + l[2];
  return out.str();
}

// Where the line equal to `text` is, or lines.size() when there is none.
std::size_t lineIndex(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), text) - lines.begin());
}

std::string epipoleLine(int side, const Vector& epipole) {
  std::ostringstream out;
  out << "Epipole " << side << ": " << epipole;
  return out.str();
}

TEST(Calibrate, SevenPairsAreTooFew) {
  const std::vector<Correspondence> pairs = rigCorrespondences(7);
  Matrix F(3, 3);
  F(0, 1) = 2.5;
  const Matrix before = F;
  Vector e0, e1;
  LogCapture log;
  EXPECT_FALSE(calibrate(pairs, F, e0, e1));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Can't calibrate, too few points"});
  EXPECT_EQ(F, before);
  EXPECT_EQ(e0, Vector());
  EXPECT_EQ(e1, Vector());
}

TEST(Calibrate, EightPairsGiveTestLinesAndEpipoles) {
  const std::vector<Correspondence> pairs = rigCorrespondences(8);
  Matrix F(3, 3);
  Vector e0, e1;
  LogCapture log;
  ASSERT_TRUE(calibrate(pairs, F, e0, e1));
  const std::vector<std::string> lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Working with 8 matches");

  // After the estimation's own lines: one test line per pair, together and in pair order, the
  // only test lines; then the two epipoles.
  const std::size_t firstTest = lineIndex(lines, testLine(F, pairs[0]));
  ASSERT_LE(firstTest + 8, lines.size()) << log.text();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(lines[firstTest + i], testLine(F, pairs[i]));
  EXPECT_EQ(
      std::count_if(lines.begin(),
                    lines.end(),
                    [](const std::string& line) { return line.starts_with("Test results: "); }),
      8);
  const std::size_t epipole0 = lineIndex(lines, epipoleLine(0, e0));
  ASSERT_LT(epipole0 + 1, lines.size()) << log.text();
  EXPECT_GE(epipole0, firstTest + 8);
  EXPECT_EQ(lines[epipole0 + 1], epipoleLine(1, e1));

  // Exact points: F fits every pair, and the epipoles are its null vectors.
  for (const Correspondence& c : pairs) {
    const double values[3] = {c.x0, c.y0, 1};
    Vector l = F * Vector(values, 3);
    const double residual = (l[0] * c.x1 + l[1] * c.y1 + l[2]) / l.norm();
    EXPECT_NEAR(residual, 0.0, 1e-9);
  }
  ASSERT_EQ(e1.count(), 3);
  const Vector Fe1 = F * e1;
  EXPECT_NEAR(Fe1.norm(), 0.0, 1e-9);
}

TEST(Calibrate, AMalformedMatrixIsReplacedBeforeItIsUsed) {
  // All eight points coincide in both images: no run finds an inlier, so F keeps its value,
  // which must still be a 3x3 matrix for the test lines.
  const std::vector<Correspondence> pairs(8, Correspondence{10, 10, 20, 20});
  Matrix F;  // 1x1
  Vector e0, e1;
  LogCapture log;
  EXPECT_TRUE(calibrate(pairs, F, e0, e1));
  EXPECT_EQ(F.rows(), 3);
  EXPECT_EQ(F.cols(), 3);
}

std::string pairLine(int number, double residual, bool inlier) {
  char text[96];
  std::snprintf(text,
                sizeof text,
                "Pair %d: residual %.2f px %s",
                number,
                residual,
                inlier ? "inlier" : "outlier");
  return text;
}

TEST(Calibrate, TheAccurateMethodLogsASummaryAndOneLinePerPair) {
  std::vector<Correspondence> pairs = rigCorrespondences(30);
  pairs[4].y1 += 40;  // two false matches
  pairs[17].y0 -= 25;
  Matrix F(3, 3);
  Vector e0, e1;
  FundamentalOptions options;
  options.method = FundamentalMethod::kAccurate;
  FundamentalReport report;
  LogCapture log;
  ASSERT_TRUE(calibrate(pairs, F, e0, e1, options, &report));
  const std::vector<std::string> lines = log.lines();
  ASSERT_EQ(lines.size(), 1u + 1u + 30u + 2u) << log.text();
  EXPECT_EQ(lines[0], "Working with 30 matches");
  // The summary read back and written again must give the same text: the formats are exact.
  int inliers = 0, count = 0;
  double rms = -1.0, ms = -1.0;
  ASSERT_EQ(
      std::sscanf(lines[1].c_str(),
                  "Accurate calibration: %d of %d pairs are inliers, RMS error %lf px, %lf ms",
                  &inliers,
                  &count,
                  &rms,
                  &ms),
      4)
      << lines[1];
  char summary[160];
  std::snprintf(summary,
                sizeof summary,
                "Accurate calibration: %d of %d pairs are inliers, RMS error %.2f px, %.1f ms",
                inliers,
                count,
                rms,
                ms);
  EXPECT_EQ(lines[1], summary);
  EXPECT_EQ(inliers, 28);
  EXPECT_EQ(count, 30);
  EXPECT_EQ(rms, 0.0);  // exact pairs
  EXPECT_GE(ms, 0.0);
  Matrix3x3 f;
  std::copy(F.data(), F.data() + 9, f.begin());
  for (int k = 0; k < 30; ++k) {
    EXPECT_EQ(lines[2 + k], pairLine(k + 1, sampsonDistance(f, pairs[k]), k != 4 && k != 17));
  }
  EXPECT_EQ(lines[32], epipoleLine(0, e0));
  EXPECT_EQ(lines[33], epipoleLine(1, e1));
  // F as the described calibration keeps it: 3x3, pixels, here of unit norm.
  double norm = 0.0;
  for (double v : f) norm += v * v;
  EXPECT_NEAR(norm, 1.0, 1e-12);
  EXPECT_EQ(f, report.F);
}

TEST(Calibrate, TheAccurateMethodRefusesTooFewPairsAndWithoutAModelChangesNothing) {
  FundamentalOptions options;
  options.method = FundamentalMethod::kAccurate;
  Matrix F(3, 3);
  F(0, 1) = 2.5;
  const Matrix before = F;
  Vector e0, e1;
  {
    LogCapture log;
    EXPECT_FALSE(calibrate(rigCorrespondences(7), F, e0, e1, options));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Can't calibrate, too few points"});
  }
  // Five pairs, each twice: no model. Residuals and epipoles of the old F would pass for the
  // result, so only the failure and its reasons are logged, and F stays.
  std::vector<Correspondence> pairs;
  for (const Correspondence& c : rigCorrespondences(5)) pairs.insert(pairs.end(), 2, c);
  LogCapture log;
  FundamentalReport report;
  EXPECT_FALSE(calibrate(pairs, F, e0, e1, options, &report));
  EXPECT_FALSE(report.found);
  std::vector<std::string> expected = {"Working with 10 matches", accurateFailureLine(report, 10)};
  for (const std::string& warning : report.warnings) expected.push_back("Warning: " + warning);
  EXPECT_EQ(log.lines(), expected);
  EXPECT_NE(std::find(expected.begin(),
                      expected.end(),
                      "Warning: Only 5 distinct pairs: at least 8 are needed."),
            expected.end());
  EXPECT_EQ(expected[1].rfind("Accurate calibration: no model found for 10 pairs, ", 0), 0u);
  EXPECT_EQ(F, before);
  EXPECT_EQ(e0, Vector());
  EXPECT_EQ(e1, Vector());
}

}  // namespace
}  // namespace epipolar
