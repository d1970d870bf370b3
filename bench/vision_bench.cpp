// vision/ on the virtual rig and on the shared real scenes.
//
// Speed (wall-clock medians, OpenCV's thread pool on all cores), each against a plain OpenCV
// pipeline doing the same job, timed in the same run:
//   automatic_pairs_rig_640x480  findAutomaticPairs on a rig frame pair; baseline: default
//                                SIFT, BFMatcher k-nearest both ways (ratio 0.8 and mutual
//                                check), findFundamentalMat USAC_ACCURATE. Target <= 250 ms.
//   disparity_rig_640x480        DisparityMatcher::compute (warp and match); baseline: two
//                                warpPerspective calls onto the whole rectified frame and the
//                                same StereoSGBM settings on all of it. Target <= 125 ms
//                                (8 maps per second).
//   automatic_pairs_rig_cpu, disparity_rig_cpu: the same calls' process CPU time (all
//                                threads), median of 7: on two idle cores the wall time lies
//                                between half of it and all of it, whatever the load now.
// Accuracy on the rig (exact landmarks, true disparity):
//   automatic_pairs_rig_pairs    verified pairs (target >= 200); baseline: what OpenCV's
//                                default SIFT gives through the same matching and check.
//   automatic_pairs_rig_F_error  mean symmetric epipolar distance of the pairs' F over the
//                                landmarks (target <= 0.3 px); baseline: the OpenCV pipeline's.
//   rectify_rig_dy_median, _p95  landmarks' vertical offsets after rectifying with that F and
//                                the pairs (targets <= 0.3 and <= 1.0 px).
//   disparity_rig_valid          share of the pixels both cameras see (2 px from depth edges
//                                and the balls left out) with a disparity (target >= 70%);
//   disparity_rig_within_1px     share of those within 1 px of the truth (target >= 80%).
// Real scenes (corr.txt pairs; check pairs: all pairs of house and merton, label > 0 of
// library and hartley):
//   automatic_pairs_<scene>_F_error  merton, library, hartley: automatic pairs in the scene's
//                                pictures; mean symmetric epipolar distance of their F over
//                                the check pairs moved onto the reference geometry (target
//                                <= 1 px); baseline: the OpenCV pipeline's F.
//   rectify_<scene>_dy_median, _p95  house, merton, library, hartley: rectify with the accurate
//                                estimator's F from the scene's pairs and its inliers at 1 px
//                                Sampson, vertical offsets of the check pairs; baseline: the
//                                reference F through the same method; target ratio <= 1.1.
// The data folder is --data=PATH, else $EPIPOLAR_DATA, else ../shared/data beside the source
// tree.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/TwoViewData.h"
#include "capture/gstreamer/ImageFile.h"
#include "geometry/Fundamental.h"
#include "vision/AutomaticPairs.h"
#include "vision/Disparity.h"
#include "vision/ImageMat.h"
#include "vision/Rectification.h"
#include "vision/testing/DisparityScore.h"
#include "vision/testing/RigPair.h"

