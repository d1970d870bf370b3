#include "capture/gstreamer/FormatChoice.h"

#include <gtest/gtest.h>

#include <string>

namespace epipolar::gst {
namespace {

std::string fieldText(const CaptureFormat& format, const char* field) {
  const GValue* value =
      gst_structure_get_value(gst_caps_get_structure(format.caps.get(), 0), field);
  if (value == nullptr) return "";
  gchar* text = gst_value_serialize(value);
  std::string result = text;
  g_free(text);
  return result;
}

TEST(FormatChoice, FirstModeWiderThan600FromTheSmallestUp) {
  // In driver order and in GStreamer's largest-first order the 640 mode is chosen.
  for (const char* caps : {"video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
                           "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
                           "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1",
                           "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1;"
                           "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
                           "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1"}) {
    auto format = chooseCaptureFormat(caps);
    ASSERT_TRUE(format) << caps;
    EXPECT_EQ(format->width, 640);
    EXPECT_EQ(format->height, 480);
    EXPECT_TRUE(gst_caps_is_fixed(format->caps.get()));
  }
}

TEST(FormatChoice, NothingWhenNoModeIsWiderThan600) {
  EXPECT_FALSE(
      chooseCaptureFormat("video/x-raw,width=320,height=240;"
                          "video/x-raw,width=600,height=450;"
                          "video/x-raw,width=[160,600],height=[120,450]"));
  EXPECT_FALSE(chooseCaptureFormat("ANY"));
  EXPECT_FALSE(chooseCaptureFormat("EMPTY"));
  EXPECT_FALSE(chooseCaptureFormat("video/x-raw,format=BGR"));  // no width at all
}

TEST(FormatChoice, RangesAndListsGiveTheSmallestWidthAbove600) {
  auto range = chooseCaptureFormat("video/x-raw,width=[320,1920,16],height=[240,1080]");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->width, 608);   // 320 + 18 * 16, the first step past 600
  EXPECT_EQ(range->height, 456);  // nearest to 3/4 of the width
  auto plain = chooseCaptureFormat("video/x-raw,width=[601,4096],height=480");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->width, 601);
  auto list = chooseCaptureFormat("video/x-raw,width={1024,320,800},height=600");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->width, 800);
  // Stepped ranges hold multiples of their step only.
  auto stepped = chooseCaptureFormat("video/x-raw,width=[300,1200,300],height=480");
  ASSERT_TRUE(stepped);
  EXPECT_EQ(stepped->width, 900);
  EXPECT_FALSE(chooseCaptureFormat("video/x-raw,width=[200,600,200],height=240"));
  // A list mode of 800 beats a fixed mode of 1280; widths decide, not positions.
  auto mixed = chooseCaptureFormat(
      "video/x-raw,width=1280,height=720;video/x-raw,width={320,800},height=600");
  ASSERT_TRUE(mixed);
  EXPECT_EQ(mixed->width, 800);
}

TEST(FormatChoice, FrameRateIsAtMost30) {
  auto list = chooseCaptureFormat("video/x-raw,width=640,height=480,framerate={60/1,30/1,15/1}");
  ASSERT_TRUE(list);
  EXPECT_EQ(fieldText(*list, "framerate"), "30/1");
  auto range = chooseCaptureFormat("video/x-raw,width=640,height=480,framerate=[1/1,120/1]");
  ASSERT_TRUE(range);
  EXPECT_EQ(fieldText(*range, "framerate"), "30/1");
  auto slow = chooseCaptureFormat("video/x-raw,width=640,height=480,framerate=[1/1,25/1]");
  ASSERT_TRUE(slow);
  EXPECT_EQ(fieldText(*slow, "framerate"), "25/1");
  auto fast = chooseCaptureFormat("video/x-raw,width=640,height=480,framerate={90/1,60/1}");
  ASSERT_TRUE(fast);
  EXPECT_EQ(fieldText(*fast, "framerate"), "60/1");
}

TEST(FormatChoice, TiesKeepTheDeviceOrderAndKeepTheMediaType) {
  auto format = chooseCaptureFormat(
      "image/jpeg,width=640,height=480,framerate=30/1;"
      "video/x-raw,format={YUY2,NV12},width=640,height=480,framerate=30/1");
  ASSERT_TRUE(format);
  EXPECT_STREQ(gst_structure_get_name(gst_caps_get_structure(format->caps.get(), 0)), "image/jpeg");
  auto raw = chooseCaptureFormat("video/x-raw,format={YUY2,NV12},width=640,height=480");
  ASSERT_TRUE(raw);
  EXPECT_EQ(fieldText(*raw, "format"), "YUY2");
}

TEST(FormatChoice, LargestWidthReadsFixedRangeAndList) {
  CapsPtr caps(gst_caps_from_string(
      "video/x-raw,width=320;video/x-raw,width=[160,1920];video/x-raw,width={800,1024,640};"
      "video/x-raw"));
  EXPECT_EQ(largestWidth(gst_caps_get_structure(caps.get(), 0)), 320);
  EXPECT_EQ(largestWidth(gst_caps_get_structure(caps.get(), 1)), 1920);
  EXPECT_EQ(largestWidth(gst_caps_get_structure(caps.get(), 2)), 1024);
  EXPECT_EQ(largestWidth(gst_caps_get_structure(caps.get(), 3)), 0);
}

}  // namespace
}  // namespace epipolar::gst
