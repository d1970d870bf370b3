#include "capture/Snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh temporary working directory, since snapshot files are named
// relative to it.
class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    char pattern[] = "/tmp/epipolar-snapshot-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    fs::current_path(directory_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::permissions(directory_, fs::perms::owner_all, ignored);
    fs::remove_all(directory_, ignored);
  }

  fs::path previous_;
  fs::path directory_;
};

std::vector<std::uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A picture whose every pixel differs from its neighbours, so row order and stride errors
// show up in a pixel comparison.
std::unique_ptr<Image> patterned(int width, int height, int seed) {
  auto image = Image::blank(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image->row(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x * 7 + seed);
      p[1] = static_cast<std::uint8_t>(y * 13 + seed);
      p[2] = static_cast<std::uint8_t>((x ^ y) + seed);
    }
  }
  return image;
}

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, int at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// Standard error redirected into a file for the lifetime of the object.
class StderrCapture {
 public:
  StderrCapture()
      : path_(fs::temp_directory_path() / ("epipolar-stderr-" + std::to_string(::getpid()))) {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    FILE* file = std::fopen(path_.c_str(), "w");
    ::dup2(::fileno(file), STDERR_FILENO);
    std::fclose(file);
  }
  ~StderrCapture() {
    restore();
    fs::remove(path_);
  }
  std::string text() {
    restore();
    const auto bytes = readFile(path_);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  fs::path path_;
  int saved_ = -1;
};

TEST(SnapshotFileName, IsNamedByCameraId) {
  EXPECT_EQ(snapshotFileName(0), "pic0.bmp");
  EXPECT_EQ(snapshotFileName(1), "pic1.bmp");
  EXPECT_EQ(snapshotFileName(12), "pic12.bmp");
}

TEST_F(SnapshotTest, NothingIsWrittenWithoutARequest) {
  Snapshot snapshot;
  auto frame = patterned(8, 4, 0);
  EXPECT_FALSE(snapshot.writeIfRequested(*frame, 0));
  EXPECT_FALSE(fs::exists("pic0.bmp"));
}

TEST_F(SnapshotTest, TwoRequestsBeforeOneFrameWriteOneFileAndOneLogLine) {
  testing::LogCapture log;
  Snapshot snapshot;
  snapshot.request();
  snapshot.request();
  EXPECT_TRUE(snapshot.pending());
  auto frame = patterned(641, 3, 1);
  EXPECT_TRUE(snapshot.writeIfRequested(*frame, 1));
  EXPECT_FALSE(snapshot.pending());
  EXPECT_FALSE(snapshot.writeIfRequested(*patterned(641, 3, 2), 1));

  EXPECT_EQ(log.lines(), std::vector<std::string>{"Writing image pic1.bmp"});
  const auto bytes = readFile("pic1.bmp");
  ASSERT_EQ(bytes.size(), frame->size);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), frame->data.get()));
  // Width 641 pads each row to 1924 bytes.
  EXPECT_EQ(le32(bytes, 34), 1924u * 3);
  // Only the finished file is left: no temporary beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

TEST_F(SnapshotTest, FullSizeFrameHasTheExpectedHeader) {
  Snapshot snapshot;
  snapshot.request();
  ASSERT_TRUE(snapshot.writeIfRequested(*Image::blank(640, 480), 0));
  const auto bytes = readFile("pic0.bmp");
  ASSERT_EQ(bytes.size(), 921654u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(le32(bytes, 2), 921654u);
  EXPECT_EQ(le32(bytes, 10), 54u);
  EXPECT_EQ(le32(bytes, 18), 640u);
  EXPECT_EQ(le32(bytes, 22), 480u);
  EXPECT_EQ(le32(bytes, 34), 921600u);
}

TEST_F(SnapshotTest, SecondSnapshotReplacesTheFirst) {
  Snapshot snapshot;
  snapshot.request();
  ASSERT_TRUE(snapshot.writeIfRequested(*patterned(16, 16, 3), 0));
  auto second = patterned(8, 2, 9);
  snapshot.request();
  ASSERT_TRUE(snapshot.writeIfRequested(*second, 0));
  const auto bytes = readFile("pic0.bmp");
  ASSERT_EQ(bytes.size(), second->size);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), second->data.get()));
}

