// `epipolar calibrate` in-process, parsed as main parses it: every input format and both
// output formats on the same synthetic pairs, the classic method against the calibration
// driver, and the exit status of each kind of failure.
#include "app/CalibrateCommand.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "geometry/Calibration.h"
#include "geometry/RandSequence.h"
#include "geometry/testing/SyntheticRig.h"
#include "log/testing/LogCapture.h"
#include "session/PairReader.h"
#include "session/Session.h"

namespace epipolar {
namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Parses `args` after "epipolar" and runs the subcommand on them, `input` as standard input.
Outcome run(std::vector<const char*> args,
            const std::string& input = "",
            bool brokenOutput = false) {
  args.insert(args.begin(), "epipolar");
  std::istringstream in(input);
  std::ostringstream out, err;
  if (brokenOutput) out.setstate(std::ios::badbit);
  Outcome outcome;
  const CommandLineResult parsed =
      parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
  if (!parsed.options) {
    outcome.status = parsed.exitStatus;
  } else if (parsed.options->calibrate) {
    outcome.status = runCalibrateCommand(*parsed.options->calibrate, in, out, err);
  }
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

bool sameBits(const Matrix3x3& a, const Matrix3x3& b) {
  for (int k = 0; k < 9; ++k)
    if (std::bit_cast<std::uint64_t>(a[k]) != std::bit_cast<std::uint64_t>(b[k])) return false;
  return true;
}

// The three rows of the text output, read back.
Matrix3x3 textF(const std::string& text) {
  Matrix3x3 F{};
  std::istringstream rows(text);
  std::string line;
  int k = 0;
  for (int r = 0; r < 3 && std::getline(rows, line); ++r) {
    char* at = line.data();
    for (int c = 0; c < 3; ++c) F[k++] = std::strtod(at, &at);
    EXPECT_EQ(*at, '\0') << line;
  }
  EXPECT_EQ(k, 9);
  EXPECT_FALSE(std::getline(rows, line)) << "more than three rows";
  return F;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

class CalibrateCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/epipolar_calibrate_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // 40 noisy pairs of a random rig and 4 false matches among them.
    testing::SyntheticRig rig(5);
    for (int i = 0; i < 44; ++i) pairs.push_back(rig.noisy(0.3));
    for (int i : {5, 17, 29, 41}) pairs[i].y1 += 20 + i;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& text) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // "x0,y0,x1,y1" with a header, comments, commas on one line and blanks on the next.
  std::string pairText(std::size_t count) const {
    std::string text = "# synthetic pairs\nx0,y0,x1,y1\n";
    for (std::size_t i = 0; i < count; ++i) {
      const Correspondence& c = pairs[i];
      const std::string gap = i % 2 == 0 ? ", " : " \t";
      text += number(c.x0) + gap + number(c.y0) + gap + number(c.x1) + gap + number(c.y1) +
              (i % 7 == 0 ? "  # a comment\n" : "\n");
    }
    return text;
  }
  std::string camsConf() const {
    std::string cam0 = "[Cam0]\nhasPoints=true\n", cam1 = "[Cam1]\nhasPoints=true\n";
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const std::string n = std::to_string(i);
      cam0 +=
          "pt" + n + "x=" + number(pairs[i].x0) + "\npt" + n + "y=" + number(pairs[i].y0) + "\n";
      cam1 +=
          "pt" + n + "x=" + number(pairs[i].x1) + "\npt" + n + "y=" + number(pairs[i].y1) + "\n";
    }
    return "matrixStored=false\n\n" + cam0 + "\n" + cam1;
  }

  std::vector<Correspondence> pairs;

 private:
  std::filesystem::path dir_;
};

TEST_F(CalibrateCommand, EveryInputFormatGivesTheSameFInTextAndInJsonReadBackBitForBit) {
  Session input;
  input.pairs = pairs;
  input.cameras[0] = {"left", 640, 480};
  const std::string text = write("pairs.txt", pairText(pairs.size()));
  const std::string json = write("session.json", sessionJson(input));
  const std::string conf = write("cams.conf", camsConf());

  std::optional<Matrix3x3> first;
  for (const char* source : {text.c_str(), json.c_str(), conf.c_str(), "-"}) {
    SCOPED_TRACE(source);
    const std::string stdinText = pairText(pairs.size());
    const Outcome plain = run({"calibrate", source}, stdinText);
    ASSERT_EQ(plain.status, 0) << plain.err;
    const Matrix3x3 F = textF(plain.out);
    if (!first) first = F;
    EXPECT_TRUE(sameBits(F, *first));

    const Outcome asJson = run({"calibrate", source, "--format", "json"}, stdinText);
    ASSERT_EQ(asJson.status, 0) << asJson.err;
    const PairFile back = readPairBytes(asJson.out, "output");
    ASSERT_TRUE(back.ok()) << back.error;
    ASSERT_TRUE(back.session.F);
    EXPECT_TRUE(sameBits(*back.session.F, F));
    EXPECT_EQ(back.session.pairs, pairs);
    EXPECT_EQ(back.session.method, "accurate");
    ASSERT_EQ(back.session.fits.size(), pairs.size());
    for (int i : {5, 17, 29, 41}) EXPECT_FALSE(back.session.fits[i]->inlier) << i;
    EXPECT_GE(back.session.inlierCount(), 36u);
    EXPECT_LT(*back.session.rmsSampsonPx, 0.5);
    EXPECT_TRUE(back.session.meanSymmetricPx && back.session.runs && back.session.timeMs);
    EXPECT_EQ(back.session.cameras[0].name, source == json ? "left" : "");
    // Standard error holds the program's assisted calibration log.
    EXPECT_EQ(asJson.err.rfind("Working with 44 matches\nAccurate calibration: ", 0), 0u);
    EXPECT_NE(asJson.err.find("\nPair 44: residual "), std::string::npos);
    EXPECT_NE(asJson.err.find("\nEpipole 1: "), std::string::npos);
  }

  // A tighter bound is the estimator's option, not decoration: fewer inliers.
  const Outcome tight = run({"calibrate", text.c_str(), "--threshold", "0.05", "--format", "json"});
  ASSERT_EQ(tight.status, 0) << tight.err;
  EXPECT_LT(readPairBytes(tight.out, "tight").session.inlierCount(), 30u);
}

