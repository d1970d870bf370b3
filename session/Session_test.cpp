#include "session/Session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include "session/CalibrationYaml.h"
#include "session/PairReader.h"

namespace epipolar {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Doubles compared bit for bit: -0.0 differs from 0.0, and a rounded value from the exact one.
bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

::testing::AssertionResult sameMatrix(const Matrix3x3& a, const Matrix3x3& b) {
  for (std::size_t i = 0; i < 9; ++i) {
    if (!same(a[i], b[i])) {
      return ::testing::AssertionFailure() << "element " << i << ": " << a[i] << " vs " << b[i];
    }
  }
  return ::testing::AssertionSuccess();
}

void expectSamePairs(const std::vector<Correspondence>& read,
                     const std::vector<Correspondence>& written) {
  ASSERT_EQ(read.size(), written.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_TRUE(same(read[i].x0, written[i].x0) && same(read[i].y0, written[i].y0) &&
                same(read[i].x1, written[i].x1) && same(read[i].y1, written[i].y1))
        << "pair " << i;
  }
}

// Values that a careless writer loses: decimals without an exact binary form, the sign of
// zero, subnormals, the largest double, integers beyond 2^53.
Session awkwardSession() {
  Session s;
  s.pairs = {{0.1, -0.0, 1e-300, 999999.99999999988},
             {5e-324, 1.0 / 3.0, 640.0, -479.5},
             {12.0, 13.0, 14.0, 15.0}};
  s.fits = {PairFit{0.1, true}, PairFit{kInf, false}};  // the third pair has no fit
  s.F =
      Matrix3x3{1e-300, -0.0, 1.7976931348623157e308, 0.1, 1.0 / 3.0, -2.5e-17, 5e-324, 1e22, -1.0};
  s.method = "accurate";
  s.rmsSampsonPx = 0.42;
  s.meanSymmetricPx = kNaN;  // not finite: written as null, read as unknown
  s.runs = std::numeric_limits<std::uint64_t>::max();
  s.timeMs = 1.3;
  s.warnings = {"Most pairs lie on one plane \"wall\"\n", "caf\xC3\xA9"};
  s.cameras = {SessionCamera{"Virtual rig (0)", 640, 480}, SessionCamera{"", 1920, 1080}};
  return s;
}

TEST(SessionFile, WritesAndReadsBackEveryValueBitForBit) {
  const Session written = awkwardSession();
  const std::string json = sessionJson(written);
  const PairFile read = readPairBytes(json, "session.json");
  ASSERT_TRUE(read.ok()) << read.error << "\n" << json;
  EXPECT_EQ(read.format, PairFileFormat::sessionJson);
  const Session& s = read.session;
  expectSamePairs(s.pairs, written.pairs);
  ASSERT_EQ(s.fits.size(), 3u);
  EXPECT_TRUE(s.fits[0] && same(s.fits[0]->residualPx, 0.1) && s.fits[0]->inlier);
  EXPECT_TRUE(s.fits[1] && s.fits[1]->residualPx == kInf && !s.fits[1]->inlier);
  EXPECT_FALSE(s.fits[2]);
  ASSERT_TRUE(s.F);
  EXPECT_TRUE(sameMatrix(*s.F, *written.F));
  EXPECT_EQ(s.method, "accurate");
  EXPECT_TRUE(same(s.rmsSampsonPx.value(), 0.42));
  EXPECT_FALSE(s.meanSymmetricPx);
  EXPECT_EQ(s.runs, written.runs);
  EXPECT_TRUE(same(s.timeMs.value(), 1.3));
  EXPECT_EQ(s.warnings, written.warnings);
  EXPECT_EQ(s.cameras, written.cameras);
  // Counts are written for readers without a JSON library, and checked on reading.
  EXPECT_NE(json.find("\"pair_count\": 3,\n  \"inlier_count\": 1,"), std::string::npos) << json;
  // What is read writes the same bytes again.
  Session again = written;
  again.meanSymmetricPx.reset();
  EXPECT_EQ(sessionJson(s), sessionJson(again));

  // The calibration YAML keeps F as exactly.
  const std::string yaml = calibrationYaml(*written.F);
  const PairFile fromYaml = readPairBytes(yaml, "calibration.yaml");
  ASSERT_TRUE(fromYaml.ok()) << fromYaml.error << "\n" << yaml;
  EXPECT_EQ(fromYaml.format, PairFileFormat::calibrationYaml);
  EXPECT_TRUE(sameMatrix(fromYaml.session.F.value(), *written.F));
  EXPECT_TRUE(fromYaml.session.pairs.empty());
}

TEST(PairReader, DecidesTheFormatByContent) {
  // Pair text: byte order mark, header, comments, CRLF, commas or blanks, signs.
  PairFile text = readPairBytes(
      "\xEF\xBB\xBFx0,y0,x1,y1\r\n# marked by hand\n\n1,2,3,4  # first\r\n 5 6\t7 8\n"
      "+9 , -10,1e2,.5\n",
      "pairs.txt");
  ASSERT_TRUE(text.ok()) << text.error;
  EXPECT_EQ(text.format, PairFileFormat::pairText);
  EXPECT_EQ(text.session.pairs,
            (std::vector<Correspondence>{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, -10, 100, 0.5}}));
  EXPECT_FALSE(text.session.F);