namespace epipolar {
namespace {

constexpr PictureSize kVga{VirtualScene::kWidth, VirtualScene::kHeight};

Matrix3x3 normalised(const cv::Mat& F) {
  Matrix3x3 out{};
  if (F.rows != 3 || F.cols != 3) return out;
  const double norm = cv::norm(F);
  for (int i = 0; i < 9; ++i) out[i] = F.at<double>(i / 3, i % 3) / norm;
  return out;
}

// The pipeline a user of OpenCV writes first: default SIFT, brute-force matching both ways.
struct OpenCvPairs {
  std::vector<Correspondence> pairs;
  Matrix3x3 F{};
};

OpenCvPairs openCvPairs(const cv::Mat& gray0, const cv::Mat& gray1) {
  cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
  std::vector<cv::KeyPoint> k0, k1;
  cv::Mat d0, d1;
  sift->detectAndCompute(gray0, cv::noArray(), k0, d0);
  sift->detectAndCompute(gray1, cv::noArray(), k1, d1);
  cv::BFMatcher matcher(cv::NORM_L2);
  std::vector<std::vector<cv::DMatch>> forward, backward;
  matcher.knnMatch(d0, d1, forward, 2);
  matcher.knnMatch(d1, d0, backward, 1);
  std::vector<Correspondence> matches;
  std::vector<cv::Point2f> p0, p1;
  for (const auto& m : forward) {
    if (m.size() < 2 || !(m[0].distance < 0.8f * m[1].distance)) continue;
    if (backward[m[0].trainIdx].empty() || backward[m[0].trainIdx][0].trainIdx != m[0].queryIdx)
      continue;
    p0.push_back(k0[m[0].queryIdx].pt);
    p1.push_back(k1[m[0].trainIdx].pt);
  }
  OpenCvPairs result;
  if (p0.size() < 8) return result;
  cv::Mat mask;
  result.F = normalised(cv::findFundamentalMat(p0, p1, cv::USAC_ACCURATE, 1.0, 0.999, 10000, mask));
  for (size_t i = 0; i < p0.size(); ++i) {
    if (mask.at<std::uint8_t>(static_cast<int>(i)))
      result.pairs.push_back({p0[i].x, p0[i].y, p1[i].x, p1[i].y});
  }
  return result;
}

struct RigInputs {
  const testing::RigPair* rig = nullptr;
  cv::Mat gray0, gray1;
  Rectification rectification;
};

RigInputs& rigInputs() {
  static RigInputs inputs = [] {
    RigInputs in;
    in.rig = &testing::rigPair();
    in.gray0 = toGrayMat(*in.rig->frame0);
    in.gray1 = toGrayMat(*in.rig->frame1);
    const RectificationResult r = rectify(in.rig->automatic.F, in.rig->automatic.pairs, kVga, kVga);
    in.rectification = r.rectification;
    return in;
  }();
  return inputs;
}

void BM_AutomaticPairs(benchmark::State& state) {
  const RigInputs& in = rigInputs();
  for (auto _ : state) {
    benchmark::DoNotOptimize(findAutomaticPairs(*in.rig->frame0, *in.rig->frame1));
  }
}

void BM_AutomaticPairsOpenCv(benchmark::State& state) {
  const RigInputs& in = rigInputs();
  for (auto _ : state) {
    // The Image to grey conversion is part of the job on both sides.
    const cv::Mat gray0 = toGrayMat(*in.rig->frame0), gray1 = toGrayMat(*in.rig->frame1);
    benchmark::DoNotOptimize(openCvPairs(gray0, gray1));
  }
}

const DisparityOptions defaults;

void BM_Disparity(benchmark::State& state) {
  const RigInputs& in = rigInputs();
  DisparityMatcher matcher(in.rectification, kVga, kVga);
  for (auto _ : state) {
    benchmark::DoNotOptimize(matcher.compute(*in.rig->frame0, *in.rig->frame1));
  }
}

void BM_DisparityOpenCv(benchmark::State& state) {
  const RigInputs& in = rigInputs();
  const Rectification& r = in.rectification;
  const cv::Size size(r.width, r.height);
  const int numDisparities =
      std::max(16, 16 * static_cast<int>(std::ceil((r.maxDisparity + 1.0) / 16.0)));
  const int area = defaults.blockSize * defaults.blockSize;
  cv::Ptr<cv::StereoSGBM> sgbm = cv::StereoSGBM::create(0,
                                                        numDisparities,
                                                        defaults.blockSize,
                                                        8 * area,
                                                        32 * area,
                                                        defaults.maxLeftRightDifference,
                                                        63,
                                                        defaults.uniquenessRatio,
                                                        defaults.speckleWindowSize,
                                                        defaults.speckleRange,
                                                        cv::StereoSGBM::MODE_SGBM_3WAY);
  for (auto _ : state) {
    cv::Mat gray0, gray1, rect0, rect1, disparity;
    cv::cvtColor(toMat(*in.rig->frame0), gray0, cv::COLOR_BGR2GRAY);
    cv::cvtColor(toMat(*in.rig->frame1), gray1, cv::COLOR_BGR2GRAY);
    cv::warpPerspective(
        gray0, rect0, cv::Mat(3, 3, CV_64F, const_cast<double*>(r.H0.data())), size);
    cv::warpPerspective(
        gray1, rect1, cv::Mat(3, 3, CV_64F, const_cast<double*>(r.H1.data())), size);
    sgbm->compute(rect0, rect1, disparity);
    benchmark::DoNotOptimize(disparity.data);
  }
}

BENCHMARK(BM_AutomaticPairs)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_AutomaticPairsOpenCv)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Disparity)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DisparityOpenCv)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

double processCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return 1e3 * static_cast<double>(now.tv_sec) + 1e-6 * static_cast<double>(now.tv_nsec);
}

template <typename Work>
double medianCpuMs(Work work) {
  std::vector<double> times;
  for (int i = 0; i < 7; ++i) {
    const double start = processCpuMs();
    work();
    times.push_back(processCpuMs() - start);
  }
  std::nth_element(times.begin(), times.begin() + 3, times.end());
  return times[3];
}

