#include "capture/gstreamer/ImageFile.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "capture/gstreamer/GstRuntime.h"

namespace epipolar {
namespace {

namespace fs = std::filesystem;

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("image-file-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const void* bytes, std::size_t size) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary).write(static_cast<const char*>(bytes), size);
    return path.string();
  }

  // Runs a gst-launch style description to its end; false on an error.
  static bool runPipeline(const std::string& description) {
    gst::ensureGstInitialised();
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (pipeline == nullptr) return false;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    const bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
  }

  fs::path dir_;
};

// A picture of odd width (padded BMP rows) with a different colour in every pixel, saved as
// the BMP block itself and converted to PNG by GStreamer's encoder: both files read back
// pixel for pixel, rows the right way up.
TEST_F(ImageFileTest, BmpAndPngReadBackPixelForPixel) {
  constexpr int kWidth = 37, kHeight = 21;
  auto original = Image::blank(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* pixel = original->row(y) + 3 * x;
      pixel[0] = static_cast<std::uint8_t>(7 * x);          // blue
      pixel[1] = static_cast<std::uint8_t>(11 * y);         // green
      pixel[2] = static_cast<std::uint8_t>(3 * x + 5 * y);  // red
    }
  }
  const std::string bmp = write("picture.bmp", original->data.get(), original->size);
  const std::string png = (dir_ / "picture.png").string();
  ASSERT_TRUE(runPipeline("filesrc location=" + bmp +
                          " ! decodebin ! videoconvert ! pngenc ! filesink location=" + png));

  for (const std::string& path : {bmp, png}) {
    SCOPED_TRACE(path);
    const ImageFileResult result = loadImageFile(path);
    ASSERT_TRUE(result.image) << result.error;
    EXPECT_TRUE(result.error.empty());
    const Image& image = *result.image;
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    ASSERT_EQ(image.size, original->size);
    EXPECT_EQ(std::memcmp(image.data.get(), original->data.get(), original->size), 0);
  }
}

// Every kind of bad file gives no picture and one line that names the file and the reason
// (the decoder's own words may follow in parentheses).
TEST_F(ImageFileTest, BadFilesGiveOneClearLine) {
  std::string garbage(4096, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 17);
  // PNG signature followed by junk: the PNG decoder itself must fail, not only type detection.
  const std::string fakePng = "\x89PNG\r\n\x1a\n" + garbage;
  const std::string hugePng = (dir_ / "huge.png").string();
  ASSERT_TRUE(runPipeline(
      "videotestsrc num-buffers=1 ! video/x-raw,format=RGB,width=16385,height=2 ! pngenc ! "
      "filesink location=" +
      hugePng));

  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {write("garbage.png", garbage.data(), garbage.size()), "not a picture that can be decoded"},
      {write("fake.png", fakePng.data(), fakePng.size()), "not a picture that can be decoded"},
      {write("empty.jpg", "", 0), "the file is empty"},
      {(dir_ / "missing.png").string(), "No such file or directory"},
      {dir_.string(), "not a regular file"},
      {hugePng, "the picture is 16385x2 pixels, larger than the 16384x16384 that can be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const ImageFileResult result = loadImageFile(c.path);
    EXPECT_FALSE(result.image);
    EXPECT_TRUE(result.error.starts_with("Cannot read the picture '" + c.path + "': " + c.reason))
        << result.error;
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace epipolar
