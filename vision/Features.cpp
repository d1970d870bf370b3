#include "vision/Features.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <opencv2/imgproc.hpp>

namespace epipolar {

Features detectFeatures(const cv::Mat& gray, const AutomaticPairsOptions& options) {
  Features features;
  if (gray.empty()) return features;
  // SIFT doubles the picture first, so its memory and time grow with four times the pixels:
  // a large photograph is searched at a bounded size and the positions scaled back. With
  // pixel centres at whole numbers, x = (x' + 0.5) / s - 0.5.
  const int side = std::max(gray.cols, gray.rows);
  if (options.maxDetectionSide > 0 && side > options.maxDetectionSide) {
    const double s = static_cast<double>(options.maxDetectionSide) / side;
    cv::Mat smaller;
    cv::resize(gray, smaller, cv::Size(), s, s, cv::INTER_AREA);
    AutomaticPairsOptions unbounded = options;
    unbounded.maxDetectionSide = 0;
    features = detectFeatures(smaller, unbounded);
    const double sx = static_cast<double>(smaller.cols) / gray.cols;
    const double sy = static_cast<double>(smaller.rows) / gray.rows;
    for (cv::KeyPoint& k : features.keypoints) {
      k.pt.x = static_cast<float>((k.pt.x + 0.5) / sx - 0.5);
      k.pt.y = static_cast<float>((k.pt.y + 0.5) / sy - 0.5);
      k.size = static_cast<float>(k.size / sx);
    }
    return features;
  }
  // 3 layers per octave, edge threshold 10 and sigma 1.6 are Lowe's values and OpenCV's
  // defaults. Descriptors as 8-bit: SIFT saturates them to bytes anyway, and byte rows halve
  // the matching's memory traffic.
  cv::Ptr<cv::SIFT> sift =
      cv::SIFT::create(options.maxFeatures, 3, options.contrastThreshold, 10.0, 1.6, CV_8U);
  sift->detectAndCompute(gray, cv::noArray(), features.keypoints, features.descriptors);
  return features;
}

void detectFeaturePair(const cv::Mat& gray0,
                       const cv::Mat& gray1,
                       const AutomaticPairsOptions& options,
                       Features& features0,
                       Features& features1) {
  cv::parallel_for_(
      cv::Range(0, 2),
      [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
          (i == 0 ? features0 : features1) = detectFeatures(i == 0 ? gray0 : gray1, options);
        }
      },
      2);
}

namespace {

// Descriptor rows widened to 16 bits, so that the inner product below compiles to
// multiply-add instructions (pmaddwd) on every x86-64 processor.
std::vector<std::int16_t> widened(const cv::Mat& descriptors) {
  std::vector<std::int16_t> out(static_cast<size_t>(descriptors.rows) * descriptors.cols);
  for (int r = 0; r < descriptors.rows; ++r) {
    const std::uint8_t* row = descriptors.ptr<std::uint8_t>(r);
    std::copy(row,
              row + descriptors.cols,
              out.begin() + static_cast<std::ptrdiff_t>(r) * descriptors.cols);
  }
  return out;
}

std::int32_t dot(const std::int16_t* a, const std::int16_t* b, int length) {
  std::int32_t sum = 0;
  for (int k = 0; k < length; ++k) sum += static_cast<std::int32_t>(a[k]) * b[k];
  return sum;
}

}  // namespace