void reportRig(const bench::MedianReporter& reporter) {
  const RigInputs& in = rigInputs();
  const testing::RigPair& rig = *in.rig;
  const double ours = reporter.medianMs("BM_AutomaticPairs");
  const double plain = reporter.medianMs("BM_AutomaticPairsOpenCv");
  if (ours > 0 && plain > 0) {
    bench::printResult(
        "automatic_pairs_rig_640x480", ours, "ms", plain, plain / ours, "value<=250");
  }
  bench::printResult("automatic_pairs_rig_cpu",
                     medianCpuMs([&] { findAutomaticPairs(*rig.frame0, *rig.frame1); }),
                     "ms",
                     "-");
  const OpenCvPairs baseline = openCvPairs(in.gray0, in.gray1);
  const double pairs = static_cast<double>(rig.automatic.pairs.size());
  const double basePairs = static_cast<double>(baseline.pairs.size());
  bench::printResult(
      "automatic_pairs_rig_pairs", pairs, "pairs", basePairs, pairs / basePairs, "value>=200");
  const double error = meanSymmetricEpipolarDistance(rig.automatic.F, rig.landmarks);
  const double baseError = meanSymmetricEpipolarDistance(baseline.F, rig.landmarks);
  bench::printResult(
      "automatic_pairs_rig_F_error", error, "px", baseError, baseError / error, "value<=0.3");

  const VerticalOffsets rows = verticalOffsets(in.rectification, rig.landmarks);
  bench::printResult("rectify_rig_dy_median", rows.median, "px", "value<=0.3");
  bench::printResult("rectify_rig_dy_p95", rows.p95, "px", "value<=1.0");

  DisparityMatcher matcher(in.rectification, kVga, kVga);
  const DisparityMap map = matcher.compute(*rig.frame0, *rig.frame1);
  const testing::DisparityScore score = testing::scoreOnRig(map, rig, in.rectification, 1.0);
  if (score.counted > 0 && score.valid > 0) {
    bench::printResult("disparity_rig_valid", 100.0 * score.validShare(), "%", "value>=70");
    bench::printResult("disparity_rig_within_1px", 100.0 * score.goodShare(), "%", "value>=80");
  }
  bench::printResult("disparity_rig_cpu",
                     medianCpuMs([&] { matcher.compute(*rig.frame0, *rig.frame1); }),
                     "ms",
                     "-");
  const double map_ms = reporter.medianMs("BM_Disparity");
  const double plainMap = reporter.medianMs("BM_DisparityOpenCv");
  if (map_ms > 0 && plainMap > 0) {
    bench::printResult(
        "disparity_rig_640x480", map_ms, "ms", plainMap, plainMap / map_ms, "value<=125");
  }
}

// ---- real scenes ----

struct Scene {
  const char* name;
  const char* folder;
  PictureSize size;      // when there are no pictures (house: the VGG Model House frames)
  bool labelled;         // inliers are label > 0; otherwise every pair
  const char* picture0;  // relative to the data folder; null when the scene has none
  const char* picture1;
};

constexpr Scene kScenes[] = {{"house", "vgg_house", {768, 576}, false, nullptr, nullptr},
                             {"merton",
                              "vgg_merton1",
                              {1024, 768},
                              false,
                              "vgg_merton1/raw/001.jpg",
                              "vgg_merton1/raw/002.jpg"},
                             {"library",
                              "magsac_fm/library",
                              {455, 341},
                              true,
                              "magsac_fm/raw/libraryA.png",
                              "magsac_fm/raw/libraryB.png"},
                             {"hartley",
                              "magsac_fm/hartley",
                              {500, 375},
                              true,
                              "magsac_fm/raw/hartleyA.png",
                              "magsac_fm/raw/hartleyB.png"}};

struct SceneData {
  std::vector<Correspondence> pairs;  // corr.txt
  std::vector<Correspondence> check;  // the labelled inliers (all pairs when unlabelled)
  Matrix3x3 reference{};
};

