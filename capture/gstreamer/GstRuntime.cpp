#include "capture/gstreamer/GstRuntime.h"

#include <cstring>
#include <mutex>

namespace epipolar::gst {

void ensureGstInitialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_init(nullptr, nullptr);
    // Ranked "none" upstream, so decodebin would never choose it; it is the only BMP decoder.
    if (GstPluginFeature* pixbuf = GST_PLUGIN_FEATURE(gst_element_factory_find("gdkpixbufdec"))) {
      if (gst_plugin_feature_get_rank(pixbuf) < GST_RANK_MARGINAL) {
        gst_plugin_feature_set_rank(pixbuf, GST_RANK_MARGINAL);
      }
      gst_object_unref(pixbuf);
    }
  });
}

GstPtr<GstElement> parsePipeline(const char* chain, std::string& detail) {
  detail.clear();
  GError* parseError = nullptr;
  GstElement* parsed =
      gst_parse_launch_full(chain, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
  if (parseError != nullptr || parsed == nullptr) {
    if (parseError != nullptr) {
      detail = std::string(" (") + parseError->message + ")";
      g_error_free(parseError);
    }
    if (parsed != nullptr) gst_object_unref(gst_object_ref_sink(parsed));
    return nullptr;
  }
  return GstPtr<GstElement>(GST_ELEMENT(gst_object_ref_sink(parsed)));
}

std::string describeErrorMessage(GstMessage* message) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    gst_message_parse_error(message, &error, &debug);
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING) {
    gst_message_parse_warning(message, &error, &debug);
  }
  std::string text = error != nullptr ? error->message : "unknown error";
  if (debug != nullptr) {
    text += " (";
    text += debug;
    text += ")";
  }
  if (error != nullptr) g_error_free(error);
  g_free(debug);
  return text;
}

std::unique_ptr<Image> imageFromBgrRows(const std::uint8_t* rows,
                                        int rowStride,
                                        int width,
                                        int height) {
  const std::int32_t stride = bmpRowStride(width);
  const std::uint32_t pixelBytes =
      static_cast<std::uint32_t>(stride) * static_cast<std::uint32_t>(height);
  const std::uint32_t size = pixelBytes + kBmpHeaderSize;
  auto image = std::make_unique<Image>(width, height, nullptr, 0, kBmpHeaderSize);
  image->data.reset(new std::uint8_t[size]);
  image->size = size;
  std::uint8_t* block = image->data.get();
  writeBmpHeader(block, width, height, pixelBytes);

  // GStreamer rows run top-down with their own stride; BMP rows run bottom-up.
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* target =
        block + kBmpHeaderSize + static_cast<std::size_t>(height - 1 - y) * stride;
    std::memcpy(target, rows + static_cast<std::ptrdiff_t>(y) * rowStride, rowBytes);
    std::memset(target + rowBytes, 0, stride - rowBytes);
  }
  return image;
}

bool looksLikeBandwidthShortage(std::string_view errorText) {
  return errorText.find("No space left on device") != std::string_view::npos ||
         errorText.find("pool activation failed") != std::string_view::npos ||
         errorText.find("Failed to allocate required memory") != std::string_view::npos;
}

}  // namespace epipolar::gst
