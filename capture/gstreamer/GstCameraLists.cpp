#include "capture/gstreamer/GstCameraLists.h"

#include "capture/gstreamer/FormatChoice.h"
#include "capture/gstreamer/GstCamera.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace gst {
namespace {

// A still picture repeated as a live 30 fps stream. The file name is set as a property, so
// any path works without quoting.
constexpr const char* kStillSource =
    "filesrc name=file ! decodebin ! videoconvert ! imagefreeze is-live=true "
    "! video/x-raw,framerate=30/1";

GstElement* parseSource(const std::string& description, std::string& error) {
  // The description ends in a named pass-through element whose output becomes the bin's one
  // output. That also makes a caps string at the very end ("v4l2src ! video/x-raw,width=640")
  // valid, since a caps filter needs an element after it. Ghosting every unlinked pad instead
  // would also ghost the input of an element still waiting for a decoder's dynamic pad and so
  // break that link.
  const std::string closed = description + " ! capsfilter name=epipolar_source_end";
  GError* parseError = nullptr;
  GstElement* bin = gst_parse_bin_from_description_full(
      closed.c_str(), FALSE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
  if (parseError != nullptr || bin == nullptr) {
    error = "could not parse the pipeline: ";
    error += parseError != nullptr ? parseError->message : "no element";
    if (parseError != nullptr) g_error_free(parseError);
    if (bin != nullptr) gst_object_unref(gst_object_ref_sink(bin));
    return nullptr;
  }
  GstPtr<GstElement> end(gst_bin_get_by_name(GST_BIN(bin), "epipolar_source_end"));
  GstPtr<GstPad> output(end ? gst_element_get_static_pad(end.get(), "src") : nullptr);
  if (!output || !gst_element_add_pad(bin, gst_ghost_pad_new("src", output.get()))) {
    error = "the pipeline has no output for frames";
    gst_object_unref(gst_object_ref_sink(bin));
    return nullptr;
  }
  return bin;
}

}  // namespace

GstDeviceCameraList::GstDeviceCameraList() {
  ensureGstInitialised();
  GstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
  if (!monitor || gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr) == 0 ||
      !gst_device_monitor_start(monitor.get())) {
    reportError("Error creating device enumerator.");
    return;
  }
  GList* devices = gst_device_monitor_get_devices(monitor.get());
  gst_device_monitor_stop(monitor.get());
  for (GList* item = devices; item != nullptr; item = item->next) {
    auto entry = std::make_unique<CameraEntry>();
    entry->id = static_cast<std::int32_t>(entries_.size());
    GstDevice* device = GST_DEVICE(item->data);  // the list's reference moves to devices_
    gchar* name = gst_device_get_display_name(device);
    if (name != nullptr) setEntryName(*entry, name);
    g_free(name);
    entries_.push_back(std::move(entry));
    devices_.emplace_back(device);
  }
  g_list_free(devices);
  if (entries_.empty()) reportError("No video hardware found.");
}

GstCaps* GstDeviceCameraList::deviceCaps(int i) const {
  return gst_device_get_caps(devices_[i].get());
}

std::unique_ptr<Camera> GstDeviceCameraList::openCamera(int i) {
  std::shared_ptr<GstDevice> device(GST_DEVICE(gst_object_ref(devices_[i].get())),
                                    [](GstDevice* d) { gst_object_unref(d); });
  CapsPtr caps(gst_device_get_caps(device.get()));
  GstCameraOptions options;
  options.chooseFormat = true;
  options.offeredCaps = caps.get();
  auto makeSource = [device](std::string& error) -> GstElement* {
    GstElement* source = gst_device_create_element(device.get(), nullptr);
    if (source == nullptr) error = "the device gave no source element";
    return source;
  };
  return std::make_unique<GstCamera>(entries_[i].get(), makeSource, std::move(options));
}

GstSourceCameraList::GstSourceCameraList(Kind kind, const std::vector<std::string>& sources)
    : kind_(kind), sources_(sources) {
  ensureGstInitialised();
  for (const std::string& source : sources_) {
    auto entry = std::make_unique<CameraEntry>();
    entry->id = static_cast<std::int32_t>(entries_.size());
    setEntryName(*entry, source);
    entries_.push_back(std::move(entry));
  }
}

std::unique_ptr<Camera> GstSourceCameraList::openCamera(int i) {
  GstCameraOptions options;
  options.negotiationTimeout = negotiationTimeout;
  options.stallTimeout = stallTimeout;
  GstCamera::SourceFactory makeSource;
  if (kind_ == Kind::Description) {
    makeSource = [description = sources_[i]](std::string& error) {
      return parseSource(description, error);
    };
  } else {
    makeSource = [path = sources_[i]](std::string& error) {
      GstElement* source = parseSource(kStillSource, error);
      if (source != nullptr) {
        GstPtr<GstElement> file(gst_bin_get_by_name(GST_BIN(source), "file"));
        g_object_set(file.get(), "location", path.c_str(), nullptr);
      }
      return source;
    };
  }
  return std::make_unique<GstCamera>(entries_[i].get(), makeSource, std::move(options));
}

}  // namespace gst

std::unique_ptr<CameraList> openDeviceCameraList() {
  return std::make_unique<gst::GstDeviceCameraList>();
}

std::unique_ptr<CameraList> openPipelineCameraList(const std::vector<std::string>& descriptions) {
  return std::make_unique<gst::GstSourceCameraList>(gst::GstSourceCameraList::Kind::Description,
                                                    descriptions);
}

std::unique_ptr<CameraList> openStillPairCameraList(const std::string& left,
                                                    const std::string& right) {
  return std::make_unique<gst::GstSourceCameraList>(gst::GstSourceCameraList::Kind::Still,
                                                    std::vector<std::string>{left, right});
}

void printDeviceList(std::ostream& out) {
  gst::GstDeviceCameraList list;
  for (int i = 0; i < list.count(); ++i) {
    out << "Camera " << list.entry(i)->id << " is " << list.entry(i)->name << "\n";
    gst::CapsPtr caps(list.deviceCaps(i));
    if (auto format = gst::chooseCaptureFormat(caps.get())) {
      gchar* text = gst_caps_to_string(format->caps.get());
      out << "  capture format: " << text << "\n";
      g_free(text);
    } else {
      out << "  capture format: as negotiated (no mode wider than " << gst::kMinCaptureWidth
          << " pixels)\n";
    }
  }
  out << "Total count: " << list.count() << "\n";
  out.flush();
}

}  // namespace epipolar
