#include "capture/gstreamer/FormatChoice.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace epipolar::gst {
namespace {

// Smallest value of one width value (int, int range or list of those) above `limit`.
int smallestIntAbove(const GValue* value, int limit) {
  if (G_VALUE_HOLDS_INT(value)) {
    const int width = g_value_get_int(value);
    return width > limit ? width : 0;
  }
  if (GST_VALUE_HOLDS_INT_RANGE(value)) {
    const int min = gst_value_get_int_range_min(value);
    const int max = gst_value_get_int_range_max(value);
    const int step = std::max(1, gst_value_get_int_range_step(value));
    if (max <= limit) return 0;
    if (min > limit) return min;
    const int steps = (limit - min) / step + 1;
    const long long width = static_cast<long long>(min) + static_cast<long long>(steps) * step;
    return width <= max ? static_cast<int>(width) : 0;
  }
  if (GST_VALUE_HOLDS_LIST(value) || GST_VALUE_HOLDS_ARRAY(value)) {
    const guint n = GST_VALUE_HOLDS_LIST(value) ? gst_value_list_get_size(value)
                                                : gst_value_array_get_size(value);
    int best = 0;
    for (guint i = 0; i < n; ++i) {
      const GValue* item = GST_VALUE_HOLDS_LIST(value) ? gst_value_list_get_value(value, i)
                                                       : gst_value_array_get_value(value, i);
      const int width = smallestIntAbove(item, limit);
      if (width != 0 && (best == 0 || width < best)) best = width;
    }
    return best;
  }
  return 0;
}

int largestInt(const GValue* value) {
  if (G_VALUE_HOLDS_INT(value)) return g_value_get_int(value);
  if (GST_VALUE_HOLDS_INT_RANGE(value)) return gst_value_get_int_range_max(value);
  if (GST_VALUE_HOLDS_LIST(value) || GST_VALUE_HOLDS_ARRAY(value)) {
    const guint n = GST_VALUE_HOLDS_LIST(value) ? gst_value_list_get_size(value)
                                                : gst_value_array_get_size(value);
    int best = 0;
    for (guint i = 0; i < n; ++i) {
      const GValue* item = GST_VALUE_HOLDS_LIST(value) ? gst_value_list_get_value(value, i)
                                                       : gst_value_array_get_value(value, i);
      best = std::max(best, largestInt(item));
    }
    return best;
  }
  return 0;
}

double fractionValue(const GValue* value) {
  const int d = gst_value_get_fraction_denominator(value);
  return d == 0 ? 0.0 : static_cast<double>(gst_value_get_fraction_numerator(value)) / d;
}

// Fixes "framerate" to the largest rate of at most 30 fps, or the slowest rate offered.
void fixFramerate(GstStructure* structure) {
  const GValue* rate = gst_structure_get_value(structure, "framerate");
  if (rate == nullptr || GST_VALUE_HOLDS_FRACTION(rate)) return;
  constexpr double kMaxRate = 30.0;
  if (GST_VALUE_HOLDS_FRACTION_RANGE(rate)) {
    const GValue* min = gst_value_get_fraction_range_min(rate);
    const GValue* max = gst_value_get_fraction_range_max(rate);
    int n = 30, d = 1;
    if (fractionValue(max) <= kMaxRate) {
      n = gst_value_get_fraction_numerator(max);
      d = gst_value_get_fraction_denominator(max);
    } else if (fractionValue(min) > kMaxRate) {
      n = gst_value_get_fraction_numerator(min);
      d = gst_value_get_fraction_denominator(min);
    }
    gst_structure_set(structure, "framerate", GST_TYPE_FRACTION, n, d, nullptr);
    return;
  }
  if (GST_VALUE_HOLDS_LIST(rate)) {
    const GValue* best = nullptr;     // fastest at or below 30 fps
    const GValue* slowest = nullptr;  // fallback when every rate is faster
    for (guint i = 0; i < gst_value_list_get_size(rate); ++i) {
      const GValue* item = gst_value_list_get_value(rate, i);
      if (!GST_VALUE_HOLDS_FRACTION(item)) continue;
      const double value = fractionValue(item);
      if (value <= kMaxRate && (best == nullptr || value > fractionValue(best))) best = item;
      if (slowest == nullptr || value < fractionValue(slowest)) slowest = item;
    }
    const GValue* pick = best != nullptr ? best : slowest;
    if (pick != nullptr) {
      gst_structure_set(structure,
                        "framerate",
                        GST_TYPE_FRACTION,
                        gst_value_get_fraction_numerator(pick),
                        gst_value_get_fraction_denominator(pick),
                        nullptr);
    }
  }
}

}  // namespace

int largestWidth(const GstStructure* structure) {
  const GValue* width = gst_structure_get_value(structure, "width");
  return width == nullptr ? 0 : largestInt(width);
}

int smallestWidthAbove(const GstStructure* structure, int limit) {
  const GValue* width = gst_structure_get_value(structure, "width");
  return width == nullptr ? 0 : smallestIntAbove(width, limit);
}

std::optional<CaptureFormat> chooseCaptureFormat(const GstCaps* offered) {
  if (offered == nullptr || gst_caps_is_any(offered) || gst_caps_is_empty(offered)) {
    return std::nullopt;
  }
  // The qualifying mode with the smallest usable width; the first such in the offered order.
  int chosenIndex = -1;
  int chosenWidth = std::numeric_limits<int>::max();
  for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
    const int width = smallestWidthAbove(gst_caps_get_structure(offered, i), kMinCaptureWidth);
    if (width != 0 && width < chosenWidth) {
      chosenIndex = static_cast<int>(i);
      chosenWidth = width;
    }
  }
  if (chosenIndex < 0) return std::nullopt;

  GstStructure* structure = gst_structure_copy(gst_caps_get_structure(offered, chosenIndex));
  gst_structure_set(structure, "width", G_TYPE_INT, chosenWidth, nullptr);
  if (gst_structure_has_field(structure, "height")) {
    gst_structure_fixate_field_nearest_int(structure, "height", chosenWidth * 3 / 4);
  }
  fixFramerate(structure);

  GstCaps* caps = gst_caps_new_empty();
  GstCapsFeatures* features = gst_caps_get_features(offered, chosenIndex);
  gst_caps_append_structure_full(
      caps, structure, features != nullptr ? gst_caps_features_copy(features) : nullptr);
  caps = gst_caps_fixate(caps);

  CaptureFormat format;
  const GstStructure* fixed = gst_caps_get_structure(caps, 0);
  format.width = chosenWidth;
  format.largestWidth = largestWidth(gst_caps_get_structure(offered, chosenIndex));
  gst_structure_get_int(fixed, "height", &format.height);
  format.caps.reset(caps);
  return format;
}

std::optional<CaptureFormat> chooseCaptureFormat(const char* offeredText) {
  ensureGstInitialised();
  CapsPtr caps(gst_caps_from_string(offeredText));
  return chooseCaptureFormat(caps.get());
}

}  // namespace epipolar::gst
