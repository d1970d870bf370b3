#include "vision/Disparity.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "vision/ImageMat.h"
#include "vision/RectificationInternal.h"

namespace epipolar {
namespace {

// Bounding box (in rectified pixel centres) of a picture warped by H.
cv::Rect2d warpedBox(const Matrix3x3& H, PictureSize size) {
  const double xs[2] = {-0.5, size.width - 0.5}, ys[2] = {-0.5, size.height - 0.5};
  double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
  for (double x : xs) {
    for (double y : ys) {
      double u = 0, v = 0;
      if (!applyHomography(H, x, y, u, v)) continue;
      left = std::min(left, u);
      right = std::max(right, u);
      top = std::min(top, v);
      bottom = std::max(bottom, v);
    }
  }
  return {left, top, right - left, bottom - top};
}

}  // namespace

struct DisparityMatcher::State {
  PictureSize size0, size1;
  RectifyingWarp display0, display1;
  cv::Rect roi;  // the part of the rectified frame that is matched
  RectifyingWarp::Maps maps0, maps1;
  cv::Ptr<cv::StereoSGBM> sgbm;
  int numDisparities = 16;
  cv::Mat inside0;       // 255 where the matched part of the frame lies inside picture 0
  cv::Mat inside1;       // and inside picture 1
  cv::Mat last0, last1;  // the last pictures matched, for rectified()

