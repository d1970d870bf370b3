#include "capture/gstreamer/ImageFile.h"

#include <fcntl.h>
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

#include "capture/gstreamer/GstRuntime.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

using gst::CapsPtr;
using gst::GstPtr;
using gst::MessagePtr;
using gst::SamplePtr;

// The caps filter bounds the size, so that a small file whose header claims a huge picture
// fails to negotiate before the decoder allocates the frame.
constexpr const char* kDecodeChain =
    "filesrc name=file ! decodebin ! videoconvert name=convert "
    "! video/x-raw,format=BGR,width=[1,16384],height=[1,16384] "
    "! appsink name=sink sync=false max-buffers=1 enable-last-sample=false";
static_assert(kMaxImageFileSide == 16384, "the caps string above spells the limit out");

constexpr auto kPullSlice = std::chrono::milliseconds(20);

// The size the decoder announced, seen on the converter's input before the size bound
// applies: it names the size when the bound refuses a picture. Written on a streaming thread,
// read after the pipeline has stopped; both sides pass announceMutex. GStreamer hands work to
// its pooled streaming threads through GLib primitives that ThreadSanitizer cannot see, so
// the lock also makes that ordering visible. It is process-wide so that it exists before any
// streaming thread does.
std::mutex announceMutex;
struct AnnouncedSize {
  int width = 0;   // guarded by announceMutex
  int height = 0;  // guarded by announceMutex
};

GstPadProbeReturn noteCaps(GstPad*, GstPadProbeInfo* info, gpointer data) {
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event != nullptr && GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const GstStructure* s =
        caps != nullptr && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    int width = 0, height = 0;
    if (s != nullptr && gst_structure_get_int(s, "width", &width) &&
        gst_structure_get_int(s, "height", &height)) {
      std::lock_guard lock(announceMutex);
      auto* size = static_cast<AnnouncedSize*>(data);
      size->width = width;
      size->height = height;
    }
  }
  return GST_PAD_PROBE_OK;
}

// The message's own text, without GStreamer's debug detail (source file and element path).
std::string messageText(GstMessage* message) {
  GError* error = nullptr;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    gst_message_parse_error(message, &error, nullptr);
  } else {
    gst_message_parse_warning(message, &error, nullptr);
  }
  std::string text = error != nullptr ? error->message : "unknown error";
  if (error != nullptr) g_error_free(error);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  return text;
}

// Reads the first frame. Returns an empty string on success, else the reason.
std::string decodeFirstFrame(const std::string& path,
                             std::chrono::milliseconds timeout,
                             std::unique_ptr<Image>& image) {
  gst::ensureGstInitialised();
  std::string detail;
  GstPtr<GstElement> pipeline = gst::parsePipeline(kDecodeChain, detail);
  if (!pipeline) return "the decoder could not be built" + detail;
  GstPtr<GstElement> file(gst_bin_get_by_name(GST_BIN(pipeline.get()), "file"));
  GstPtr<GstElement> convert(gst_bin_get_by_name(GST_BIN(pipeline.get()), "convert"));
  GstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  GstPtr<GstPad> convertInput(convert ? gst_element_get_static_pad(convert.get(), "sink")
                                      : nullptr);
  if (!file || !sink || !convertInput) return "the decoder could not be built";
  g_object_set(file.get(), "location", path.c_str(), nullptr);

  AnnouncedSize announced;
  { std::lock_guard lock(announceMutex); }  // publishes `announced` to the streaming thread
  gst_pad_add_probe(
      convertInput.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &noteCaps, &announced, nullptr);

  GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
  std::string reason;
  std::string warning;
  SamplePtr sample;
  if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    reason = "the decoder could not start";
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (reason.empty() && !sample) {
    sample.reset(gst_app_sink_try_pull_sample(
        GST_APP_SINK(sink.get()), static_cast<GstClockTime>(kPullSlice.count()) * GST_MSECOND));
    if (sample) break;
    MessagePtr message(gst_bus_pop_filtered(
        bus.get(),
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_EOS)));
    if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_WARNING) {
      warning = messageText(message.get());
    } else if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
      reason = "not a picture that can be decoded (" + messageText(message.get()) + ")";
    } else if (message || gst_app_sink_is_eos(GST_APP_SINK(sink.get()))) {
      // Decoders that meet a damaged picture may only warn and then end the stream.
      reason = "not a picture that can be decoded (" +
               (warning.empty() ? std::string("the data ended before a whole picture") : warning) +
               ")";
    } else if (std::chrono::steady_clock::now() >= deadline) {
      reason = "no picture within " + std::to_string(timeout.count()) + " ms";
    }
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);

  int announcedWidth = 0, announcedHeight = 0;
  {
    std::lock_guard lock(announceMutex);
    announcedWidth = announced.width;
    announcedHeight = announced.height;
  }
  if (announcedWidth > kMaxImageFileSide || announcedHeight > kMaxImageFileSide) {
    return "the picture is " + std::to_string(announcedWidth) + "x" +
           std::to_string(announcedHeight) + " pixels, larger than the " +
           std::to_string(kMaxImageFileSide) + "x" + std::to_string(kMaxImageFileSide) +
           " that can be read";
  }
  if (!reason.empty()) return reason;

  GstVideoInfo info;
  GstCaps* caps = gst_sample_get_caps(sample.get());
  GstBuffer* buffer = gst_sample_get_buffer(sample.get());
  if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps) ||
      GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR) {
    return "the decoder gave no usable frame";
  }
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
    return "the decoded frame could not be read";
  }
  image =
      gst::imageFromBgrRows(static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                            GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
                            GST_VIDEO_INFO_WIDTH(&info),
                            GST_VIDEO_INFO_HEIGHT(&info));
  gst_video_frame_unmap(&frame);
  return {};
}

}  // namespace

ImageFileResult loadImageFile(const std::string& path, std::chrono::milliseconds timeout) {
  ImageFileResult result;
  auto fail = [&](const std::string& reason) {
    result.image.reset();
    // GStreamer's debug details (and odd file names) may hold line breaks; the message stays
    // one line.
    result.error = singleLine("Cannot read the picture '" + path + "': " + reason);
    return std::move(result);
  };
  // Checked here for a clear reason, and because a FIFO or a device would keep the decoder's
  // type detection reading until the timeout.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::error_code(errno, std::generic_category()).message());
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular) return fail("not a regular file");
  if (info.st_size == 0) return fail("the file is empty");
  const std::string reason = decodeFirstFrame(path, timeout, result.image);
  if (!reason.empty()) return fail(reason);
  return result;
}

}  // namespace epipolar