// The classic method is the described estimator as the program's first C after its start
// runs it: the same log lines and bit for bit the same F, also after other draws in-process.
TEST_F(CalibrateCommand, ClassicGivesTheLogAndTheFOfTheProgramsFirstCalibration) {
  const std::string path = write("pairs.txt", pairText(pairs.size()));
  Matrix F(3, 3);
  Vector e0, e1;
  FundamentalOptions options;
  RandSequence fresh;
  options.random = &fresh;
  std::string expected;
  {
    testing::LogCapture log;
    ASSERT_TRUE(calibrate(pairs, F, e0, e1, options));
    expected = log.text();
  }
  {
    std::lock_guard lock(processRandMutex());
    processRandSequence().next();
  }
  for (int round = 0; round < 2; ++round) {
    testing::LogCapture log;  // the command's log goes to its own stream all the same
    const Outcome classic = run({"calibrate", "--method", "classic", path.c_str()});
    ASSERT_EQ(classic.status, 0) << classic.err;
    EXPECT_EQ(classic.err, expected);
    EXPECT_EQ(log.text(), "");
    Matrix3x3 f;
    std::copy(F.data(), F.data() + 9, f.begin());
    EXPECT_TRUE(sameBits(textF(classic.out), f));
  }
  const Outcome json = run({"calibrate", "--method", "classic", path.c_str(), "--format", "json"});
  EXPECT_EQ(readPairBytes(json.out, "classic").session.method, "classic");
}

TEST_F(CalibrateCommand, FailuresEndWithTheirStatusAndOneMessageAndNoOutput) {
  const std::string good = write("good.txt", pairText(pairs.size()));
  const std::string seven = write("seven.txt", pairText(7));
  const std::string bad = write("bad.txt", "1 2 3 4\n5 6 7 8\n9 10 eleven 12\n");
  std::string collinear, identical;
  for (int i = 1; i <= 12; ++i) {
    collinear += std::to_string(i) + " " + std::to_string(2 * i) + " " + std::to_string(3 * i) +
                 " " + std::to_string(i + 5) + "\n";
    identical += "10 20 30 40\n";
  }
  const std::string line = write("line.txt", collinear);
  const std::string same = write("same.txt", identical);
  const std::string missing = (std::filesystem::path(good).parent_path() / "none.txt").string();
  struct Case {
    std::vector<const char*> args;
    int status;
    const char* message;  // in standard error
  };
  const Case cases[] = {
      // Usage: CLI11's own errors and ours, all 2.
      {{"calibrate"}, 2, "PAIRS is required"},
      {{"calibrate", good.c_str(), "extra.txt"}, 2, "extra.txt"},
      {{"calibrate", "--method", "fast", good.c_str()}, 2, "fast"},
      {{"calibrate", "--format", "yaml", good.c_str()}, 2, "yaml"},
      {{"calibrate", "--threshold", "wide", good.c_str()}, 2, "wide"},
      {{"calibrate", "--threshold", "0", good.c_str()}, 2, "positive number of pixels"},
      {{"calibrate", "--threshold", "nan", good.c_str()}, 2, "positive number of pixels"},
      {{"calibrate", "--method", "classic", "--threshold", "2", good.c_str()}, 2, "accurate"},
      {{"--virtual", "calibrate", good.c_str()}, 2, "--virtual"},
      {{"--assist", "calibrate", good.c_str()}, 2, "--assist"},
      {{"calibrate", good.c_str(), "--images", "l.png", "r.png"}, 2, "--images"},
      // Input that cannot be read or is malformed: 2, naming the file and the line.
      {{"calibrate", missing.c_str()}, 2, "none.txt: cannot be read"},
      {{"calibrate", bad.c_str()}, 2, "bad.txt: line 3: "},
      {{"calibrate", "-"}, 2, "standard input: line 1: "},
      // No calibration: 1, with either method.
      {{"calibrate", seven.c_str()}, 1, "7 pairs in "},
      {{"calibrate", "--method", "classic", seven.c_str()}, 1, "at least 8 are needed"},
      {{"calibrate", line.c_str()}, 1, "no model found"},
      {{"calibrate", "--method", "classic", same.c_str()}, 1, "no model found"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const char* arg : c.args) shown += std::string(arg) + " ";
    SCOPED_TRACE(shown);
    const Outcome outcome = run(c.args, "not a pair\n");
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
  }

  const Outcome unwritable = run({"calibrate", good.c_str()}, "", true);
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find("cannot be written"), std::string::npos) << unwritable.err;

  const Outcome help = run({"calibrate", "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* needle : {"PAIRS", "--method", "--threshold", "--format", "Exit status"})
    EXPECT_NE(help.out.find(needle), std::string::npos) << needle;
}

}  // namespace
}  // namespace epipolar
