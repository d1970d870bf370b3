#include "capture/gstreamer/GstRuntime.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "log/DebugStream.h"

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

void reportCaptureError(std::string_view line) {
  std::string text(line);
  // GStreamer's debug texts may span lines; the report stays one line.
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  text.push_back('\n');
  writeAll(STDERR_FILENO, text);
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

bool looksLikeBandwidthShortage(std::string_view errorText) {
  return errorText.find("No space left on device") != std::string_view::npos ||
         errorText.find("pool activation failed") != std::string_view::npos ||
         errorText.find("Failed to allocate required memory") != std::string_view::npos;
}

}  // namespace epipolar::gst