  // A session JSON by another hand: integers, no counts, keys of a later version skipped.
  PairFile json = readPairBytes(
      " \n{\"pairs\": [{\"y1\": 4, \"x0\": 1, \"y0\": 2, \"x1\": 3, \"note\": [1, {\"a\": null}]}],"
      " \"future\": {\"deep\": [[[]]]}}",
      "s.json");
  ASSERT_TRUE(json.ok()) << json.error;
  EXPECT_EQ(json.format, PairFileFormat::sessionJson);
  EXPECT_EQ(json.session.pairs, (std::vector<Correspondence>{{1, 2, 3, 4}}));
  EXPECT_TRUE(json.session.fits.empty());

  // The YAML as cv::FileStorage writes it, with another matrix before F.
  PairFile yaml = readPairBytes(
      "%YAML:1.0\n---\nK: !!opencv-matrix\n   rows: 1\n   cols: 1\n   dt: d\n   data: [ 2. ]\n"
      "F: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
      "   data: [ -1.3597297951557210e-06, 2.1893498498519862e-05,\n"
      "       -3.1839413005224917e-03, 1., 0., -0.,\n       7, 8, 9. ]\n",
      "cv.yaml");
  ASSERT_TRUE(yaml.ok()) << yaml.error;
  EXPECT_EQ(yaml.format, PairFileFormat::calibrationYaml);
  EXPECT_TRUE(sameMatrix(yaml.session.F.value(),
                         {-1.3597297951557210e-06,
                          2.1893498498519862e-05,
                          -3.1839413005224917e-03,
                          1,
                          0,
                          -0.0,
                          7,
                          8,
                          9}));

  // cams.conf read as the start-up restore reads it: consecutive indices from 0, atof numbers
  // ("12abc" is 12), a missing Cam1 key is 0; "configured" does not hide F here.
  PairFile conf = readPairBytes(
      "mat0=0\nmat1=-0.5\nmat2=1\nmat3=0.5\nmat4=0\nmat5=-2\nmat6=-1\nmat7=2\nmat8=0\n"
      "matrixStored=true\n\n[Cam0]\nconfigured=true\nhasPoints=true\npt0x=1.5\npt0y=2\n"
      "pt1x=3\npt1y=12abc\npt3x=9\npt3y=9\n\n[Cam1]\nhasPoints=true\npt0x=5\npt0y=6\npt1x=7\n",
      "cams.conf");
  ASSERT_TRUE(conf.ok()) << conf.error;
  EXPECT_EQ(conf.format, PairFileFormat::camsConf);
  EXPECT_EQ(conf.session.pairs, (std::vector<Correspondence>{{1.5, 2, 5, 6}, {3, 12, 7, 0}}));
  EXPECT_TRUE(sameMatrix(conf.session.F.value(), {0, -0.5, 1, 0.5, 0, -2, -1, 2, 0}));

  // Points only with hasPoints, F only with matrixStored=true.
  PairFile bare = readPairBytes("matrixStored=false\nmat0=1\n[Cam0]\npt0x=1\n", "cams.conf");
  ASSERT_TRUE(bare.ok()) << bare.error;
  EXPECT_EQ(bare.format, PairFileFormat::camsConf);
  EXPECT_TRUE(bare.session.pairs.empty());
  EXPECT_FALSE(bare.session.F);
}

