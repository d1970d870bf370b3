#include "capture/gstreamer/PngFile.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "capture/gstreamer/GstRuntime.h"
#include "fileio/SaveFile.h"

namespace epipolar {
namespace {

using gst::GstPtr;
using gst::MessagePtr;
using gst::SamplePtr;

constexpr auto kEncodeTimeout = std::chrono::seconds(10);
constexpr auto kPullSlice = std::chrono::milliseconds(20);

// Pushes one raw frame (`caps` describes it; `frame` holds its rows with GStreamer's default
// stride) through `chain` and collects the one encoded buffer that comes out of the sink.
bool encode(const char* chain,
            const std::string& caps,
            const std::vector<std::uint8_t>& frame,
            std::vector<std::uint8_t>& png,
            std::string& error) {
  gst::ensureGstInitialised();
  std::string detail;
  GstPtr<GstElement> pipeline = gst::parsePipeline(chain, detail);
  if (!pipeline) {
    error = "the PNG encoder could not be built" + detail;
    return false;
  }
  GstPtr<GstElement> source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "source"));
  GstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  GstCaps* frameCaps = gst_caps_from_string(caps.c_str());
  if (!source || !sink || frameCaps == nullptr) {
    if (frameCaps != nullptr) gst_caps_unref(frameCaps);
    error = "the PNG encoder could not be built";
    return false;
  }
  gst_app_src_set_caps(GST_APP_SRC(source.get()), frameCaps);
  gst_caps_unref(frameCaps);

  GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
  if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    error = "the PNG encoder could not start";
    return false;
  }
  // A copy in GStreamer's own memory: the streaming thread frees it, and nothing of ours
  // runs there.
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, frame.size(), nullptr);
  if (buffer == nullptr) {
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    error = "no memory for the picture";
    return false;
  }
  gst_buffer_fill(buffer, 0, frame.data(), frame.size());
  GST_BUFFER_PTS(buffer) = 0;
  gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer);  // takes the buffer
  gst_app_src_end_of_stream(GST_APP_SRC(source.get()));

  SamplePtr sample;
  const auto deadline = std::chrono::steady_clock::now() + kEncodeTimeout;
  while (error.empty() && !sample) {
    sample.reset(gst_app_sink_try_pull_sample(
        GST_APP_SINK(sink.get()), static_cast<GstClockTime>(kPullSlice.count()) * GST_MSECOND));
    if (sample) break;
    MessagePtr message(gst_bus_pop_filtered(
        bus.get(), static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)));
    if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
      error = "the PNG encoder failed (" + gst::describeErrorMessage(message.get()) + ")";
    } else if (message || gst_app_sink_is_eos(GST_APP_SINK(sink.get()))) {
      error = "the PNG encoder gave no picture";
    } else if (std::chrono::steady_clock::now() >= deadline) {
      error = "the PNG encoder gave no picture within 10 s";
    }
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  if (!sample) return false;
  GstBuffer* encoded = gst_sample_get_buffer(sample.get());
  GstMapInfo map;
  if (encoded == nullptr || !gst_buffer_map(encoded, &map, GST_MAP_READ)) {
    error = "the PNG encoder gave no picture";
    return false;
  }
  png.assign(map.data, map.data + map.size);
  gst_buffer_unmap(encoded, &map);
  return true;
}

// GStreamer's default row stride for packed formats: whole rows rounded up to 4 bytes.
size_t stride(int bytesPerRow) { return (static_cast<size_t>(bytesPerRow) + 3) & ~size_t{3}; }

std::string rawCaps(const char* format, int width, int height) {
  return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(width) +
         ",height=" + std::to_string(height) + ",framerate=0/1";
}

bool writeEncoded(const std::string& path,
                  bool encoded,
                  const std::vector<std::uint8_t>& png,
                  std::string& error) {
  if (!encoded) {
    error = "Cannot write " + path + ": " + error;
    return false;
  }
  if (!saveFile(path,
                std::string_view(reinterpret_cast<const char*>(png.data()), png.size()),
                Sync::kNo)) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool encodePng(const Image& image, std::vector<std::uint8_t>& png, std::string& error) {
  error.clear();
  if (image.width <= 0 || image.height <= 0) {
    error = "the picture has no pixels";
    return false;
  }
  // BGR rows, top row first: the Image's own stride is GStreamer's for BGR.
  const size_t rowBytes = stride(3 * image.width);
  std::vector<std::uint8_t> frame(rowBytes * static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(&frame[static_cast<size_t>(y) * rowBytes],
                image.row(y),
                3 * static_cast<size_t>(image.width));
  }
  return encode(
      "appsrc name=source format=time ! videoconvert ! pngenc ! appsink name=sink sync=false",
      rawCaps("BGR", image.width, image.height),
      std::move(frame),
      png,
      error);
}

bool encodePng16(int width,
                 int height,
                 std::span<const std::uint16_t> values,
                 std::vector<std::uint8_t>& png,
                 std::string& error) {
  error.clear();
  if (width <= 0 || height <= 0) {
    error = "the picture has no pixels";
    return false;
  }
  if (values.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
    error = "the values do not fill a " + std::to_string(width) + "x" + std::to_string(height) +
            " picture";
    return false;
  }
  // PNG stores 16-bit samples big-endian; so does GRAY16_BE, which pngenc takes as it is.
  const size_t rowBytes = stride(2 * width);
  std::vector<std::uint8_t> frame(rowBytes * static_cast<size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = &frame[static_cast<size_t>(y) * rowBytes];
    for (int x = 0; x < width; ++x) {
      const std::uint16_t v = values[static_cast<size_t>(y) * width + x];
      row[2 * x] = static_cast<std::uint8_t>(v >> 8);
      row[2 * x + 1] = static_cast<std::uint8_t>(v & 0xFF);
    }
  }
  return encode("appsrc name=source format=time ! pngenc ! appsink name=sink sync=false",
                rawCaps("GRAY16_BE", width, height),
                frame,
                png,
                error);
}

bool writePngFile(const std::string& path, const Image& image, std::string& error) {
  std::vector<std::uint8_t> png;
  const bool encoded = encodePng(image, png, error);
  return writeEncoded(path, encoded, png, error);
}

bool writePng16File(const std::string& path,
                    int width,
                    int height,
                    std::span<const std::uint16_t> values,
                    std::string& error) {
  std::vector<std::uint8_t> png;
  const bool encoded = encodePng16(width, height, values, png, error);
  return writeEncoded(path, encoded, png, error);
}

}  // namespace epipolar
