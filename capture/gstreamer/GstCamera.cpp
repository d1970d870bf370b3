#include "capture/gstreamer/GstCamera.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstdio>
#include <cstring>

#include "capture/gstreamer/FormatChoice.h"
#include "log/DebugStream.h"

// Construction failures and where each is reported (one line, then the camera is incomplete).
// To standard error:
//   "Failed to initialize camera"           the source element could not be made (device,
//                                           parse error), or the source could not be opened
//                                           or read while negotiating
//   "Failed to initialize filtergraph"      gst_pipeline_new failed
//   "Could not add source filter to graph"  the source could not be added to the pipeline
//   "Could not build grab filter"           capsfilter, decodebin or videoconvert missing
//   "Could not build grabber"               appsink missing
//   "Could not add grabber to graph"        the conversion elements could not be added
//   "Unsupported media type!"               no link or no negotiation to BGR, no frame in time
//   "WTF!"                                  the BGR filter cannot feed the appsink
// Not fatal, to the log stream:
//   "WTF!"                                  the device's caps records cannot be read (no
//                                           format is chosen)
//   "Whoops, couldn't set format.  Why not? (" W ")"
//                                           the chosen format does not negotiate (W: the
//                                           largest width of the chosen mode); negotiation
//                                           is tried again without it
// A second stderr line "<name>: <detail>" follows when GStreamer says more.