bool readScene(const std::filesystem::path& root, const Scene& scene, SceneData& data) {
  const std::filesystem::path dir = root / scene.folder;
  std::vector<std::vector<double>> corrRows, fRows, labelRows;
  if (!bench::readRows(dir / "corr.txt", 4, corrRows) ||
      !bench::readRows(dir / "F_gt.txt", 3, fRows) || fRows.size() != 3 ||
      (scene.labelled && (!bench::readRows(dir / "labels.txt", 1, labelRows) ||
                          labelRows.size() != corrRows.size()))) {
    std::printf(
        "vision_bench: %s not found under %s; its rows are skipped\n", scene.name, root.c_str());
    return false;
  }
  for (size_t k = 0; k < corrRows.size(); ++k) {
    const auto& r = corrRows[k];
    data.pairs.push_back({r[0], r[1], r[2], r[3]});
    if (!scene.labelled || labelRows[k][0] > 0) data.check.push_back(data.pairs.back());
  }
  for (int i = 0; i < 9; ++i) data.reference[i] = fRows[i / 3][i % 3];
  return true;
}

// Each camera-1 point moved to the nearest point of its epipolar line under the reference F, so
// the pairs fit the reference geometry exactly and a distance measures only the estimate (as
// fundamental_bench does).
std::vector<Correspondence> ontoReference(const Matrix3x3& F, std::vector<Correspondence> pairs) {
  for (Correspondence& c : pairs) {
    const double a = F[0] * c.x0 + F[1] * c.y0 + F[2];
    const double b = F[3] * c.x0 + F[4] * c.y0 + F[5];
    const double d = (a * c.x1 + b * c.y1 + F[6] * c.x0 + F[7] * c.y0 + F[8]) / (a * a + b * b);
    c.x1 -= d * a;
    c.y1 -= d * b;
  }
  return pairs;
}

void reportRealScenes(const std::filesystem::path& root) {
  for (const Scene& scene : kScenes) {
    SceneData data;
    if (!readScene(root, scene, data)) continue;
    PictureSize size0 = scene.size, size1 = scene.size;

    if (scene.picture0 != nullptr) {
      const ImageFileResult a = loadImageFile((root / scene.picture0).string());
      const ImageFileResult b = loadImageFile((root / scene.picture1).string());
      if (!a.image || !b.image) {
        std::printf("vision_bench: %s\n", (a.image ? b.error : a.error).c_str());
      } else {
        size0 = {a.image->width, a.image->height};
        size1 = {b.image->width, b.image->height};
        const AutomaticPairsResult found = findAutomaticPairs(*a.image, *b.image);
        const OpenCvPairs plain = openCvPairs(toGrayMat(*a.image), toGrayMat(*b.image));
        const std::vector<Correspondence> check = ontoReference(data.reference, data.check);
        const double error = found.outcome == AutomaticPairsOutcome::kFound
                                 ? meanSymmetricEpipolarDistance(found.F, check)
                                 : std::numeric_limits<double>::infinity();
        const double plainError = meanSymmetricEpipolarDistance(plain.F, check);
        std::printf("vision_bench: %s: %zu automatic pairs from %d matches in %.0f ms\n",
                    scene.name,
                    found.pairs.size(),
                    found.matches,
                    found.milliseconds);
        bench::printResult(std::string("automatic_pairs_") + scene.name + "_F_error",
                           error,
                           "px",
                           plainError,
                           plainError / error,
                           "value<=1");
      }
    }

    FundamentalOptions accurate;
    accurate.method = FundamentalMethod::kAccurate;
    const Matrix3x3 estimated = estimateFundamental(data.pairs, accurate).F;
    VerticalOffsets rows[2];
    bool ok = true;
    for (int k = 0; k < 2; ++k) {
      const Matrix3x3& F = k == 0 ? estimated : data.reference;
      const RectificationResult r = rectify(F, inliersOf(F, data.pairs), size0, size1);
      if (r.outcome != RectificationOutcome::kRectified) {
        std::printf("vision_bench: %s: %s\n", scene.name, r.message.c_str());
        ok = false;
        break;
      }
      rows[k] = verticalOffsets(r.rectification, data.check);
    }
    if (!ok) continue;
    const std::string figure = std::string("rectify_") + scene.name;
    bench::printResult(figure + "_dy_median",
                       rows[0].median,
                       "px",
                       rows[1].median,
                       rows[0].median / rows[1].median,
                       "ratio<=1.1");
    bench::printResult(figure + "_dy_p95",
                       rows[0].p95,
                       "px",
                       rows[1].p95,
                       rows[0].p95 / rows[1].p95,
                       "ratio<=1.1");
  }
}

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  std::filesystem::path data =
      std::filesystem::path(EPIPOLAR_SOURCE_DIR) / ".." / "shared" / "data";
  if (const char* env = std::getenv("EPIPOLAR_DATA")) data = env;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--data=", 7) == 0) {
      data = argv[i] + 7;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  epipolar::bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  epipolar::reportRig(reporter);
  epipolar::reportRealScenes(data.lexically_normal());
  return 0;
}
