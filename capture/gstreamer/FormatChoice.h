// Choice of a device's capture format from the caps it offers.
//
// The rule: the first mode wider than 600 pixels (`kMinCaptureWidth`, strictly), with no
// choice at all when no mode is that wide (the device then keeps the format that
// negotiation gives it).
//
// GStreamer lists a v4l2 device's modes largest first, so taking the first qualifying
// structure in the offered order would pick the biggest mode: 4K frames, and USB bandwidth
// that two cameras cannot share. The modes are therefore scanned from the smallest width up
// (ties keep the device's order), and the chosen structure is fixed to concrete values:
//   width      the smallest value above 600 in its fixed value, int range (with step) or list;
//   height     the nearest to 3/4 of that width when not fixed;
//   framerate  the largest rate of at most 30 fps, or the slowest when all are faster;
//   the rest   fixated by GStreamer (first list entry, nearest range value).
// gst_caps_fixate alone would take the smallest values, for example 160x120.
//
// Pure functions: no device, no pipeline, no threads.
#pragma once

#include <gst/gst.h>

#include <optional>

#include "capture/gstreamer/GstRuntime.h"

namespace epipolar::gst {

inline constexpr int kMinCaptureWidth = 600;

struct CaptureFormat {
  CapsPtr caps;  // one fixed structure
  int width = 0;
  int height = 0;
  // The largest width the chosen mode offers (its record's maximum output width), which the
  // "couldn't set format" line reports; `width` is the one actually requested.
  int largestWidth = 0;
};

// Largest width a caps structure allows (fixed value, int range or list); 0 without width.
int largestWidth(const GstStructure* structure);

// Smallest width of the structure that is strictly greater than `limit`; 0 when none is.
int smallestWidthAbove(const GstStructure* structure, int limit);

// The chosen format, or nothing when no mode is wider than `kMinCaptureWidth`.
std::optional<CaptureFormat> chooseCaptureFormat(const GstCaps* offered);
// The same over caps written as text, e.g. "video/x-raw,width=640,height=480; ...".
std::optional<CaptureFormat> chooseCaptureFormat(const char* offeredText);

}  // namespace epipolar::gst
