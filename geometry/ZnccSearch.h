// The accurate match search: the point of picture B that matches a point of picture A, on
// or near the point's epipolar line in B, by zero-mean normalised cross-correlation (ZNCC)
// of square windows, to a fraction of a pixel, with a confidence test.
//
// Method:
//  - The source window is the kZnccWindowSize square of luminance around the source's
//    nearest whole pixel (the part inside A, when the point is near A's edge). A window with
//    less than 4 grey levels of deviation grows by 6 px at a time, up to 39x39, so that points
//    on smooth surfaces still have structure to match.
//  - The epipolar line l = M (x_s, y_s, 1) is scaled so that a^2 + b^2 = 1. Every whole pixel
//    of B whose distance from the line is at most `band` pixels, and whose window lies inside
//    B, is a candidate; each is scored by ZNCC (ZnccInternal.h). The source's fractional
//    offset from its whole pixel is carried over to the match, which assumes the pictures
//    agree locally up to a shift; it makes the result follow a sub-pixel source point.
//  - Perspective: where the views see a surface at different angles, a window in one is a
//    stretched and sheared copy of the window in the other, and the true match may score
//    below a look-alike elsewhere on the line. Unless the best score is at least 0.9 with
//    nothing else above 0.8 of it, the six best places (each more than half a window from
//    the others), as far as they score within 0.25 of the best, are compared again with the
//    source window warped: the epipolar geometry fixes the line directions in both views and
//    the spacing of neighbouring lines, and the stretch along the line (up to 1.3x either
//    way) and the shear (up to 0.45) are searched, coarse then fine, at each place and its
//    neighbours. Its window is sampled around the source point itself.
//  - Look-alikes: when more than one place was compared again, each within 0.2 of the best
//    warped score is ranked by that score plus the ZNCC of its wider surroundings (20 px
//    around it, smoothed and sampled every 2 px, seen through each coarse warp, the best
//    counting) with the source's surroundings: windows that agree as well as the true
//    match's (bricks, window panes, an edge along the line) mostly differ there. Where some
//    place's surroundings leave a picture or are flat, the warped scores alone rank. The best
//    ranked place wins.
//  - The best candidate is refined by the quadric fitted to the 3x3 scores around it.
//  - Confidence: `score` is the best ZNCC; `next` is the best among places more than half a
//    window (in x or y) from it, so another place along the line that looks alike. The match
//    is uncertain when score < kZnccMinScore or next > kZnccMaxNextShare * score, and when the
//    source window was cut by A's edge.
//  - Nothing to search gives found = false, position (0, 0), score and next 0 and uncertain:
//    a line that is not finite or misses B, a source point outside A or on a flat window
//    (flat, saturated or black pictures), a band that is not a positive number.
//
// Measured on real pictures (bench/zncc_accuracy_bench, bench/README.md): these choices
// (window size, luminance rather than three channels, the warps, the confidence thresholds)
// are the ones its --zncc_sweep tables support.
//
// Band: the caller passes how far the true match may lie from the line; znccBand gives it
// from the accuracy of the calibration.
//
// Units: pixels, origin top-left, y down; pixel (x, y) is centred on whole numbers. M is
// row-major and maps a point of A to its line in B: F for a point of camera 0 (x1^T F x0 =
// 0), F^T for a point of camera 1.
// Threads: pure function of its arguments, single-threaded, reentrant; the pictures must not
// change during a call. Nothing is logged: formatMatchLine gives the log text.
#pragma once

#include <string>

#include "geometry/MatchSearch.h"
#include "geometry/Residuals.h"
#include "imaging/Image.h"

namespace epipolar {

inline constexpr int kZnccWindowSize = 15;
inline constexpr double kZnccMinScore = 0.7;
inline constexpr double kZnccMaxNextShare = 0.9;
// The band when the calibration's accuracy is unknown (F from the described estimator or
// from cams.conf), and the least band for an accurate one.
inline constexpr double kZnccWideBand = 20.0;
inline constexpr double kZnccNarrowBand = 3.0;

struct ZnccMatch {
  ImagePosition position;  // in B, sub-pixel
  double score = 0.0;      // ZNCC of the best candidate, in [-1, 1]
  double next = 0.0;       // best ZNCC more than half a window away from it
  bool uncertain = true;
  bool found = false;  // some candidate was scored
};

ZnccMatch searchZnccAlongLine(
    const Image& a, const Image& b, ImagePosition source, const Matrix3x3& M, double band);

// clamp(3 * rmsSampson, 3, 20) pixels: three times the RMS Sampson error of the last
// accurate calibration, in pixels. Not a finite number (no accurate calibration): 20.
double znccBand(double rmsSampson);

// "Match in (" window "): " x ", " y " (score " s ", next " n ")", coordinates "%.2f" and
// scores "%.3f", then " uncertain" when the match is uncertain. `window` is the number of the
// camera window searched (0 or 1). No line feed.
std::string formatMatchLine(int window, const ZnccMatch& match);

}  // namespace epipolar