namespace epipolar::gst {
namespace {

constexpr const char* kStopWatching = "epipolar-stop-watching";
constexpr auto kWatchPoll = std::chrono::milliseconds(200);
constexpr auto kPullSlice = std::chrono::milliseconds(20);

std::int64_t steadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

GstClockTime toClockTime(std::chrono::milliseconds ms) {
  return static_cast<GstClockTime>(ms.count()) * GST_MSECOND;
}

// GStreamer passes work to its pooled streaming threads through GLib primitives (futexes,
// atomics) that ThreadSanitizer cannot see. Every delivery passes this lock on entry and on
// exit, and start() and stop() pass it too, so the ordering that GStreamer guarantees
// (nothing runs before start, nothing after stop) is also visible as C++ happens-before.
// One process-wide lock, held for no work: it must exist before any streaming thread does.
std::mutex handOffMutex;
void handOff() { std::lock_guard lock(handOffMutex); }

bool isResourceError(const GError* error) {
  return error != nullptr && error->domain == GST_RESOURCE_ERROR;
}

const char* bandwidthAdvice() {
  return "the camera could not get enough USB bandwidth to stream. Two cameras on one USB "
         "controller often cannot share it: try a lower resolution or MJPEG (for example "
         "--source 'v4l2src device=/dev/video0 ! image/jpeg,width=640,height=480'), or "
         "plug the cameras into different USB controllers.";
}

}  // namespace

void setEntryName(CameraEntry& entry, const std::string& text) {
  std::memset(entry.name, 0, sizeof entry.name);
  std::memcpy(entry.name, text.data(), std::min<std::size_t>(text.size(), 256));
}

GstCamera::GstCamera(const CameraEntry* entry, SourceFactory makeSource, GstCameraOptions options)
    : Camera(entry),
      name_(entry->name),
      makeSource_(std::move(makeSource)),
      stallTimeout_(options.stallTimeout) {
  ensureGstInitialised();
  construct(options);
}

GstCamera::~GstCamera() { stop(); }

void GstCamera::failConstruction(const char* message, const std::string& detail) {
  reportError(message);
  if (!detail.empty()) reportError(name_ + ": " + detail);
  dropPipeline();
  width_ = 0;
  height_ = 0;
}

void GstCamera::dropPipeline() {
  if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  pipeline_.reset();
  appsink_ = nullptr;
}

const char* GstCamera::assemble(std::string& detail) {
  dropPipeline();
  GstElement* rawSource = makeSource_ ? makeSource_(detail) : nullptr;
  if (rawSource == nullptr) return "Failed to initialize camera";
  if (g_object_is_floating(rawSource)) gst_object_ref_sink(rawSource);
  GstPtr<GstElement> source(rawSource);

  pipeline_.reset(gst_pipeline_new(nullptr));
  if (!pipeline_) return "Failed to initialize filtergraph";
  GstBin* bin = GST_BIN(pipeline_.get());
  if (!gst_bin_add(bin, source.get())) return "Could not add source filter to graph";

  // Floating until added; the guards drop whatever was made when a later step fails.
  GstPtr<GstElement> formatFilter(gst_element_factory_make("capsfilter", "format"));
  GstPtr<GstElement> decoder(gst_element_factory_make("decodebin", "decode"));
  GstPtr<GstElement> converter(gst_element_factory_make("videoconvert", "convert"));
  GstPtr<GstElement> bgrFilter(gst_element_factory_make("capsfilter", "bgr"));
  if (!formatFilter || !decoder || !converter || !bgrFilter) return "Could not build grab filter";
  GstPtr<GstElement> appsink(gst_element_factory_make("appsink", "grab"));
  if (!appsink) return "Could not build grabber";
  for (GstElement* element :
       {formatFilter.get(), decoder.get(), converter.get(), bgrFilter.get(), appsink.get()}) {
    gst_object_ref_sink(element);  // ours; the bin takes its own reference
    if (!gst_bin_add(bin, element)) return "Could not add grabber to graph";
  }

  CapsPtr bgrCaps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
  g_object_set(bgrFilter.get(), "caps", bgrCaps.get(), nullptr);
  // While negotiating, frames are pulled; keep only the newest so none pile up.
  g_object_set(appsink.get(),
               "max-buffers",
               1u,
               "drop",
               TRUE,
               "enable-last-sample",
               FALSE,
               "emit-signals",
               FALSE,
               nullptr);
  g_signal_connect(
      decoder.get(), "pad-added", G_CALLBACK(&GstCamera::onDecodedPad), converter.get());

  if (!gst_element_link(source.get(), formatFilter.get())) {
    detail = "the source has no free output to link";
    return "Unsupported media type!";
  }
  if (!gst_element_link(formatFilter.get(), decoder.get()) ||
      !gst_element_link(converter.get(), bgrFilter.get())) {
    return "Unsupported media type!";
  }
  if (!gst_element_link(bgrFilter.get(), appsink.get())) return "WTF!";
  // Set after linking, so that a format the source refuses shows up while negotiating.
  if (formatCaps_) g_object_set(formatFilter.get(), "caps", formatCaps_.get(), nullptr);
  appsink_ = appsink.get();
  return nullptr;
}

void GstCamera::construct(const GstCameraOptions& options) {
  std::string detail = options.sourceError;
  if (const char* failure = assemble(detail)) {
    failConstruction(failure, detail);
    return;
  }

  // The chosen mode's largest width, reported when the mode will not negotiate; 0 when no mode
  // was chosen.
  int chosenModeWidth = 0;
  if (options.chooseFormat) {
    if (options.offeredCaps == nullptr || gst_caps_is_empty(options.offeredCaps) ||
        gst_caps_is_any(options.offeredCaps)) {
      // Deliberately not the end of the set-up: the camera goes on to negotiate whatever the
      // source gives, so it still streams and reports a real frame size instead of 0 x 0.
      logLine("WTF!");
    } else if (auto format = chooseCaptureFormat(options.offeredCaps)) {
      chosenModeWidth = format->largestWidth;
      formatCaps_ = std::move(format->caps);
      if (const char* failure = assemble(detail)) {
        failConstruction(failure, detail);
        return;
      }
    }
  }

  GError* error = nullptr;
  bool negotiated = negotiate(options.negotiationTimeout, &error, detail);
  if (!negotiated && chosenModeWidth != 0 && !isResourceError(error)) {
    logLine("Whoops, couldn't set format.  Why not? (", chosenModeWidth, ")");
    formatCaps_.reset();
    if (error != nullptr) g_clear_error(&error);
    detail.clear();
    if (const char* failure = assemble(detail)) {
      failConstruction(failure, detail);
      return;
    }
    negotiated = negotiate(options.negotiationTimeout, &error, detail);
  }
  if (!negotiated) {
    const bool resource = isResourceError(error);
    if (error != nullptr) g_clear_error(&error);
    if (looksLikeBandwidthShortage(detail)) detail += "; " + std::string(bandwidthAdvice());
    failConstruction(resource ? "Failed to initialize camera" : "Unsupported media type!", detail);
    return;
  }
  // Every start builds a fresh pipeline: elements that link dynamic pads once (decoders in a
  // parsed description) would not link again after a restart.
  dropPipeline();
  complete_ = true;

  logResolution();
}

bool GstCamera::negotiate(std::chrono::milliseconds timeout, GError** error, std::string& detail) {
  GstPtr<GstBus> bus(gst_element_get_bus(pipeline_.get()));
  gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool done = false;
  while (!done) {
    SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(appsink_), toClockTime(kPullSlice)));
    if (sample) {
      GstVideoInfo info;
      GstCaps* caps = gst_sample_get_caps(sample.get());
      if (caps != nullptr && gst_video_info_from_caps(&info, caps) &&
          GST_VIDEO_INFO_WIDTH(&info) > 0 && GST_VIDEO_INFO_HEIGHT(&info) > 0 &&
          GST_VIDEO_INFO_WIDTH(&info) <= 16384 && GST_VIDEO_INFO_HEIGHT(&info) <= 16384) {
        width_ = GST_VIDEO_INFO_WIDTH(&info);
        height_ = GST_VIDEO_INFO_HEIGHT(&info);
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        return true;
      }
      detail = "frames of an unusable size or format";
      break;
    }
    MessagePtr message(gst_bus_pop_filtered(
        bus.get(), static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)));
    if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
      detail = describeErrorMessage(message.get());
      gst_message_parse_error(message.get(), error, nullptr);
      done = true;
    } else if (message || gst_app_sink_is_eos(GST_APP_SINK(appsink_))) {
      detail = "the source ended before its first frame";
      done = true;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      detail = "no frame within " + std::to_string(timeout.count()) + " ms";
      done = true;
    }
  }
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  return false;
}

