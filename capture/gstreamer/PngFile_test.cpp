#include "capture/gstreamer/PngFile.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/gstreamer/GstRuntime.h"

namespace epipolar {
namespace {

// Decodes PNG bytes with GStreamer's own decoder into raw rows of `format` (BGR or GRAY16_BE),
// top row first, with the stride GStreamer gives them.
struct Decoded {
  int width = 0, height = 0, stride = 0;
  std::vector<std::uint8_t> bytes;
};

Decoded decode(const std::vector<std::uint8_t>& png, const char* format) {
  gst::ensureGstInitialised();
  const std::string chain =
      std::string(
          "appsrc name=source caps=image/png ! pngdec ! videoconvert ! video/x-raw,format=") +
      format + " ! appsink name=sink sync=false";
  gst::GstPtr<GstElement> pipeline(
      GST_ELEMENT(gst_object_ref_sink(gst_parse_launch(chain.c_str(), nullptr))));
  gst::GstPtr<GstElement> source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "source"));
  gst::GstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  GstBuffer* buffer = gst_buffer_new_memdup(png.data(), png.size());
  gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer);
  gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
  gst::SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND));
  Decoded out;
  if (sample) {
    GstVideoInfo info;
    gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()));
    out.width = GST_VIDEO_INFO_WIDTH(&info);
    out.height = GST_VIDEO_INFO_HEIGHT(&info);
    out.stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    GstMapInfo map;
    gst_buffer_map(gst_sample_get_buffer(sample.get()), &map, GST_MAP_READ);
    out.bytes.assign(map.data, map.data + map.size);
    gst_buffer_unmap(gst_sample_get_buffer(sample.get()), &map);
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return out;
}

TEST(PngFileTest, ColourAndSixteenBitPicturesDecodeToTheSameValues) {
  // Width 5: padded rows in the Image.
  auto image = Image::blank(5, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      std::uint8_t* p = image->row(y) + 3 * static_cast<std::ptrdiff_t>(x);
      p[0] = static_cast<std::uint8_t>(40 * x);        // blue
      p[1] = static_cast<std::uint8_t>(100 + 50 * y);  // green
      p[2] = static_cast<std::uint8_t>(255 - 7 * x);   // red
    }
  }
  std::vector<std::uint8_t> png;
  std::string error;
  ASSERT_TRUE(encodePng(*image, png, error)) << error;
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));
  const Decoded colour = decode(png, "BGR");
  ASSERT_EQ(colour.width, 5);
  ASSERT_EQ(colour.height, 3);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(0,
              std::memcmp(&colour.bytes[static_cast<size_t>(y) * colour.stride], image->row(y), 15))
        << "row " << y;
  }

  const std::vector<std::uint16_t> values = {0, 1, 255, 256, 3152, 65535};
  ASSERT_TRUE(encodePng16(3, 2, values, png, error)) << error;
  const Decoded grey = decode(png, "GRAY16_BE");
  ASSERT_EQ(grey.width, 3);
  ASSERT_EQ(grey.height, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t* p = &grey.bytes[static_cast<size_t>(y) * grey.stride + 2 * x];
      EXPECT_EQ((p[0] << 8) | p[1], values[static_cast<size_t>(y) * 3 + x]) << x << ", " << y;
    }
  }
}

TEST(PngFileTest, FailuresSayWhyAndLeaveEarlierFilesAlone) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("png_file_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "map.png").string();
  std::string error;
  ASSERT_TRUE(writePng16File(path, 2, 1, std::vector<std::uint16_t>{7, 9}, error)) << error;
  const auto size = std::filesystem::file_size(path);

  EXPECT_FALSE(writePng16File(path, 2, 2, std::vector<std::uint16_t>{7, 9}, error));
  EXPECT_EQ(error, "Cannot write " + path + ": the values do not fill a 2x2 picture");
  EXPECT_FALSE(writePngFile(path, *Image::blank(0, 0), error));
  EXPECT_EQ(error, "Cannot write " + path + ": the picture has no pixels");
  EXPECT_EQ(std::filesystem::file_size(path), size);

  const std::string nowhere = (dir / "missing" / "map.png").string();
  EXPECT_FALSE(writePngFile(nowhere, *Image::blank(4, 4), error));
  EXPECT_EQ(error, "Cannot write " + nowhere + ": No such file or directory");
  EXPECT_FALSE(std::filesystem::exists(nowhere));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no .part left
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace epipolar
