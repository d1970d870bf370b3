// Precise clicks: a clicked point moved onto the structure the user aimed at, to a fraction
// of a pixel. Clicks are whole pixels placed by eye and often 1 to 2 pixels off.
//
//  - snapToCorner (the first click of a pair): among the whole pixels within
//    kCornerSnapRadius of the click, the one with the strongest corner response, that is the
//    smaller eigenvalue of the structure tensor (Sobel gradients of the luminance summed over
//    a 5x5 window; Shi and Tomasi, "Good features to track", 1994). It must be a local
//    maximum of the response and reach kMinCornerStrength; then it is refined to sub-pixel
//    as OpenCV's cornerSubPix does (Foerstner's corner operator): the point q for which every
//    gradient g at points p of a 9x9 Gaussian-weighted window is perpendicular to (p - q),
//    solved by least squares and iterated on bilinearly interpolated windows until it moves
//    less than 0.01 px. Without such a corner within the radius (half a pixel of slack for
//    the refined point) the click stays; when the refinement fails the whole-pixel corner
//    is kept.
//  - refineMatchingClick (the second click, in the other picture): the ZNCC window of the
//    first point (ZnccSearch.h) compared with every whole pixel within kClickSearchRadius (in
//    x and y) of the click, the best refined by the quadric fitted to the scores around it.
//    The best must be a local maximum reaching kZnccMinScore; otherwise the click stays.
//    When the first point lies on a corner (within 1 px of where the corner refinement takes
//    it), the match is moved onto the same corner of the second picture, by the same offset,
//    if that moves it by at most 1 px: a corner is located exactly in both views, a window
//    match only up to how much the views differ by more than a shift.
//
// Units: pixels, origin top-left, y down; pixel (x, y) is centred on whole numbers.
// Threads: pure functions, reentrant; the pictures must not change during a call. Nothing is
// logged: formatRefinedClickLine gives the log text. Clicks outside the picture, non-finite
// clicks, and flat, saturated or black surroundings leave the click as it is.
#pragma once

#include <string>

#include "geometry/MatchSearch.h"
#include "imaging/Image.h"

namespace epipolar {

inline constexpr double kCornerSnapRadius = 3.0;
inline constexpr int kClickSearchRadius = 4;
// Least mean smaller eigenvalue of the structure tensor, grey levels squared per pixel:
// a corner of about 20 grey levels of contrast. Sensor noise alone gives about 1.
inline constexpr double kMinCornerStrength = 10.0;

struct RefinedClick {
  ImagePosition position;  // the refined point, or the click when `refined` is false
  bool refined = false;
};

RefinedClick snapToCorner(const Image& image, ImagePosition click);

// `firstPoint` is the (refined) first click of the pair in `first`; `click` is the second
// click, in `second`.
RefinedClick refineMatchingClick(const Image& first,
                                 ImagePosition firstPoint,
                                 const Image& second,
                                 ImagePosition click);

// "Refined click in (" window "): " x ", " y " -> " rx ", " ry: the click as whole pixels
// ("%.2f" if it has a fraction), the refined point "%.2f". No line feed.
std::string formatRefinedClickLine(int window, ImagePosition click, ImagePosition refined);

}  // namespace epipolar
