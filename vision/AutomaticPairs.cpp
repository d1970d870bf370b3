#include "vision/AutomaticPairs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <numeric>
#include <opencv2/core.hpp>

#include "geometry/Fundamental.h"
#include "vision/Features.h"
#include "vision/ImageMat.h"

namespace epipolar {
namespace {

// The robust fit that decides which matches are pairs: the accurate estimator at the
// caller's bound (fixed seed: the same matches give the same pairs on every run).
FundamentalReport verifyMatches(const std::vector<Correspondence>& matches, double thresholdPx) {
  FundamentalOptions options;
  options.method = FundamentalMethod::kAccurate;
  options.inlierThreshold = thresholdPx;
  return estimateFundamental(matches, options);
}

// Drops pairs that reuse a point already taken by a more distinctive pair: SIFT gives one
// keypoint per dominant orientation, so one corner can appear several times. `order` lists
// the pairs most distinctive first.
std::vector<size_t> distinctPairs(const std::vector<Correspondence>& pairs,
                                  const std::vector<size_t>& order) {
  constexpr double kSamePointPx = 0.5;
  std::vector<size_t> kept;
  for (size_t index : order) {
    const Correspondence& c = pairs[index];
    bool taken = false;
    for (size_t k : kept) {
      const Correspondence& d = pairs[k];
      if ((std::fabs(c.x0 - d.x0) < kSamePointPx && std::fabs(c.y0 - d.y0) < kSamePointPx) ||
          (std::fabs(c.x1 - d.x1) < kSamePointPx && std::fabs(c.y1 - d.y1) < kSamePointPx)) {
        taken = true;
        break;
      }
    }
    if (!taken) kept.push_back(index);
  }
  return kept;
}

}  // namespace

AutomaticPairsResult findAutomaticPairs(const Image& picture0,
                                        const Image& picture1,
                                        const AutomaticPairsOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  AutomaticPairsResult result;
  const auto finish = [&](AutomaticPairsOutcome outcome, std::string message) {
    result.outcome = outcome;
    result.message = std::move(message);
    if (outcome != AutomaticPairsOutcome::kFound) result.pairs.clear();
    result.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return result;
  };

  Features features0, features1;
  std::vector<FeatureMatch> found;
  try {
    detectFeaturePair(toGrayMat(picture0), toGrayMat(picture1), options, features0, features1);
    found = matchFeatures(features0.descriptors, features1.descriptors, options.ratio);
  } catch (const std::exception& e) {  // OpenCV reports running out of memory by throwing
    return finish(AutomaticPairsOutcome::kTooFewMatches,
                  std::string("Automatic pairs: the feature search failed (") + e.what() + ")");
  }
  result.features0 = static_cast<int>(features0.keypoints.size());
  result.features1 = static_cast<int>(features1.keypoints.size());

  std::vector<Correspondence> matches;
  matches.reserve(found.size());
  for (const FeatureMatch& m : found) {
    const cv::Point2f& p0 = features0.keypoints[m.index0].pt;
    const cv::Point2f& p1 = features1.keypoints[m.index1].pt;
    matches.push_back({p0.x, p0.y, p1.x, p1.y});
  }
  result.matches = static_cast<int>(matches.size());
  if (result.matches < kMinVerifiedPairs) {
    char text[128];
    std::snprintf(text,
                  sizeof text,
                  "Automatic pairs: only %d matches between the pictures, at least %d needed",
                  result.matches,
                  kMinVerifiedPairs);
    return finish(AutomaticPairsOutcome::kTooFewMatches, text);
  }

  const FundamentalReport verification = verifyMatches(matches, options.inlierThresholdPx);
  result.warnings = verification.warnings;
  std::vector<size_t> order;
  for (size_t i = 0; verification.found && i < matches.size(); ++i) {
    if (verification.inlierMask[i]) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return found[a].ratio < found[b].ratio;
  });
  order = distinctPairs(matches, order);
  result.verified = static_cast<int>(order.size());
  if (!verification.found || result.verified < kMinVerifiedPairs) {
    char text[128];
    std::snprintf(text,
                  sizeof text,
                  "Automatic pairs: no fundamental matrix fits the %d matches",
                  result.matches);
    return finish(AutomaticPairsOutcome::kNoModel, text);
  }
  if (options.maxPairs > 0 && static_cast<int>(order.size()) > options.maxPairs) {
    order.resize(static_cast<size_t>(options.maxPairs));
  }
  for (size_t index : order) result.pairs.push_back(matches[index]);
  result.F = verification.F;
  return finish(AutomaticPairsOutcome::kFound, "");
}

std::string automaticPairsLogText(int added, int matches, double milliseconds) {
  char text[128];
  std::snprintf(text,
                sizeof text,
                "Automatic pairs: %d added from %d matches in %.1f ms",
                added,
                matches,
                milliseconds);
  return text;
}

}  // namespace epipolar
