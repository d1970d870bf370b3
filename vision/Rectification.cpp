#include "vision/Rectification.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "vision/ImageMat.h"
#include "vision/RectificationInternal.h"

namespace epipolar {
namespace {

using Mat3 = cv::Matx33d;

Mat3 toMatx(const Matrix3x3& m) { return Mat3(m.data()); }

Matrix3x3 toArray(const Mat3& m) {
  Matrix3x3 out{};
  for (int i = 0; i < 9; ++i) out[i] = m.val[i];
  return out;
}

bool finite(const Mat3& m) {
  for (double v : m.val) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

RectificationResult refuse(RectificationOutcome outcome, const std::string& message) {
  RectificationResult result;
  result.outcome = outcome;
  result.message = message;
  return result;
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char text[200];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

// Picture points whose images outline the warped picture: the corners, and the edge
// midpoints Loop and Zhang's shear is measured on.
struct Outline {
  cv::Point2d corners[4];
  cv::Point2d top, right, bottom, left;
};

cv::Point2d map(const Mat3& H, double x, double y) {
  const cv::Vec3d p = H * cv::Vec3d(x, y, 1.0);
  return {p[0] / p[2], p[1] / p[2]};
}

// The extreme pixel centres are 0 and size - 1; the outline is the picture's outer edge,
// half a pixel further out.
Outline outline(const Mat3& H, PictureSize size) {
  const double x0 = -0.5, y0 = -0.5, x1 = size.width - 0.5, y1 = size.height - 0.5;
  const double xm = 0.5 * (x0 + x1), ym = 0.5 * (y0 + y1);
  Outline o;
  o.corners[0] = map(H, x0, y0);
  o.corners[1] = map(H, x1, y0);
  o.corners[2] = map(H, x1, y1);
  o.corners[3] = map(H, x0, y1);
  o.top = map(H, xm, y0);
  o.right = map(H, x1, ym);
  o.bottom = map(H, xm, y1);
  o.left = map(H, x0, ym);
  return o;
}

// True when the whole picture stays on one side of the line H sends to infinity (w > 0 at
// every corner after H is scaled to w > 0 at the centre; w is affine in (x, y), so the
// corners decide for the whole rectangle). Scales H accordingly.
bool keepsPictureInFront(Mat3& H, PictureSize size) {
  const double x0 = -0.5, y0 = -0.5, x1 = size.width - 0.5, y1 = size.height - 0.5;
  const auto w = [&](double x, double y) { return H(2, 0) * x + H(2, 1) * y + H(2, 2); };
  const double centre = w(0.5 * (x0 + x1), 0.5 * (y0 + y1));
  if (!(std::fabs(centre) > 0.0)) return false;
  H *= 1.0 / centre;
  // A margin: a corner right at the horizon would stretch without bound.
  constexpr double kMinW = 1e-3;
  return w(x0, y0) > kMinW && w(x1, y0) > kMinW && w(x1, y1) > kMinW && w(x0, y1) > kMinW;
}

double percentile(std::vector<double> values, double q) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const double position = q * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(std::floor(position));
  const size_t above = std::min(below + 1, values.size() - 1);
  const double t = position - static_cast<double>(below);
  return values[below] + t * (values[above] - values[below]);
}

}  // namespace

DisparitySpan disparitySpan(std::vector<double> disparities) {
  DisparitySpan span;
  if (disparities.empty()) return span;
  std::sort(disparities.begin(), disparities.end());
  const size_t n = disparities.size();
  span.lowest = disparities.front();
  span.highest = disparities.back();
  if (n < kMinPairsForStrays) return span;
  const size_t tail = n / 20;
  const double bulk = percentile(disparities, 0.95) - percentile(disparities, 0.05);
  const double jump = std::max(8.0, 0.15 * bulk);
  // The jump nearest the bulk: a cluster of wrong matches beyond it goes too.
  size_t first = 0, last = n - 1;
  for (size_t i = 0; i < tail && i + 1 < n; ++i) {
    if (disparities[i + 1] - disparities[i] > jump) first = i + 1;
  }
  for (size_t i = n - 1; i > n - 1 - tail && i > first; --i) {
    if (disparities[i] - disparities[i - 1] > jump) last = i - 1;
  }
  span.lowest = disparities[first];
  span.highest = disparities[last];
  span.dropped = static_cast<int>(first + (n - 1 - last));
  return span;
}

std::vector<Correspondence> inliersOf(const Matrix3x3& F,
                                      std::span<const Correspondence> pairs,
                                      double boundPx) {
  std::vector<Correspondence> inliers;
  for (const Correspondence& c : pairs) {
    if (sampsonDistance(F, c) <= boundPx) inliers.push_back(c);
  }
  return inliers;
}

bool applyHomography(const Matrix3x3& H, double x, double y, double& outX, double& outY) {
  const double w = H[6] * x + H[7] * y + H[8];
  if (!(std::fabs(w) > 0.0)) return false;
  const double u = (H[0] * x + H[1] * y + H[2]) / w;
  const double v = (H[3] * x + H[4] * y + H[5]) / w;
  if (!std::isfinite(u) || !std::isfinite(v)) return false;
  outX = u;
  outY = v;
  return true;
}

bool epipoles(const Matrix3x3& F, std::array<double, 3>& e0, std::array<double, 3>& e1) {
  const Mat3 f = toMatx(F);
  if (!finite(f)) return false;
  cv::Mat w, u, vt;
  cv::SVD::compute(cv::Mat(f), w, u, vt, cv::SVD::FULL_UV);
  // F e0 = 0: the last right singular vector; e1^T F = 0: the last left singular vector.
  for (int i = 0; i < 3; ++i) {
    e0[i] = vt.at<double>(2, i);
    e1[i] = u.at<double>(i, 2);
  }
  return w.at<double>(0) > 0.0;
}

bool epipoleInside(const std::array<double, 3>& e, PictureSize size, double& x, double& y) {
  // Homogeneous scale: an epipole with |w| this small relative to its direction lies millions
  // of pixels away.
  if (std::fabs(e[2]) < 1e-9 * std::hypot(e[0], e[1])) return false;
  x = e[0] / e[2];
  y = e[1] / e[2];
  return x > -0.5 && y > -0.5 && x < size.width - 0.5 && y < size.height - 0.5;
}

RectificationResult rectify(const Matrix3x3& F,
                            std::span<const Correspondence> pairs,
                            PictureSize picture0,
                            PictureSize picture1) {
  if (static_cast<int>(pairs.size()) < kMinRectificationPairs) {
    return refuse(RectificationOutcome::kTooFewPairs,
                  format("Cannot rectify: %d inlier pairs, at least %d needed",
                         static_cast<int>(pairs.size()),
                         kMinRectificationPairs));
  }
  if (picture0.width <= 0 || picture0.height <= 0 || picture1.width <= 0 || picture1.height <= 0) {
    return refuse(RectificationOutcome::kFailed, "Cannot rectify: a picture has no pixels");
  }
  std::array<double, 3> e0{}, e1{};
  if (!epipoles(F, e0, e1)) {
    return refuse(RectificationOutcome::kFailed,
                  "Cannot rectify: the fundamental matrix is zero or not finite");
  }
  const std::array<PictureSize, 2> sizes{picture0, picture1};
  const std::array<std::array<double, 3>, 2> poles{e0, e1};
  for (int i = 0; i < 2; ++i) {
    double x = 0, y = 0;
    if (epipoleInside(poles[i], sizes[i], x, y)) {
      return refuse(
          RectificationOutcome::kEpipoleInside,
          format(
              "Cannot rectify: the epipole of picture %d lies inside it, at %.1f, %.1f", i, x, y));
    }
  }

  std::vector<cv::Point2d> points0, points1;
  for (const Correspondence& c : pairs) {
    points0.emplace_back(c.x0, c.y0);
    points1.emplace_back(c.x1, c.y1);
  }
  cv::Mat h0, h1;
  bool ok = false;
  try {
    // Threshold 0: the pairs are already the inliers of F.
    ok = cv::stereoRectifyUncalibrated(points0,
                                       points1,
                                       cv::Mat(toMatx(F)),
                                       cv::Size(picture0.width, picture0.height),
                                       h0,
                                       h1,
                                       0.0);
  } catch (const cv::Exception&) {
    ok = false;
  }
  if (!ok || h0.rows != 3 || h0.cols != 3 || h1.rows != 3 || h1.cols != 3) {
    return refuse(RectificationOutcome::kFailed,
                  "Cannot rectify: no rectifying homographies for this fundamental matrix");
  }
  std::array<Mat3, 2> H{Mat3(h0.ptr<double>()), Mat3(h1.ptr<double>())};
  for (int i = 0; i < 2; ++i) {
    if (!finite(H[i]) || !(std::fabs(cv::determinant(H[i])) > 0.0)) {
      return refuse(RectificationOutcome::kFailed,
                    "Cannot rectify: the rectifying homographies are degenerate");
    }
    if (!keepsPictureInFront(H[i], sizes[i])) {
      return refuse(RectificationOutcome::kFailed,
                    format("Cannot rectify: picture %d would be torn apart (its epipole is too "
                           "close to it)",
                           i));
    }
  }

  // Orientation. A mirrored picture (its outline's winding reversed) is turned about a
  // vertical axis, which changes x alone and so keeps rows aligned. Then, when the pictures'
  // "down" points up on average, both turn half a circle together (a shared y mapping).
  // Pictures turned by a quarter (a vertical baseline) stay so: their rows run along the
  // baseline.
  std::array<Outline, 2> lines;
  cv::Point2d down(0.0, 0.0);
  for (int i = 0; i < 2; ++i) {
    Outline o = outline(H[i], sizes[i]);
    const cv::Point2d x = o.right - o.left, y = o.bottom - o.top;
    if (x.x * y.y - x.y * y.x < 0.0) {
      H[i] = Mat3(-1, 0, 0, 0, 1, 0, 0, 0, 1) * H[i];
      o = outline(H[i], sizes[i]);
    }
    lines[i] = o;
    const cv::Point2d d = o.bottom - o.top;
    down += d * (1.0 / cv::norm(d));
  }
  if (down.y < 0.0) {
    const Mat3 halfTurn(-1, 0, 0, 0, -1, 0, 0, 0, 1);
    for (int i = 0; i < 2; ++i) {
      H[i] = halfTurn * H[i];
      lines[i] = outline(H[i], sizes[i]);
    }
  }

  // Loop and Zhang's shear S = [a b 0; 0 1 0; 0 0 1], chosen so that the centre lines
  // x = right - left and y = bottom - top become perpendicular with the picture's aspect
  // ratio w / h:  a = (h^2 xv^2 + w^2 yv^2) / (h w (xv yu - xu yv)),
  //               b = (h^2 xu xv + w^2 yu yv) / (h w (xu yv - xv yu)).
  double a = 0.0, b = 0.0;
  for (int i = 0; i < 2; ++i) {
    const cv::Point2d x = lines[i].right - lines[i].left;
    const cv::Point2d y = lines[i].bottom - lines[i].top;
    const double w = sizes[i].width, h = sizes[i].height;
    const double cross = x.y * y.x - x.x * y.y;
    if (!(std::fabs(cross) > 0.0)) {
      return refuse(RectificationOutcome::kFailed,
                    "Cannot rectify: a rectified picture collapses to a line");
    }
    double ai = (h * h * x.y * x.y + w * w * y.y * y.y) / (h * w * cross);
    double bi = (h * h * x.x * x.y + w * w * y.x * y.y) / (h * w * -cross);
    if (ai < 0.0) {
      ai = -ai;
      bi = -bi;
    }
    a += 0.5 * ai;
    b += 0.5 * bi;
  }
  const Mat3 shear(a, b, 0, 0, 1, 0, 0, 0, 1);
  for (Mat3& h : H) h = shear * h;

  // The smallest common scale that shrinks neither picture.
  double scale = 0.0;
  for (int i = 0; i < 2; ++i) {
    const Outline o = outline(H[i], sizes[i]);
    scale = std::max(scale, sizes[i].width / cv::norm(o.right - o.left));
    scale = std::max(scale, sizes[i].height / cv::norm(o.bottom - o.top));
  }
  if (!std::isfinite(scale) || !(scale > 0.0)) {
    return refuse(RectificationOutcome::kFailed,
                  "Cannot rectify: the rectified pictures have no extent");
  }
  const Mat3 scaling(scale, 0, 0, 0, scale, 0, 0, 0, 1);
  for (Mat3& h : H) h = scaling * h;

  // Bounding boxes of the warped pictures (a projective image of a rectangle lying in front
  // of the horizon is a convex quadrilateral: its corners bound it).
  std::array<cv::Rect2d, 2> box;
  for (int i = 0; i < 2; ++i) {
    const Outline o = outline(H[i], sizes[i]);
    double left = o.corners[0].x, right = left, top = o.corners[0].y, bottom = top;
    for (const cv::Point2d& p : o.corners) {
      left = std::min(left, p.x);
      right = std::max(right, p.x);
      top = std::min(top, p.y);
      bottom = std::max(bottom, p.y);
    }
    box[i] = cv::Rect2d(left, top, right - left, bottom - top);
  }
  // Outer edges at -0.5 so that the first pixel centre is 0.
  const double shiftY = -0.5 - std::min(box[0].y, box[1].y);
  std::array<double, 2> shiftX{-0.5 - box[0].x, -0.5 - box[1].x};

  // Disparities of the pairs with both pictures starting at column 0.
  std::vector<double> disparities;
  for (const Correspondence& c : pairs) {
    const cv::Point2d p0 = map(H[0], c.x0, c.y0), p1 = map(H[1], c.x1, c.y1);
    const double d = (p0.x + shiftX[0]) - (p1.x + shiftX[1]);
    if (std::isfinite(d)) disparities.push_back(d);
  }
  if (static_cast<int>(disparities.size()) < kMinRectificationPairs) {
    return refuse(RectificationOutcome::kFailed,
                  "Cannot rectify: the inlier pairs do not map to finite points");
  }
  const DisparitySpan span = disparitySpan(disparities);
  const double lowest = span.lowest, highest = span.highest;
  // Pairs rarely sample the nearest and farthest surfaces: a margin of a tenth of the spread,
  // at least 8 px, on both sides.
  const double margin = std::max(8.0, 0.1 * (highest - lowest));
  const double move = margin - lowest;
  if (move > 0.0) {
    shiftX[0] += move;  // picture 0 moves right: disparities grow
  } else {
    shiftX[1] -= move;  // picture 1 moves right: disparities shrink
  }

  Rectification r;
  r.scale = scale;
  r.minDisparity = margin;
  r.maxDisparity = highest - lowest + 2.0 * margin;
  double width = 0.0, height = 0.0;
  for (int i = 0; i < 2; ++i) {
    const Mat3 shift(1, 0, shiftX[i], 0, 1, shiftY, 0, 0, 1);
    H[i] = shift * H[i];
    width = std::max(width, box[i].x + box[i].width + shiftX[i] + 0.5);
    height = std::max(height, box[i].y + box[i].height + shiftY + 0.5);
  }
  const double limitW = kMaxRectifiedGrowth * std::max(picture0.width, picture1.width);
  const double limitH = kMaxRectifiedGrowth * std::max(picture0.height, picture1.height);
  if (!(width <= limitW) || !(height <= limitH)) {
    return refuse(RectificationOutcome::kFailed,
                  format("Cannot rectify: the rectified pictures would be %.0fx%.0f pixels, too "
                         "distorted to use",
                         width,
                         height));
  }
  if (width * height > kMaxRectifiedPixels) {
    return refuse(RectificationOutcome::kFailed,
                  format("Cannot rectify: the rectified pictures would be %.0fx%.0f pixels, more "
                         "than the %d megapixels that can be handled",
                         width,
                         height,
                         kMaxRectifiedPixels >> 20));
  }
  r.H0 = toArray(H[0]);
  r.H1 = toArray(H[1]);
  r.width = static_cast<int>(std::ceil(width - 1e-9));
  r.height = static_cast<int>(std::ceil(height - 1e-9));

  RectificationResult result;
  result.outcome = RectificationOutcome::kRectified;
  result.rectification = r;
  return result;
}

VerticalOffsets verticalOffsets(const Rectification& rectification,
                                std::span<const Correspondence> pairs) {
  std::vector<double> offsets;
  offsets.reserve(pairs.size());
  for (const Correspondence& c : pairs) {
    double x0, y0, x1, y1;
    if (applyHomography(rectification.H0, c.x0, c.y0, x0, y0) &&
        applyHomography(rectification.H1, c.x1, c.y1, x1, y1)) {
      offsets.push_back(std::fabs(y0 - y1));
    }
  }
  VerticalOffsets result;
  result.count = static_cast<int>(offsets.size());
  result.median = percentile(offsets, 0.5);
  result.p95 = percentile(offsets, 0.95);
  return result;
}

RectifyingWarp::Maps warpMaps(const Matrix3x3& H, int left, int top, int width, int height) {
  // warpPerspective's inverse map, tabulated once: for every rectified pixel, the picture
  // position it samples.
  const Mat3 inverse = toMatx(H).inv();
  cv::Mat floatX(height, width, CV_32F), floatY(height, width, CV_32F);
  for (int r = 0; r < height; ++r) {
    const double v = top + r;
    float* fx = floatX.ptr<float>(r);
    float* fy = floatY.ptr<float>(r);
    for (int c = 0; c < width; ++c) {
      const double u = left + c;
      const double w = inverse(2, 0) * u + inverse(2, 1) * v + inverse(2, 2);
      if (w > 0.0) {
        fx[c] = static_cast<float>((inverse(0, 0) * u + inverse(0, 1) * v + inverse(0, 2)) / w);
        fy[c] = static_cast<float>((inverse(1, 0) * u + inverse(1, 1) * v + inverse(1, 2)) / w);
      } else {
        fx[c] = fy[c] = -1e6f;  // behind the picture's horizon: outside
      }
    }
  }
  // Fixed-point tables: remap's fastest bilinear path.
  RectifyingWarp::Maps maps;
  cv::convertMaps(floatX, floatY, maps.xy, maps.fraction, CV_16SC2);
  return maps;
}

RectifyingWarp::RectifyingWarp(const Rectification& rectification, int index, PictureSize picture)
    : picture_(picture),
      output_{rectification.width, rectification.height},
      maps_(std::make_unique<Maps>()) {
  const Mat3 H = toMatx(index == 0 ? rectification.H0 : rectification.H1);
  if (output_.width <= 0 || output_.height <= 0 || !finite(H) ||
      !(std::fabs(cv::determinant(H)) > 0.0)) {
    output_ = {0, 0};  // no rectification: apply() gives nothing
    return;
  }
  *maps_ = warpMaps(
      index == 0 ? rectification.H0 : rectification.H1, 0, 0, output_.width, output_.height);
}

RectifyingWarp::~RectifyingWarp() = default;

std::unique_ptr<Image> RectifyingWarp::apply(const Image& picture) const {
  if (picture.width != picture_.width || picture.height != picture_.height || maps_->xy.empty()) {
    return nullptr;
  }
  cv::Mat out;
  remapPicture(toMat(picture), *maps_, out);
  return toImage(out);
}

void remapPicture(const cv::Mat& picture, const RectifyingWarp::Maps& maps, cv::Mat& out) {
  cv::remap(picture, out, maps.xy, maps.fraction, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
}

}  // namespace epipolar
