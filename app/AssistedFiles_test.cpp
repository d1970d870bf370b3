// The assisted mode's pairs files: the --pairs file as one bulk addition, and the exit save of
// edits not yet exported. (The export itself, read back bit for bit and by OpenCV, is tested in
// tests/opencv/SessionExport_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/StereoApp.h"
#include "app/testing/AppFixture.h"
#include "session/PairReader.h"

namespace epipolar {
namespace {

using testing::AppFixture;
using testing::linesStartingWith;

Options assisted(const std::string& pairsFile = "") {
  Options options;
  options.assist = true;
  options.pairsFile = pairsFile;
  return options;
}

void writeText(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

class AssistedFiles : public AppFixture {
 protected:
  // Marks one pair with a click in each window.
  static void markPair(StereoApp& app, double x, double y) {
    app.addClick(app.cameraWnd0.get(), x, y);
    app.addClick(app.cameraWnd1.get(), x + 5, y);
  }
  static bool sessionFileExists() { return std::filesystem::exists(kSessionFileName); }
};

TEST_F(AssistedFiles, ThePairsFileIsAppendedAfterTheRestoreAsOneStepWithoutABox) {
  writeSettings("[Cam0]\nhasPoints=true\npt0x=1\npt0y=2\n\n[Cam1]\npt0x=3\npt0y=4\n");
  std::vector<Correspondence> filed;
  std::string text = "x0,y0,x1,y1\n# a header and a comment\n";
  for (int i = 0; i < 24; ++i) {
    filed.push_back({i + 0.25, 2.0 * i, i + 10.5, 2.0 * i});
    text += std::to_string(i + 0.25) + " " + std::to_string(2 * i) + " " +
            std::to_string(i + 10.5) + " " + std::to_string(2 * i) + "\n";
  }
  writeText("pairs.txt", text);

  MessageBoxScript boxes({IDYES});
  StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted("pairs.txt"));
  ASSERT_EQ(boxes.calls().size(), 1u) << "only the points question, no \"Calibration ready\"";
  const std::vector<Correspondence>& pairs = app.pairs().correspondences();
  ASSERT_EQ(pairs.size(), 25u);
  EXPECT_EQ(pairs[0], (Correspondence{1, 2, 3, 4}));
  EXPECT_TRUE(std::equal(filed.begin(), filed.end(), pairs.begin() + 1));
  EXPECT_EQ(linesStartingWith(log, "Added "),
            std::vector<std::string>{"Added 24 pairs from pairs.txt (25 in all)"});
  EXPECT_TRUE(linesStartingWith(log, "25 points reached").empty());

  // Clicks keep their line and box: pairs 26 to 30, the box at 30.
  for (int i = 0; i < 5; ++i) {
    app.addClick(app.cameraWnd0.get(), 10, 10 + i);
    app.addClick(app.cameraWnd1.get(), 20, 10 + i);
  }
  EXPECT_EQ(linesStartingWith(log, "30 points reached").size(), 1u);
  ASSERT_EQ(boxes.calls().size(), 2u);
  EXPECT_EQ(boxes.calls()[1].caption, "Calibration ready");
}

TEST_F(AssistedFiles, ABadPairsFileGetsTheReadersMessageLoadsNothingAndTheRunGoesOn) {
  writeText("bad.txt", "1 2 3 4\n5 6 7\n");
  for (const std::string name : {"bad.txt", "missing.txt"}) {
    log.clear();
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted(name));
    const std::vector<std::string> messages = linesStartingWith(log, name + ": ");
    ASSERT_EQ(messages.size(), 1u) << name;
    EXPECT_EQ(messages[0], readPairFile(name).error);
    EXPECT_TRUE(linesStartingWith(log, "Added ").empty()) << name;
    EXPECT_TRUE(app.pairs().correspondences().empty()) << name;
    markPair(app, 1, 2);
    EXPECT_EQ(linesStartingWith(log, "1 points reached").size(), 1u) << name;
  }
}

TEST_F(AssistedFiles, TheExitSaveWritesOnlyEditsNotYetExported) {
  writeText("pairs.txt", "1 2 3 4\n");
  {
    // Without --assist nothing new is ever written.
    StereoApp app(camera0.get(), camera1.get(), "cams.conf");
    markPair(app, 1, 2);
  }
  EXPECT_FALSE(sessionFileExists());
  {
    // What the start brought is in its files already; too few pairs to calibrate is no edit.
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted("pairs.txt"));
    app.calibrate();
  }
  EXPECT_FALSE(sessionFileExists());
  EXPECT_TRUE(linesStartingWith(log, "Saved the edits").empty());
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted());
    markPair(app, 7.25, 8);
  }
  const PairFile saved = readPairFile(kSessionFileName);
  ASSERT_TRUE(saved.ok()) << saved.error;
  EXPECT_EQ(saved.session.pairs, (std::vector<Correspondence>{{7.25, 8, 12.25, 8}}));
  EXPECT_EQ(linesStartingWith(log, "Saved the edits"),
            std::vector<std::string>{
                "Saved the edits not yet exported to epipolar-session.json (1 pair)"});

  std::filesystem::remove(kSessionFileName);
  {
    // Exported, then nothing changed: the exit writes nothing (the removed file stays away).
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted());
    markPair(app, 1, 2);
    app.exportSession();
    ASSERT_TRUE(sessionFileExists());
    std::filesystem::remove(kSessionFileName);
  }
  EXPECT_FALSE(sessionFileExists());
  {
    // A pair marked after the export is an edit again.
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted());
    app.exportSession();
    markPair(app, 1, 2);
  }
  EXPECT_TRUE(sessionFileExists());
  EXPECT_FALSE(std::filesystem::exists(kSessionBackupFileName)) << "the run's own export";

  // An earlier run's file that this run never exported is kept before the exit save.
  writeText(kSessionFileName, "an earlier export");
  log.clear();
  {
    StereoApp app(camera0.get(), camera1.get(), "cams.conf", assisted());
    markPair(app, 3, 4);
  }
  std::ifstream kept(kSessionBackupFileName);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "an earlier export");
  EXPECT_EQ(readPairFile(kSessionFileName).session.pairs,
            (std::vector<Correspondence>{{3, 4, 8, 4}}));
  EXPECT_EQ(linesStartingWith(log, "Kept the earlier "),
            std::vector<std::string>{
                "Kept the earlier epipolar-session.json as epipolar-session.previous.json"});
}

}  // namespace
}  // namespace epipolar