TEST_F(SnapshotTest, CamerasWriteTheirOwnFiles) {
  Snapshot left, right;
  left.request();
  right.request();
  EXPECT_TRUE(left.writeIfRequested(*patterned(4, 4, 0), 0));
  EXPECT_TRUE(right.writeIfRequested(*patterned(4, 4, 0), 1));
  EXPECT_TRUE(fs::exists("pic0.bmp"));
  EXPECT_TRUE(fs::exists("pic1.bmp"));
}

// An independent decoder must read the file back to the same pixels: catches header fields,
// row order and stride mistakes that a byte-for-byte round trip through our own code hides.
TEST_F(SnapshotTest, ImageMagickReadsBackTheSamePixels) {
  if (std::system("identify -version > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ImageMagick is not installed";
  }
  const int width = 641, height = 5;
  auto frame = patterned(width, height, 4);
  Snapshot snapshot;
  snapshot.request();
  ASSERT_TRUE(snapshot.writeIfRequested(*frame, 0));

  ASSERT_EQ(std::system("identify -format '%w %h' pic0.bmp > size.txt"), 0);
  const auto size = readFile("size.txt");
  EXPECT_EQ(std::string(size.begin(), size.end()), "641 5");

  // Raw RGB, rows top to bottom, no padding.
  ASSERT_EQ(std::system("convert pic0.bmp -depth 8 rgb:pixels.rgb"), 0);
  const auto rgb = readFile("pixels.rgb");
  ASSERT_EQ(rgb.size(), static_cast<std::size_t>(width * height * 3));
  int mismatches = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* bgr = frame->row(y) + 3 * x;
      const std::uint8_t* decoded = &rgb[3 * (y * width + x)];
      if (decoded[0] != bgr[2] || decoded[1] != bgr[1] || decoded[2] != bgr[0]) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Names a snapshot could once collide with, and a snapshot file that is a link.
TEST_F(SnapshotTest, LinksArePreservedAndPlantedTemporaryNamesBlockNothing) {
  // Left-over or planted names of the old fixed temporary file: a link to a file of the
  // user's, and a directory.
  std::ofstream("precious") << "keep";
  fs::create_symlink("precious", "pic0.bmp.part");
  fs::create_directory("pic1.bmp.part");
  // The snapshot of camera 1 is a link to a file elsewhere.
  fs::create_directory("shots");
  fs::create_symlink("shots/right.bmp", "pic1.bmp");
  Snapshot left, right;
  left.request();
  right.request();
  auto frame = patterned(8, 2, 5);
  testing::LogCapture log;
  StderrCapture errors;
  EXPECT_TRUE(left.writeIfRequested(*frame, 0));
  EXPECT_TRUE(right.writeIfRequested(*frame, 1));
  EXPECT_EQ(errors.text(), "");
  const std::vector<std::uint8_t> expected(frame->data.get(), frame->data.get() + frame->size);
  EXPECT_EQ(readFile("pic0.bmp"), expected);
  EXPECT_TRUE(fs::is_symlink("pic1.bmp"));
  EXPECT_EQ(readFile("shots/right.bmp"), expected);
  EXPECT_EQ(readFile("precious"), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(fs::is_symlink("pic0.bmp.part"));
  EXPECT_TRUE(fs::is_directory("pic1.bmp.part"));
}

TEST_F(SnapshotTest, FailedWriteIsReportedOnceAndTheRequestDropped) {
  // A working directory that no longer exists refuses every file, even for root.
  const fs::path gone = directory_ / "gone";
  fs::create_directory(gone);
  fs::current_path(gone);
  fs::remove(gone);
  testing::LogCapture log;
  Snapshot snapshot;
  StderrCapture errors;
  snapshot.request();
  for (int frame = 0; frame < 30; ++frame) {
    EXPECT_FALSE(snapshot.writeIfRequested(*patterned(4, 4, frame), 0));
  }
  EXPECT_EQ(errors.text(), "Could not write snapshot pic0.bmp: No such file or directory\n");
  EXPECT_FALSE(snapshot.pending());
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Writing image pic0.bmp"});

  // A later request tries again and succeeds once the directory is usable.
  fs::current_path(directory_);
  snapshot.request();
  EXPECT_TRUE(snapshot.writeIfRequested(*patterned(4, 4, 0), 0));
  EXPECT_TRUE(fs::exists("pic0.bmp"));
}

}  // namespace
}  // namespace epipolar
