// Pieces shared by the ZNCC match search and the click refinement; not for other callers.
//
// Windows are compared by zero-mean normalised cross-correlation:
//   zncc(T, B) = sum (T - mean T)(B - mean B) / sqrt(sum (T - mean T)^2 * sum (B - mean B)^2)
// over the window's samples, in [-1, 1]. Samples are the luminance 0.299 R + 0.587 G +
// 0.114 B (ITU-R BT.601) minus 128, or with `colour` the three channels minus 128, each channel
// made zero-mean on its own and the three normalised together.
// Pixels: x columns from the left, y rows from the top; pixel (x, y) is centred on the whole
// numbers (x, y).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/ZnccSearch.h"
#include "imaging/Image.h"

namespace epipolar::detail {

struct ZnccSettings {
  int windowSize = kZnccWindowSize;  // odd; the half-size is windowSize / 2
  bool colour = false;
  int largestWindow = 39;   // a flat window grows up to this size
  int peaks = 6;            // places compared again with warped windows (0: none)
  int contextReach = 20;    // pixels of surroundings that rank the warped places (0: none)
  int contextStep = 2;      // pixels between the context window's samples
  int uncertainWindow = 0;  // an uncertain match is searched again with this window (0: not)
};

// Window growth: steps of 6 px until the deviation reaches kWantedDeviation grey levels.
inline constexpr int kGrowStep = 6;
inline constexpr double kWantedDeviation = 4.0;
// A first pass whose best reaches kDecisiveScore with every other place at most
// kDecisiveNextShare of it is taken as it is; otherwise its best places are compared again
// with the source window stretched by up to kWarpStretch along the line and sheared by up
// to kWarpShear (each coarse step is followed by a half step), as far as their first-pass
// score is within kWarpGain of the best: about the most a warp raised a true match's score
// on the real pictures measured.
inline constexpr double kDecisiveScore = 0.9;
inline constexpr double kDecisiveNextShare = 0.8;
inline constexpr double kWarpStretch = 1.19;
inline constexpr double kWarpShear = 0.3;
inline constexpr double kWarpGain = 0.25;
// The context window (ZnccSearch.h, "Look-alikes") reaches contextReach pixels from the point
// and is compared on samples smoothed by the binomial [1 2 1] / 4 in x and y, every
// contextStep pixels: a 41x41 surrounding costs 21x21 samples. Its score counts only where
// at least half of its samples lie in both pictures. Only places whose warped score is within
// kContextGap of the best are ranked so: on the real pictures measured, leaving the others out
// changed no match by more than 2 px, and saves about a third of the ranking's time.
inline constexpr double kContextGap = 0.2;

// A window below this standard deviation (grey levels, per channel on average) has no
// structure to match: sensor noise alone is about 1 to 2 grey levels.
inline constexpr float kFlatDeviation = 2.0f;

inline int channelCount(const ZnccSettings& settings) { return settings.colour ? 3 : 1; }

// Sample c of pixel (x, y), centred on 0 (the caller keeps (x, y) inside the picture).
inline float sampleAt(const Image& image, int x, int y, int c, bool colour) {
  const std::uint8_t* p = image.row(y) + 3 * x;
  if (colour) return static_cast<float>(p[c]) - 128.0f;
  return 0.114f * p[0] + 0.587f * p[1] + 0.299f * p[2] - 128.0f;
}

// The source window: the samples of the part of the window of half-size `half` around pixel
// (cx, cy) that lies inside the picture, zero-mean per channel. Offsets u (columns) in
// [ulo, uhi], v (rows) in [vlo, vhi]; values[(c * rows + (v - vlo)) * cols + (u - ulo)].
struct ZnccTemplate {
  int cx = 0, cy = 0;
  int ulo = 0, uhi = -1, vlo = 0, vhi = -1;
  int channels = 1;
  bool colour = false;
  std::vector<float> values;
  double norm2 = 0.0;     // sum of the squared zero-mean values
  bool textured = false;  // inside the picture and not flat

  int cols() const { return uhi - ulo + 1; }
  int rows() const { return vhi - vlo + 1; }
  int samples() const { return cols() * rows(); }  // per channel
  float at(int c, int u, int v) const {
    return values[(c * rows() + (v - vlo)) * cols() + (u - ulo)];
  }
};

ZnccTemplate makeZnccTemplate(const Image& a, int cx, int cy, const ZnccSettings& settings);

// The template's ZNCC with the window of B whose centre is pixel (x, y). NaN when that window
// leaves B, when B's window is flat, or when the template is not textured.
double znccAt(const ZnccTemplate& t, const Image& b, int x, int y);

// Offset (dx, dy) of the peak of the quadratic fitted to the 3x3 scores s[dy + 1][dx + 1]
// around a best score s[1][1]: the least-squares quadric through the nine values when it has
// a maximum within one pixel, else a parabola through the centre row and column on each axis
// whose three values are finite and curve down, clamped to half a pixel; 0 on any other axis.
std::array<double, 2> quadraticPeakOffset(const std::array<std::array<double, 3>, 3>& s);

// searchZnccAlongLine with a chosen window size and sample kind (the benchmark compares them).
ZnccMatch searchZncc(const Image& a,
                     const Image& b,
                     ImagePosition source,
                     const Matrix3x3& M,
                     double band,
                     const ZnccSettings& settings);

// Whole pixel nearest to a coordinate, clamped to a range that keeps window arithmetic inside
// int; NaN gives a value far outside any picture.
int nearestPixel(double coordinate);

}  // namespace epipolar::detail
