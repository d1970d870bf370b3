// GStreamer set-up and small ownership helpers shared by the capture code in this folder.
//
// ensureGstInitialised() initialises GStreamer once per process (thread-safe) and lets the
// GdkPixbuf decoder take part in automatic decoding, so BMP stills (snapshot files among
// them) decode like PNG and JPEG.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "imaging/Image.h"

namespace epipolar::gst {

void ensureGstInitialised();

struct ObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) gst_object_unref(object);
  }
};
struct CapsUnref {
  void operator()(GstCaps* caps) const {
    if (caps != nullptr) gst_caps_unref(caps);
  }
};
struct SampleUnref {
  void operator()(GstSample* sample) const {
    if (sample != nullptr) gst_sample_unref(sample);
  }
};
struct MessageUnref {
  void operator()(GstMessage* message) const {
    if (message != nullptr) gst_message_unref(message);
  }
};

template <typename T>
using GstPtr = std::unique_ptr<T, ObjectUnref>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using SamplePtr = std::unique_ptr<GstSample, SampleUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

// The pipeline `chain` describes (gst_parse_launch syntax, any element missing is an error),
// owned and sunk; null when it cannot be built, with GStreamer's reason as " (reason)" in
// `detail` (empty when it gave none), for the caller's own message to end with.
GstPtr<GstElement> parsePipeline(const char* chain, std::string& detail);

// The text and debug detail of an error or warning message, joined for display.
std::string describeErrorMessage(GstMessage* message);

// A new Image holding `height` top-down rows of `width` BGR pixels, the first at `rows`, each
// `rowStride` bytes after the previous (GStreamer's stride, never assumed): the rows are
// stored bottom-up with the BMP stride and zero padding.
std::unique_ptr<Image> imageFromBgrRows(const std::uint8_t* rows,
                                        int rowStride,
                                        int width,
                                        int height);

// True when an error's text says the device could not get enough USB bandwidth: the kernel's
// "No space left on device" from stream-on, or a buffer pool that could not be activated.
bool looksLikeBandwidthShortage(std::string_view errorText);

}  // namespace epipolar::gst