void GstCamera::onDecodedPad(GstElement*, GstPad* pad, gpointer converter) {
  GstPtr<GstPad> sinkPad(gst_element_get_static_pad(GST_ELEMENT(converter), "sink"));
  if (!sinkPad || gst_pad_is_linked(sinkPad.get())) return;
  CapsPtr caps(gst_pad_get_current_caps(pad));
  if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
  if (caps && gst_caps_get_size(caps.get()) > 0 &&
      !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "video/")) {
    return;  // audio or other streams of a file are left unlinked
  }
  gst_pad_link(pad, sinkPad.get());
}

GstFlowReturn GstCamera::onNewSample(GstElement* sink, gpointer self) {
  SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
  if (sample) static_cast<GstCamera*>(self)->handleSample(sample.get());
  return GST_FLOW_OK;
}

void GstCamera::handleSample(GstSample* sample) {
  // Everything this thread touches in the camera comes after the hand-off, the stall clock
  // included: before it, the camera's construction is not ordered before this thread.
  handOff();
  struct HandOffOnReturn {
    ~HandOffOnReturn() { handOff(); }
  } handOffOnReturn;
  lastFrameNs_.store(steadyNow(), std::memory_order_relaxed);
  const int width = frameWidth();
  const int height = frameHeight();
  GstVideoInfo info;
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps)) return;
  if (GST_VIDEO_INFO_WIDTH(&info) != width || GST_VIDEO_INFO_HEIGHT(&info) != height ||
      GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR) {
    // The window and every reader of the frame rely on the size fixed at open.
    if (!sizeChangeReported_.exchange(true)) {
      reportError(name_ + ": frames changed size from " + std::to_string(width) + "x" +
                  std::to_string(height) + " to " + std::to_string(GST_VIDEO_INFO_WIDTH(&info)) +
                  "x" + std::to_string(GST_VIDEO_INFO_HEIGHT(&info)) + " and are dropped");
    }
    return;
  }
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return;

  auto image =
      imageFromBgrRows(static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                       GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
                       width,
                       height);
  gst_video_frame_unmap(&frame);

  snapshot_.writeIfRequested(*image, deviceEntry->id);
  deliver(std::move(image));
}