std::vector<FeatureMatch> matchFeatures(const cv::Mat& descriptors0,
                                        const cv::Mat& descriptors1,
                                        double ratio) {
  std::vector<FeatureMatch> matches;
  const int n0 = descriptors0.rows;
  const int n1 = descriptors1.rows;
  const int length = descriptors0.cols;
  if (n0 < 1 || n1 < 2 || descriptors1.cols != length || descriptors0.type() != CV_8UC1 ||
      descriptors1.type() != CV_8UC1) {
    return matches;
  }
  // Every squared distance, exactly, as |a|^2 + |b|^2 - 2 a.b in 32-bit integers (at most
  // 128 * 255^2). Each row then gives the best and second-best partner in picture 1 and each
  // column the best partner in picture 0, so the mutual check needs no second search.
  // OpenCV's batchDistance takes 3 to 30 times as long on these rows (bench/README.md).
  const std::vector<std::int16_t> a = widened(descriptors0);
  const std::vector<std::int16_t> b = widened(descriptors1);
  std::vector<std::int32_t> norm0(n0), norm1(n1);
  for (int i = 0; i < n0; ++i)
    norm0[i] =
        dot(&a[static_cast<size_t>(i) * length], &a[static_cast<size_t>(i) * length], length);
  for (int j = 0; j < n1; ++j)
    norm1[j] =
        dot(&b[static_cast<size_t>(j) * length], &b[static_cast<size_t>(j) * length], length);
  // Stripes of picture-0 rows, each with its own column minima, merged in stripe order so
  // ties go to the lowest row as in one pass. Memory stays linear in the feature counts: a
  // stripe's distances live only while it runs.
  constexpr int kStripeRows = 128;
  const int stripes = (n0 + kStripeRows - 1) / kStripeRows;
  constexpr std::int32_t kFar = std::numeric_limits<std::int32_t>::max();
  std::vector<int> best1(n0, -1);
  std::vector<std::int32_t> best1Distance(n0, kFar), second1Distance(n0, kFar);
  std::vector<std::vector<int>> stripeBest0(stripes);
  std::vector<std::vector<std::int32_t>> stripeBest0Distance(stripes);
  // Blocks of picture-1 rows small enough to stay in the first-level cache while every
  // picture-0 row of a stripe passes over them.
  constexpr int kBlock = 32;
  cv::parallel_for_(cv::Range(0, stripes), [&](const cv::Range& range) {
    for (int s = range.start; s < range.end; ++s) {
      const int i0 = s * kStripeRows, i1 = std::min(n0, i0 + kStripeRows);
      std::vector<std::int32_t> distances(static_cast<size_t>(i1 - i0) * n1);
      for (int j0 = 0; j0 < n1; j0 += kBlock) {
        const int j1 = std::min(n1, j0 + kBlock);
        for (int i = i0; i < i1; ++i) {
          const std::int16_t* ai = &a[static_cast<size_t>(i) * length];
          std::int32_t* out = &distances[static_cast<size_t>(i - i0) * n1];
          for (int j = j0; j < j1; ++j) {
            out[j] = norm0[i] + norm1[j] - 2 * dot(ai, &b[static_cast<size_t>(j) * length], length);
          }
        }
      }
      std::vector<int>& best0 = stripeBest0[s];
      std::vector<std::int32_t>& best0Distance = stripeBest0Distance[s];
      best0.assign(n1, -1);
      best0Distance.assign(n1, kFar);
      for (int i = i0; i < i1; ++i) {
        const std::int32_t* row = &distances[static_cast<size_t>(i - i0) * n1];
        std::int32_t first = kFar, second = kFar;
        int firstIndex = -1;
        for (int j = 0; j < n1; ++j) {
          const std::int32_t d = row[j];
          if (d < first) {
            second = first;
            first = d;
            firstIndex = j;
          } else if (d < second) {
            second = d;
          }
          if (d < best0Distance[j]) {
            best0Distance[j] = d;
            best0[j] = i;
          }
        }
        best1[i] = firstIndex;
        best1Distance[i] = first;
        second1Distance[i] = second;
      }
    }
  });
  std::vector<int> best0(n1, -1);
  std::vector<std::int32_t> best0Distance(n1, kFar);
  for (int s = 0; s < stripes; ++s) {
    for (int j = 0; j < n1; ++j) {
      if (stripeBest0Distance[s][j] < best0Distance[j]) {
        best0Distance[j] = stripeBest0Distance[s][j];
        best0[j] = stripeBest0[s][j];
      }
    }
  }
  // Squared distances: d1 < r d2 is d1^2 < r^2 d2^2.
  const double ratio2 = ratio * ratio;
  for (int i = 0; i < n0; ++i) {
    const int j = best1[i];
    if (j < 0 || best0[j] != i) continue;
    if (!(best1Distance[i] < ratio2 * second1Distance[i])) continue;
    // Passing the test needs a positive second distance.
    const float r =
        static_cast<float>(std::sqrt(static_cast<double>(best1Distance[i]) / second1Distance[i]));
    matches.push_back({i, j, r});
  }
  return matches;
}

}  // namespace epipolar
