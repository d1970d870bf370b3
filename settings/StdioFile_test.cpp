#include "settings/StdioFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace epipolar {
namespace {

namespace fs = std::filesystem;

std::string scratchFile(const std::string& content) {
  std::string pattern = (fs::temp_directory_path() / "epipolar-stdio-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  EXPECT_GE(fd, 0);
  ::close(fd);
  std::ofstream(pattern, std::ios::binary) << content;
  return pattern;
}

std::vector<std::string> allLines(StdioFile& file) {
  std::vector<std::string> lines;
  while (!file.atEnd()) lines.push_back(file.readLine());
  return lines;
}

TEST(StdioFile, EveryLineEndsInOneLineFeedWhateverItsEnding) {
  const std::string path = scratchFile("a\nb\r\nc\r\r\n\nlast\r");
  StdioFile file(path, "r+");
  ASSERT_TRUE(file.isOpen());
  EXPECT_EQ(allLines(file), (std::vector<std::string>{"a\n", "b\n", "c\n", "\n", "last\n"}));
  EXPECT_FALSE(file.readFailed());
  fs::remove(path);
}

TEST(StdioFile, AReadAtTheEndGivesALoneLineFeed) {
  const std::string path = scratchFile("x\n");
  StdioFile file(path, "r");
  EXPECT_EQ(allLines(file), (std::vector<std::string>{"x\n", "\n"}));
  EXPECT_FALSE(file.writable());
  fs::remove(path);
}

TEST(StdioFile, OverlongLinesAreSkippedWholeAndCounted) {
  const std::string path = scratchFile("a\n" + std::string(kMaxLineLength * 3, 'z') + "\nb\n" +
                                       std::string(kMaxLineLength + 1, 'y'));
  StdioFile file(path, "r");
  EXPECT_EQ(allLines(file), (std::vector<std::string>{"a\n", "b\n", "\n"}));
  EXPECT_EQ(file.longLines(), 2u);
  fs::remove(path);
}

TEST(StdioFile, WithoutAStreamEveryOperationIsHarmless) {
  StdioFile file("/nonexistent-dir/cams.conf", "r+");
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(file.openError(), ENOENT);
  EXPECT_TRUE(file.atEnd());
  EXPECT_EQ(file.readLine(), "");
  char buffer[4];
  EXPECT_EQ(file.read(buffer, 4), -1);
  EXPECT_EQ(file.write("abc", 3), -1);
  file.seek(0, SEEK_SET);
  file.flush();
  EXPECT_FALSE(file.writable());
  EXPECT_FALSE(file.replaceContent("x"));
}

TEST(StdioFile, ReadWriteSeekAndReset) {
  const std::string path = scratchFile("hello");
  StdioFile file(path, "r+");
  char buffer[5];
  EXPECT_EQ(file.read(buffer, 5), 1);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(file.read(buffer, 1), 0);
  file.seek(0, SEEK_SET);
  EXPECT_EQ(file.write("J", 1), 1);
  EXPECT_EQ(file.write("", 0), 0);
  file.flush();
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "Jello");

  EXPECT_EQ(file.reset(3), 3);
  EXPECT_TRUE(file.isOpen());
  // Reset deletes the file; "r+" never creates it again.
  EXPECT_EQ(file.reset(0), 0);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(file.isOpen());
}

}  // namespace
}  // namespace epipolar