void GstCamera::start(FrameCallback callback, void* context) {
  Camera::start(callback, context);
  if (!complete_ || watcher_.joinable()) return;
  std::string detail;
  if (const char* failure = assemble(detail)) {
    reportFault(std::string("could not start again: ") + failure + (detail.empty() ? "" : " ") +
                detail);
    dropPipeline();
    return;
  }
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = [](GstAppSink* sink, gpointer self) {
    return onNewSample(GST_ELEMENT(sink), self);
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(appsink_), &callbacks, this, nullptr);
  sizeChangeReported_ = false;
  errorReported_ = false;
  endReported_ = false;
  ended_ = false;
  stallReported_ = false;
  lastFrameNs_.store(steadyNow(), std::memory_order_relaxed);
  stopWatching_ = false;
  handOff();
  gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  watcher_ = std::thread(&GstCamera::watchBus, this);
}

void GstCamera::stop() {
  if (watcher_.joinable()) {
    stopWatching_ = true;
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_post(bus.get(),
                 gst_message_new_application(GST_OBJECT(pipeline_.get()),
                                             gst_structure_new_empty(kStopWatching)));
    watcher_.join();
  }
  // Setting NULL returns only after the streaming thread has left its callback.
  dropPipeline();
  handOff();
  Camera::stop();
}

void GstCamera::checkStall() {
  const std::int64_t gap = steadyNow() - lastFrameNs_.load(std::memory_order_relaxed);
  if (gap < std::chrono::duration_cast<std::chrono::nanoseconds>(stallTimeout_).count()) {
    stallReported_ = false;
    return;
  }
  // A source that failed or ended has said so already.
  if (stallReported_ || errorReported_ || ended_ || stopWatching_) return;
  stallReported_ = true;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(stallTimeout_.count()) / 1000);
  reportFault(std::string("no frame for ") + seconds + " seconds, the source has stalled");
}

void GstCamera::reportFault(const std::string& text) { reportError(name_ + ": " + text); }

void GstCamera::watchBus() {
  GstPtr<GstBus> bus(gst_element_get_bus(pipeline_.get()));
  const auto wanted =
      static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_APPLICATION);
  // Messages posted before stop()'s own are all handled; the flag only ends the loop when
  // that message could not be posted.
  for (;;) {
    MessagePtr message(gst_bus_timed_pop_filtered(bus.get(), toClockTime(kWatchPoll), wanted));
    checkStall();
    if (!message) {
      if (stopWatching_) return;
      continue;
    }
    switch (GST_MESSAGE_TYPE(message.get())) {
      case GST_MESSAGE_APPLICATION:
        if (gst_message_has_name(message.get(), kStopWatching)) return;
        break;
      case GST_MESSAGE_ERROR:
        // One report per start: a failing source tends to post a burst of errors.
        if (!errorReported_) {
          errorReported_ = true;
          const std::string text = describeErrorMessage(message.get());
          reportFault(text);
          if (looksLikeBandwidthShortage(text)) reportFault(bandwidthAdvice());
        }
        break;
      case GST_MESSAGE_EOS: {
        // The end that follows an error belongs to it: the pipeline stays as it is.
        if (errorReported_) break;
        // A file plays again from its start; a source that cannot seek stays on its last frame.
        const bool looped = gst_element_seek_simple(
            pipeline_.get(),
            GST_FORMAT_TIME,
            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
            0);
        ended_ = !looped;
        if (!endReported_) {
          endReported_ = true;
          reportFault(looped ? "end of stream, playing again from the start" : "end of stream");
        }
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace epipolar::gst
