#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace epipolar {
namespace {

struct Parsed {
  CommandLineResult result;
  std::string out;
  std::string err;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "epipolar");
  std::ostringstream out;
  std::ostringstream err;
  Parsed parsed;
  parsed.result = parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(CommandLine, NoArgumentsMeansTheCaptureDevicesAndNothingPrinted) {
  Parsed parsed = parse({});
  ASSERT_TRUE(parsed.result.options);
  EXPECT_EQ(parsed.result.options->source, CommandLine::Source::Devices);
  EXPECT_FALSE(parsed.result.options->printRig);
  EXPECT_FALSE(parsed.result.options->listDevices);
  EXPECT_EQ(parsed.result.options->options, Options{}) << "the classic program";
  EXPECT_EQ(parsed.out, "");
  EXPECT_EQ(parsed.err, "");
}

TEST(CommandLine, EachSourceOptionSelectsItsSource) {
  Parsed virtualRig = parse({"--virtual"});
  ASSERT_TRUE(virtualRig.result.options);
  EXPECT_EQ(virtualRig.result.options->source, CommandLine::Source::Virtual);

  Parsed pipelines = parse({"--source", "videotestsrc", "--source", "videotestsrc pattern=ball"});
  ASSERT_TRUE(pipelines.result.options);
  EXPECT_EQ(pipelines.result.options->source, CommandLine::Source::Pipelines);
  EXPECT_EQ(pipelines.result.options->pipelines,
            (std::vector<std::string>{"videotestsrc", "videotestsrc pattern=ball"}));

  Parsed images = parse({"--images", "left.png", "right.png"});
  ASSERT_TRUE(images.result.options);
  EXPECT_EQ(images.result.options->source, CommandLine::Source::Images);
  EXPECT_EQ(images.result.options->leftImage, "left.png");
  EXPECT_EQ(images.result.options->rightImage, "right.png");

  Parsed info = parse({"--print-rig", "--list-devices"});
  ASSERT_TRUE(info.result.options);
  EXPECT_TRUE(info.result.options->printRig);
  EXPECT_TRUE(info.result.options->listDevices);
}

TEST(CommandLine, AssistGoesIntoTheRunsOptionsWithAnySource) {
  Parsed parsed = parse({"--virtual", "--assist"});
  ASSERT_TRUE(parsed.result.options);
  EXPECT_EQ(parsed.result.options->source, CommandLine::Source::Virtual);
  EXPECT_TRUE(parsed.result.options->options.assist);
  EXPECT_EQ(parsed.result.options->options.pairsFile, "");

  Parsed withPairs = parse({"--assist", "--pairs", "pairs.txt"});
  ASSERT_TRUE(withPairs.result.options);
  EXPECT_EQ(withPairs.result.options->options.pairsFile, "pairs.txt");
}

TEST(CommandLine, HelpListsEveryMouseButtonAndKeyAndEndsWithZero) {
  Parsed parsed = parse({"--help"});
  EXPECT_FALSE(parsed.result.options);
  EXPECT_EQ(parsed.result.exitStatus, 0);
  for (const char* needle :
       {"--virtual",   "--source",      "--images",    "--print-rig",     "--list-devices",
        "--version",   "--assist",      "--pairs",     "assisted mode: ", "left click",
        "right click", "middle click",  "Left, Right", "1 ... 9",         "\n  C ",
        "\n  E ",      "\n  P ",        "\n  X ",      "any other key",   "Ball Display",
        "cams.conf",   "\n  calibrate "}) {
    EXPECT_NE(parsed.out.find(needle), std::string::npos) << needle;
  }
}

TEST(CommandLine, VersionPrintsTheProgramVersion) {
  Parsed parsed = parse({"--version"});
  EXPECT_FALSE(parsed.result.options);
  EXPECT_EQ(parsed.result.exitStatus, 0);
  EXPECT_EQ(parsed.out.rfind("epipolar ", 0), 0u) << parsed.out;
}

TEST(CommandLine, UsageErrorsAreRefusedWithANonZeroStatus) {
  for (const std::vector<const char*>& args :
       {std::vector<const char*>{"--images", "only-one.png"},
        std::vector<const char*>{"--virtual", "--source", "videotestsrc"},
        std::vector<const char*>{"--source", "a", "--images", "l.png", "r.png"},
        std::vector<const char*>{"--no-such-option"},
        std::vector<const char*>{"--pairs", "pairs.txt"},  // only with --assist
        std::vector<const char*>{"stray"}}) {
    Parsed parsed = parse(args);
    EXPECT_FALSE(parsed.result.options) << args[0];
    EXPECT_NE(parsed.result.exitStatus, 0) << args[0];
    EXPECT_NE(parsed.err, "") << args[0];
  }
}

}  // namespace
}  // namespace epipolar
