// Uncalibrated rectification: homographies H0 and H1 that map the two pictures of a stereo
// pair onto a common plane where every epipolar line is a row, so that a scene point has the
// same y in both rectified pictures and matching becomes a search along rows.
//
// Method: Hartley's (Hartley and Zisserman, Multiple View Geometry, 11.12; OpenCV's
// stereoRectifyUncalibrated) gives a projective pair from F and the inlier pairs. That pair
// is then changed only in ways that keep rows aligned (Loop and Zhang, "Computing rectifying
// homographies for stereo vision", 1999, section 5), so the pictures stay large and
// undistorted:
//   - both pictures get the same shear and scale: the shear makes the pictures' centre lines
//     (edge midpoint to edge midpoint) perpendicular again and restores their aspect ratio,
//     averaged over the two pictures, which also keeps Hartley's horizontal match between
//     them; a mirror image is turned back;
//   - the scale is the smallest that shrinks neither picture: each rectified centre line is
//     at least as long as the picture's width or height;
//   - a common vertical shift puts the top of the higher picture at row 0; each picture gets
//     its own horizontal shift so that it starts at column 0, and then one of them moves right
//     until the inlier pairs' disparities (x0' - x1') start at a small positive margin (pairs
//     on repeated texture can satisfy F with a wrong disparity: those are left out), so
//     disparities are positive and the matcher's range starts near 0.
//
// Units: pixels, origin at the top-left pixel's centre, y down, in the pictures and in the
// rectified pictures; H row-major, (x', y', w') = H (x, y, 1), rectified point (x'/w', y'/w').
// F row-major with (x1, y1, 1) F (x0, y0, 1)^T = 0 for (x0, y0) in picture 0.
// Threads: pure functions and immutable objects after construction; safe from any thread.
// Failure: rectify() refuses with an outcome and a one-sentence message, never a throw: too
// few pairs, an epipole inside a picture (its rows would have to pass through one point), a
// failed or degenerate projective pair (non-finite, singular, a picture folded over the line
// mapped to infinity), or a result too large to be useful.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/Residuals.h"
#include "imaging/Image.h"

namespace epipolar {

struct PictureSize {
  int width = 0;
  int height = 0;
};

struct Rectification {
  Matrix3x3 H0{};  // picture 0 to rectified picture 0
  Matrix3x3 H1{};  // picture 1 to rectified picture 1
  int width = 0;   // size of both rectified pictures
  int height = 0;
  // The common scale applied after Hartley's pair and the shear: the smallest at which
  // neither picture shrinks (below 1 when Hartley's pictures came out larger than needed).
  double scale = 1.0;
  // The disparity range (x0' - x1', pixels) to search: the inlier pairs' disparities (less
  // the few standing apart, see disparitySpan) span [minDisparity + margin, maxDisparity -
  // margin], with the margin a tenth of that spread and at least 8 px. minDisparity is the
  // margin itself, so disparity 0 lies just below the range.
  double minDisparity = 0.0;
  double maxDisparity = 0.0;
};

enum class RectificationOutcome {
  kRectified,
  kTooFewPairs,    // fewer than kMinRectificationPairs pairs
  kEpipoleInside,  // an epipole lies inside its picture
  kFailed,         // no usable homographies (degenerate F or pairs, or far too distorted)
};

inline constexpr int kMinRectificationPairs = 8;
// Refused beyond this: a rectified picture more than this many times the larger input in
// width or height is nearly all stretched border.
inline constexpr double kMaxRectifiedGrowth = 4.0;
// And beyond this many pixels whatever the pictures: the warp tables and the matcher's
// buffers of a larger frame run into gigabytes.
inline constexpr int kMaxRectifiedPixels = 64 << 20;

struct RectificationResult {
  RectificationOutcome outcome = RectificationOutcome::kFailed;
  Rectification rectification;  // valid for kRectified
  std::string message;          // one sentence for a refusal; empty for kRectified
};

// `pairs` are the inlier pairs of F. Pictures may differ in size.
RectificationResult rectify(const Matrix3x3& F,
                            std::span<const Correspondence> pairs,
                            PictureSize picture0,
                            PictureSize picture1);

// The pairs whose Sampson distance under F is at most `boundPx` (for pairs that carry no
// inlier flags).
std::vector<Correspondence> inliersOf(const Matrix3x3& F,
                                      std::span<const Correspondence> pairs,
                                      double boundPx = 1.0);

// Rectified position of picture point (x, y) under H; false when the point maps to infinity.
bool applyHomography(const Matrix3x3& H, double x, double y, double& outX, double& outY);

struct VerticalOffsets {
  int count = 0;        // pairs measured (those that map to finite points)
  double median = 0.0;  // of |y0' - y1'|, pixels
  double p95 = 0.0;     // 95th percentile, linear between order statistics
};

// |y0' - y1'| of each pair after rectification. count 0 (and zeros) for no pairs.
VerticalOffsets verticalOffsets(const Rectification& rectification,
                                std::span<const Correspondence> pairs);

// Warps a picture into its rectified frame, precomputed once per picture size and
// homography: each call costs one remap. Pixels outside the picture are black; bilinear
// interpolation.
class RectifyingWarp {
 public:
  // `index` 0 or 1 chooses H0 or H1; `picture` is the size of the pictures to be warped.
  RectifyingWarp(const Rectification& rectification, int index, PictureSize picture);
  ~RectifyingWarp();
  RectifyingWarp(const RectifyingWarp&) = delete;
  RectifyingWarp& operator=(const RectifyingWarp&) = delete;

  // The rectified picture (rectification.width x rectification.height), or nullptr when
  // `picture` is not of the size given at construction or the rectification is empty or
  // singular (a default-constructed one, say).
  std::unique_ptr<Image> apply(const Image& picture) const;

  struct Maps;  // OpenCV's remap tables, kept out of this header
  const Maps& maps() const { return *maps_; }
  PictureSize pictureSize() const { return picture_; }
  PictureSize outputSize() const { return output_; }

 private:
  PictureSize picture_;
  PictureSize output_;
  std::unique_ptr<Maps> maps_;
};

}  // namespace epipolar