TEST(PairReader, RefusesBadInputWithOneMessageAndLoadsNothing) {
  const std::string yamlHead = "%YAML:1.0\n---\nF: !!opencv-matrix\n   rows: 3\n   cols: 3\n";
  std::string manyWarnings = "{\"warnings\": [\"\"";
  for (std::size_t i = 0; i < kMaxWarnings; ++i) manyWarnings += ", \"\"";
  manyWarnings += "]}";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      // Pair text.
      {"1 2 3 4\n1 2 3\n", "in: line 2: expected 4 numbers (x0 y0 x1 y1), found 3"},
      {"1 2 3 4 5\n", "in: line 1: expected 4 numbers (x0 y0 x1 y1), found more"},
      {"1,,3,4\n", "in: line 1: empty field for y0"},
      {"1 2, 3, 4, 5\n", "in: line 1: '1 2' is not a number"},
      {"x0,y0,x1,y1\nx0,y0,x1,y1\n", "in: line 2: 'x0' is not a number"},
      {"# c\n1 2 3 nan\n", "in: line 2: 'nan' is not a finite number"},
      {"1 2 3 1e999\n", "in: line 1: '1e999' is out of range"},
      {"1 2 3 2e6\n", "in: line 1: y1 2e+06 is beyond +-1000000 pixels"},
      {"1 2 3 4\n\x01\xffx junk 1 2\n", "in: line 2: '??x' is not a number"},
      // Session JSON.
      {"{\n\"pairs\": [\n{\"x0\": 1,}\n]}", "in: line 3, column 10: syntax error"},
      {"{} trailing", "in: line 1, column 6: syntax error"},
      {R"({"pairs": [{"x0": 1, "y0": 2, "x1": 3, "y1": 4}, {"x0": 1, "y0": 2, "x1": 3}]})",
       "in: pairs[1]: y1 is missing"},
      {R"({"pairs": [{"x0": "1"}]})", "in: pairs[0].x0: expected a number, found a string"},
      {R"({"pairs": [{"x0": null}]})", "in: pairs[0].x0: not a finite number (null)"},
      {R"({"pairs": [{"x0": 1,
 "x1": 1e999}]})",
       "in: line 2, column 12: number overflow parsing '1e999'"},
      {R"({"pairs": [{"x0": 1, "x0": 2}]})", "in: pairs[0].x0: appears twice"},
      {R"({"pairs": [{"x0": 1, "y0": 2, "x1": 3, "y1": 4, "inlier": true}]})",
       "in: pairs[0]: inlier without residual_px"},
      {R"({"pairs": {}})", "in: pairs: expected a list, found an object"},
      {R"({"pairs": [], "pair_count": 2})", "in: pair_count: is 2 but pairs holds 0"},
      {R"({"F": [1, 2, 3, 4, 5, 6, 7, 8]})", "in: F: holds 8 numbers, expected 9"},
      {R"({"F": [0, 0, 0, 0, 0, 0, 0, 0, -0.0]})", "in: F: has all elements zero"},
      {R"({"F": [1, 2, 3, null, 5, 6, 7, 8, 9]})", "in: F[3]: not a finite number (null)"},
      {R"({"runs": -1})", "in: runs: must not be negative"},
      {manyWarnings, "in: warnings: more than 1000 warnings"},
      {R"({"cameras": [{"name": "a"}]})",
       "in: cameras: expected 2 entries (camera 0, camera 1), found 1"},
      {R"({"cameras": [{}, {"width": 0, "height": 480}]})",
       "in: cameras[1].width: 0 is not a picture side"},
      // cams.conf.
      {"[Cam0]\nhasPoints=true\npt0x=inf\npt0y=1\n",
       "in: [Cam0] pt0x: 'inf' is not a finite number"},
      {"matrixStored=true\nmat4=nan\n", "in: mat4: 'nan' is not a finite number"},
      {"matrixStored=true\n", "in: mat0..mat8: F has all elements zero"},
      {"[Cam0]\n" + std::string(kMaxSettingsBytes, ';'), "in: a cams.conf larger than 4 MiB"},
      // Calibration YAML.
      {yamlHead + "   dt: d\n   data: [ 1, 2, 3, 4, 5, 6, 7, 8 ]\n",
       "in: line 7: data holds 8 numbers, expected 9"},
      {yamlHead + "   dt: d\n   data: [ 1, 2, 3, 4, .Nan, 6, 7, 8, 9 ]\n",
       "in: line 7: '.Nan' is not a finite number"},
      {yamlHead + "   dt: d\n   data: [ 1, 2, 3,\n", "in: line 7: the data list is not closed"},
      {yamlHead + "   dt: u\n", "in: line 6: dt is 'u', expected d (double) or f (float)"},
      {"%YAML:1.0\n---\nF: !!opencv-matrix\n   rows: 4\n", "in: line 4: rows is '4', expected 3"},
      {"%YAML:1.0\n---\nK: 1\n", "in: no matrix F"},
      // Size.
      {std::string(kMaxInputBytes + 1, ' '), "in: larger than 32 MiB"},
  };
  for (const auto& c : cases) {
    const PairFile read = readPairBytes(c.text, "in");
    EXPECT_FALSE(read.ok()) << c.text.substr(0, 80);
    EXPECT_TRUE(read.error.starts_with(c.message))
        << "input: " << c.text.substr(0, 80) << "\nmessage: " << read.error;
    EXPECT_EQ(read.error.find('\n'), std::string::npos) << read.error;
    EXPECT_TRUE(read.session.pairs.empty() && !read.session.F && read.session.fits.empty())
        << read.error;
  }
}

class PairFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ =
        std::filesystem::temp_directory_path() / ("session-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string file(const std::string& name, const std::string& content) {
    const std::string path = (directory_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::filesystem::path directory_;
};

TEST_F(PairFiles, ReadFromPathsAndStandardInput) {
  EXPECT_EQ(readPairFile(file("p.txt", "1 2 3 4\n")).session.pairs,
            (std::vector<Correspondence>{{1, 2, 3, 4}}));
  const std::string missing = (directory_ / "missing.txt").string();
  EXPECT_EQ(readPairFile(missing).error, missing + ": cannot be read (No such file or directory)");
  EXPECT_EQ(readPairFile(directory_.string()).error,
            directory_.string() + ": cannot be read (Is a directory)");

  std::istringstream input("5,6,7,8\n1 2 3\n");
  std::streambuf* saved = std::cin.rdbuf(input.rdbuf());
  const PairFile fromStdin = readPairFile("-");
  std::cin.rdbuf(saved);
  EXPECT_EQ(fromStdin.error, "standard input: line 2: expected 4 numbers (x0 y0 x1 y1), found 3");
}

TEST_F(PairFiles, CalibrationTakesFFromOneFileAndPairsFromEither) {
  Session exported = awkwardSession();
  exported.pairs.resize(2);
  const std::string json = file("s.json", sessionJson(exported));
  const std::string yaml = file("c.yaml", calibrationYaml(*exported.F));
  Session other = exported;
  (*other.F)[0] = 2.0;
  const std::string otherJson = file("o.json", sessionJson(other));
  const std::string text = file("p.txt", "1 2 3 4\n");

  // The session JSON alone gives F, pairs and fits.
  PairFile alone = readCalibration(json);
  ASSERT_TRUE(alone.ok()) << alone.error;
  EXPECT_EQ(alone.session.pairs.size(), 2u);
  EXPECT_EQ(alone.session.fits.size(), 2u);

  // The YAML Ctrl+S wrote with that session: the fits belong to this F and are kept.
  PairFile matched = readCalibration(yaml, json);
  ASSERT_TRUE(matched.ok()) << matched.error;
  EXPECT_EQ(matched.format, PairFileFormat::calibrationYaml);
  EXPECT_TRUE(sameMatrix(matched.session.F.value(), *exported.F));
  EXPECT_EQ(matched.session.fits.size(), 2u);

  // Fits made under another F are dropped; the calibration's F wins.
  PairFile mismatched = readCalibration(yaml, otherJson);
  ASSERT_TRUE(mismatched.ok()) << mismatched.error;
  EXPECT_EQ(mismatched.session.pairs.size(), 2u);
  EXPECT_TRUE(mismatched.session.fits.empty());
  EXPECT_TRUE(sameMatrix(mismatched.session.F.value(), *exported.F));

  EXPECT_EQ(readCalibration(json, text).session.pairs, (std::vector<Correspondence>{{1, 2, 3, 4}}));
  EXPECT_TRUE(readCalibration(json, text).session.fits.empty());

  EXPECT_EQ(readCalibration(yaml).error,
            yaml + ": the calibration YAML holds F only; give the pairs with --pairs");
  EXPECT_TRUE(readCalibration(text).error.starts_with(text + ": holds no F"));
  EXPECT_EQ(readCalibration("-", "-").error,
            "standard input: cannot hold both the calibration and the pairs");
  EXPECT_TRUE(readCalibration(yaml, text + ".missing").error.find("cannot be read") !=
              std::string::npos);
}

}  // namespace
}  // namespace epipolar