  State(const Rectification& r, PictureSize p0, PictureSize p1)
      : size0(p0), size1(p1), display0(r, 0, p0), display1(r, 1, p1) {}
};

DisparityMatcher::DisparityMatcher(const Rectification& rectification,
                                   PictureSize picture0,
                                   PictureSize picture1,
                                   const DisparityOptions& options)
    : rectification_(rectification),
      state_(std::make_unique<State>(rectification, picture0, picture1)) {
  State& s = *state_;
  // Disparities start at 0 (the rectification leaves a margin below the pairs' smallest);
  // StereoSGBM searches whole multiples of 16, and never more than the frame is wide.
  const double widest = std::max(16.0, static_cast<double>(rectification.width));
  s.numDisparities = 16 * static_cast<int>(std::ceil(
                              std::clamp(rectification.maxDisparity + 1.0, 16.0, widest) / 16.0));
  // Only rows both pictures cover can match, and only columns where picture 0 lies, plus the
  // search range to their left (StereoSGBM leaves the first numDisparities columns of what it
  // is given unmatched). Nothing is matched for an empty or singular rectification.
  const cv::Rect2d box0 = warpedBox(rectification.H0, picture0);
  const cv::Rect2d box1 = warpedBox(rectification.H1, picture1);
  const auto within = [](double value, int limit) {
    return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
  };
  if (!s.display0.maps().xy.empty() && !s.display1.maps().xy.empty()) {
    const int top = within(std::floor(std::max(box0.y, box1.y)), rectification.height);
    const int bottom = within(std::ceil(std::min(box0.y + box0.height, box1.y + box1.height)) + 1,
                              rectification.height);
    const int left = within(std::floor(box0.x) - s.numDisparities, rectification.width);
    const int right = within(std::ceil(box0.x + box0.width) + 1, rectification.width);
    s.roi = cv::Rect(left, top, std::max(0, right - left), std::max(0, bottom - top));
  }
  if (!s.roi.empty()) {
    s.maps0 = warpMaps(rectification.H0, s.roi.x, s.roi.y, s.roi.width, s.roi.height);
    s.maps1 = warpMaps(rectification.H1, s.roi.x, s.roi.y, s.roi.width, s.roi.height);
    // Outside picture 0 there is nothing to match (black border can "match" black border);
    // pixels blended with the border are left out too.
    remapPicture(
        cv::Mat(picture0.height, picture0.width, CV_8U, cv::Scalar(255)), s.maps0, s.inside0);
    remapPicture(
        cv::Mat(picture1.height, picture1.width, CV_8U, cv::Scalar(255)), s.maps1, s.inside1);
  }
  const int area = options.blockSize * options.blockSize;
  // P1 and P2: the smoothness penalties OpenCV's own stereo sample uses for one channel.
  s.sgbm = cv::StereoSGBM::create(0,
                                  s.numDisparities,
                                  options.blockSize,
                                  8 * area,
                                  32 * area,
                                  options.maxLeftRightDifference,
                                  63,
                                  options.uniquenessRatio,
                                  options.speckleWindowSize,
                                  options.speckleRange,
                                  cv::StereoSGBM::MODE_SGBM_3WAY);
}

DisparityMatcher::~DisparityMatcher() = default;

DisparityMap DisparityMatcher::compute(const Image& picture0, const Image& picture1) {
  State& s = *state_;
  DisparityMap map;
  if (picture0.width != s.size0.width || picture0.height != s.size0.height ||
      picture1.width != s.size1.width || picture1.height != s.size1.height) {
    return map;
  }
  s.last0 = toMat(picture0);
  s.last1 = toMat(picture1);
  map.width = rectification_.width;
  map.height = rectification_.height;
  map.minDisparity = 0.0;
  map.maxDisparity = s.numDisparities - 1;
  map.disparity.assign(static_cast<size_t>(map.width) * map.height,
                       std::numeric_limits<float>::quiet_NaN());
  if (s.roi.empty()) return map;

  cv::Mat gray0, gray1, rect0, rect1, fixed;
  try {
    cv::cvtColor(s.last0, gray0, cv::COLOR_BGR2GRAY);
    cv::cvtColor(s.last1, gray1, cv::COLOR_BGR2GRAY);
    remapPicture(gray0, s.maps0, rect0);
    remapPicture(gray1, s.maps1, rect1);
    s.sgbm->compute(rect0, rect1, fixed);  // CV_16S, 1/16 px; invalid is -16
  } catch (const std::exception&) {        // OpenCV reports running out of memory by throwing
    return DisparityMap{};
  }
  for (int r = 0; r < fixed.rows; ++r) {
    const std::int16_t* in = fixed.ptr<std::int16_t>(r);
    const std::uint8_t* inside0 = s.inside0.ptr<std::uint8_t>(r);
    const std::uint8_t* inside1 = s.inside1.ptr<std::uint8_t>(r);
    float* out = &map.disparity[static_cast<size_t>(s.roi.y + r) * map.width + s.roi.x];
    for (int c = 0; c < fixed.cols; ++c) {
      if (in[c] < 0 || inside0[c] != 255) continue;
      // A match in picture 1's black surround is no match: both columns next to the
      // partner's sub-pixel position must lie inside picture 1.
      const int far = c - (in[c] + 15) / 16, near = c - in[c] / 16;
      if (far < 0 || inside1[far] != 255 || inside1[near] != 255) continue;
      out[c] = in[c] / 16.0f;
    }
  }
  return map;
}

std::unique_ptr<Image> DisparityMatcher::rectified(int index) const {
  const State& s = *state_;
  const cv::Mat& last = index == 0 ? s.last0 : s.last1;
  const RectifyingWarp::Maps& maps = (index == 0 ? s.display0 : s.display1).maps();
  if (last.empty() || maps.xy.empty()) return nullptr;
  cv::Mat out;
  remapPicture(last, maps, out);
  return toImage(out);
}

std::unique_ptr<Image> colourDisparity(const DisparityMap& map) {
  if (map.empty()) return nullptr;
  cv::Mat levels(map.height, map.width, CV_8U);
  const double span = std::max(1.0, map.maxDisparity - map.minDisparity);
  for (int y = 0; y < map.height; ++y) {
    std::uint8_t* row = levels.ptr<std::uint8_t>(y);
    for (int x = 0; x < map.width; ++x) {
      const float d = map.at(x, y);
      row[x] = std::isnan(d) ? 0
                             : static_cast<std::uint8_t>(std::clamp(
                                   std::lround(255.0 * (d - map.minDisparity) / span), 0L, 255L));
    }
  }
  cv::Mat colour;
  cv::applyColorMap(levels, colour, cv::COLORMAP_TURBO);
  for (int y = 0; y < map.height; ++y) {
    cv::Vec3b* row = colour.ptr<cv::Vec3b>(y);
    for (int x = 0; x < map.width; ++x) {
      if (std::isnan(map.at(x, y))) row[x] = cv::Vec3b(0, 0, 0);
    }
  }
  return toImage(colour);
}

std::vector<std::uint16_t> disparityTimes256(const DisparityMap& map) {
  std::vector<std::uint16_t> raw(map.disparity.size(), 0);
  for (size_t i = 0; i < raw.size(); ++i) {
    const float d = map.disparity[i];
    if (std::isnan(d)) continue;
    raw[i] = static_cast<std::uint16_t>(std::clamp(std::lround(d * 256.0), 1L, 65535L));
  }
  return raw;
}

}  // namespace epipolar
