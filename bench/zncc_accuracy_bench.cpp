// Accuracy of the ZNCC match search on real pictures, and of the precise clicks on the
// virtual rig.
//
// Real pictures (../shared/data, or --data=PATH, or $EPIPOLAR_DATA; skipped with a message
// when absent): for every labelled inlier pair of merton, library and hartley, the search
// runs from the pair's point in either picture along its line under the reference F, and
// the figure is the share of matches within 2 px of the labelled partner (targets: 90% on
// merton and library, 85% on hartley, whose labels are noisier) and the median distance.
// The band is the one the program would use after an accurate calibration: clamp(3 x RMS
// Sampson error, 3, 20) px, here of the reference F over the labelled inliers. corr has 13
// hand-marked check pairs and no reference F: F is fitted to those pairs (normalised
// eight-point, least squares), and the figures are reported without a target.
//
// --zncc_sweep also prints the measurements the search's settings were chosen from: the share
// within 2 px for the plain window search, with growing flat windows, and with the warped
// re-ranking; for window sizes 11, 15 and 21 on luminance and on three channels; and for the
// confidence test, how many wrong and right matches each pair of thresholds flags. Before
// those, what the labels allow: partners beyond the band, the share a perfect search could
// reach if the labels erred along the line as much as across it, and the search confined to
// 3 px around the labelled partner; then every miss of the default search by its first cause
// (partner beyond the band; the confined search misses too, so the windows agree best more
// than 2 px from the label; otherwise a look-alike along the line, and how many of those were
// flagged uncertain).
//
// Rig (always): whole-pixel clicks within 2 px of the rig's planar junctions
// (capture/testing/RigJunctions.h), first click snapped to its corner, second click
// refined in the other picture; median and worst distance to the exact projections
// (targets 0.3 px and 1 px). The same over every landmark is reported without a target.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "capture/VirtualScene.h"
#include "capture/gstreamer/ImageFile.h"
#include "capture/testing/RigJunctions.h"
#include "geometry/Correspondence.h"
#include "geometry/Matrix.h"
#include "geometry/PreciseClick.h"
#include "geometry/Residuals.h"
#include "geometry/ZnccInternal.h"
#include "geometry/ZnccSearch.h"

namespace epipolar {
namespace {

namespace fs = std::filesystem;

constexpr double kHit = 2.0;  // px: a match this close to the labelled partner is right

bool readRows(const fs::path& file, int columns, std::vector<std::vector<double>>& rows) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<double> row(static_cast<std::size_t>(columns));
    for (double& value : row) fields >> value;
    if (fields) rows.push_back(std::move(row));
  }
  return true;
}

double median(std::vector<double> values) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Matrix3x3 transposed(const Matrix3x3& F) {
  return {F[0], F[3], F[6], F[1], F[4], F[7], F[2], F[5], F[8]};
}

// Normalised eight-point fit by least squares over all pairs (Hartley and Zisserman,
// algorithm 11.1), rank 2 enforced.
Matrix3x3 leastSquaresFundamental(const std::vector<Correspondence>& pairs) {
  auto normaliser = [&](bool second) {
    double cx = 0, cy = 0, spread = 0;
    for (const Correspondence& c : pairs) {
      cx += second ? c.x1 : c.x0;
      cy += second ? c.y1 : c.y0;
    }
    cx /= pairs.size();
    cy /= pairs.size();
    for (const Correspondence& c : pairs)
      spread += std::hypot((second ? c.x1 : c.x0) - cx, (second ? c.y1 : c.y0) - cy);
    const double s = std::sqrt(2.0) * pairs.size() / spread;
    const double values[9] = {s, 0, -s * cx, 0, s, -s * cy, 0, 0, 1};
    return Matrix(values, 3, 3);
  };
  const Matrix T0 = normaliser(false), T1 = normaliser(true);
  Matrix A(static_cast<int>(std::max<std::size_t>(pairs.size(), 9)), 9);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const double x = T0(0, 0) * pairs[k].x0 + T0(0, 2), y = T0(1, 1) * pairs[k].y0 + T0(1, 2);
    const double xp = T1(0, 0) * pairs[k].x1 + T1(0, 2), yp = T1(1, 1) * pairs[k].y1 + T1(1, 2);
    const double row[9] = {xp * x, xp * y, xp, yp * x, yp * y, yp, x, y, 1.0};
    for (int j = 0; j < 9; ++j) A(static_cast<int>(k), j) = row[j];
  }
  Matrix U, V;
  Vector S;
  A.svd(U, S, V);
  const Vector f = V.column(8);
  Matrix Fn(f.data(), 3, 3);
  Fn.svd(U, S, V);
  S[2] = 0.0;
  Fn.composeSvd(U, S, V);
  const Matrix F = T1.transpose() * Fn * T0;
  Matrix3x3 result;
  for (int k = 0; k < 9; ++k) result[k] = F(k / 3, k % 3);
  return result;
}

struct Scene {
  std::string name;
  std::unique_ptr<Image> pictures[2];
  Matrix3x3 F{};
  std::vector<Correspondence> pairs;  // the labelled inliers (or the check pairs)
  double band = kZnccWideBand;
  double target = -1;  // share in percent; negative: report only
};

bool loadScene(Scene& scene,
               const fs::path& root,
               const std::string& folder,
               const std::string& picture0,
               const std::string& picture1,
               const std::string& pairsFile) {
  for (int k = 0; k < 2; ++k) {
    ImageFileResult loaded = loadImageFile((root / (k == 0 ? picture0 : picture1)).string());
    if (!loaded.image) {
      std::printf("%s: %s\n", scene.name.c_str(), loaded.error.c_str());
      return false;
    }
    scene.pictures[k] = std::move(loaded.image);
  }
  std::vector<std::vector<double>> rows, labels, fRows;
  if (!readRows(root / folder / pairsFile, 4, rows) || rows.empty()) return false;
  const bool labelled = readRows(root / folder / "labels.txt", 1, labels) &&
                        labels.size() == rows.size() && pairsFile == "corr.txt";
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (labelled && !(labels[k][0] > 0)) continue;
    scene.pairs.push_back({rows[k][0], rows[k][1], rows[k][2], rows[k][3]});
  }
  if (readRows(root / folder / "F_gt.txt", 3, fRows) && fRows.size() == 3) {
    for (int k = 0; k < 9; ++k) scene.F[k] = fRows[k / 3][k % 3];
  } else {
    scene.F = leastSquaresFundamental(scene.pairs);
  }
  double sum = 0;
  for (const Correspondence& c : scene.pairs) {
    const double d = sampsonDistance(scene.F, c);
    sum += d * d;
  }
  scene.band = znccBand(std::sqrt(sum / scene.pairs.size()));
  return true;
}

struct Outcome {
  double error;  // distance to the labelled partner, px
  ZnccMatch match;
};

// Both directions for every pair.
std::vector<Outcome> runScene(const Scene& scene,
                              const detail::ZnccSettings& settings,
                              double band) {
  std::vector<Outcome> outcomes;
  const Matrix3x3 Ft = transposed(scene.F);
  for (const Correspondence& c : scene.pairs) {
    const ZnccMatch forward = detail::searchZncc(
        *scene.pictures[0], *scene.pictures[1], {c.x0, c.y0}, scene.F, band, settings);
    outcomes.push_back({std::hypot(forward.position.x - c.x1, forward.position.y - c.y1), forward});
    const ZnccMatch backward = detail::searchZncc(
        *scene.pictures[1], *scene.pictures[0], {c.x1, c.y1}, Ft, band, settings);
    outcomes.push_back(
        {std::hypot(backward.position.x - c.x0, backward.position.y - c.y0), backward});
  }
  return outcomes;
}

double shareWithin(const std::vector<Outcome>& outcomes, double limit) {
  const auto hits = std::count_if(
      outcomes.begin(), outcomes.end(), [&](const Outcome& o) { return o.error <= limit; });
  return 100.0 * static_cast<double>(hits) / static_cast<double>(outcomes.size());
}

void sweep(const std::vector<Scene>& scenes) {
  std::printf("\nMethod: share within %.0f px (band as above)\n", kHit);
  struct Variant {
    const char* name;
    detail::ZnccSettings settings;
  };
  const Variant variants[] = {
      {"15x15 window only", {kZnccWindowSize, false, kZnccWindowSize, 0, 0, 2, 0}},
      {"+ flat windows grow", {kZnccWindowSize, false, 39, 0, 0, 2, 0}},
      {"+ warped re-ranking", {kZnccWindowSize, false, 39, 6, 0, 2, 0}},
      {"+ context ranking (default)", {}},
      {"+ 27x27 when uncertain", {kZnccWindowSize, false, 39, 6, 20, 2, 27}},
  };
  for (const Variant& v : variants) {
    std::printf("%-34s", v.name);
    for (const Scene& scene : scenes) {
      std::printf(" %s %5.1f%%",
                  scene.name.c_str(),
                  shareWithin(runScene(scene, v.settings, scene.band), kHit));
    }
    std::printf("\n");
  }
  std::printf("\nWindow size and samples: share within %.0f px (band as above)\n", kHit);
  std::printf("%-10s", "scene");
  for (int size : {11, 15, 21})
    for (bool colour : {false, true}) std::printf(" %6d%-6s", size, colour ? " rgb" : " luma");
  std::printf("\n");
  for (const Scene& scene : scenes) {
    std::printf("%-10s", scene.name.c_str());
    for (int size : {11, 15, 21}) {
      for (bool colour : {false, true}) {
        detail::ZnccSettings settings;
        settings.windowSize = size;
        settings.colour = colour;
        std::printf(" %11.1f%%", shareWithin(runScene(scene, settings, scene.band), kHit));
      }
    }
    std::printf("\n");
  }

  std::printf("\nConfidence test on every scene (default settings): matches flagged uncertain\n");
  std::vector<Outcome> all;
  for (const Scene& scene : scenes) {
    const std::vector<Outcome> outcomes = runScene(scene, {}, scene.band);
    all.insert(all.end(), outcomes.begin(), outcomes.end());
  }
  std::printf(
      "%-9s %-10s %14s %14s\n", "min score", "next share", "wrong flagged", "right flagged");
  for (double minScore : {0.5, 0.6, 0.7, 0.8}) {
    for (double nextShare : {0.8, 0.85, 0.9, 0.95}) {
      int wrong = 0, wrongFlagged = 0, right = 0, rightFlagged = 0;
      for (const Outcome& o : all) {
        const bool flagged = o.match.score < minScore || o.match.next > nextShare * o.match.score;
        (o.error <= kHit ? right : wrong)++;
        if (flagged) (o.error <= kHit ? rightFlagged : wrongFlagged)++;
      }
      std::printf("%-9.2f %-10.2f %8d/%-5d %8d/%-5d\n",
                  minScore,
                  nextShare,
                  wrongFlagged,
                  wrong,
                  rightFlagged,
                  right);
    }
  }
}

// How far the labels themselves allow a window match to reach the 2 px figure.
//  - Partners beyond the band: no search under the reference F reaches them.
//  - Label noise: each label's distance from its partner's line under the reference F is
//    label error across the line (plus the reference F's own error). If the error along the
//    line is alike and independent, a search that finds every true match exactly is within
//    2 px of the label for the share of pairs (i, j) of those distances with
//    d_i^2 + d_j^2 <= 4.
//  - The search confined to the labelled partner's surroundings: B cut to 3 px around the
//    partner (plus the window), the line moved through the partner, band 3 px, so no
//    look-alike along the line competes. What it still misses is where the windows agree
//    best more than 2 px from the label.
void reportLabelAgreement(const std::vector<Scene>& scenes) {
  std::printf("\nWhat the labels allow (reference F, band as above)\n");
  std::printf("%-8s %14s %18s %24s\n",
              "scene",
              "beyond band",
              "label-noise bound",
              "confined to 3 px: within 2");
  struct Misses {
    int searches = 0, beyond = 0, confined = 0, lookAlike = 0, lookAlikeFlagged = 0;
    int confinedConsistent = 0;
  };
  std::vector<Misses> misses;
  for (const Scene& scene : scenes) {
    const std::vector<Outcome> full = runScene(scene, {}, scene.band);
    Misses& m = misses.emplace_back();
    std::vector<double> distances;
    int beyond = 0;
    for (const Correspondence& c : scene.pairs) {
      const EpipolarDistances d = epipolarDistances(scene.F, c);
      for (double value : {d.d0, d.d1}) {
        distances.push_back(value);
        beyond += std::fabs(value) > scene.band;
      }
    }
    double within = 0;
    for (double di : distances)
      for (double dj : distances) within += di * di + dj * dj <= kHit * kHit;
    const double bound =
        100.0 * within / (static_cast<double>(distances.size()) * distances.size());

    constexpr int kRadius = 3;
    const Matrix3x3 Ft = transposed(scene.F);
    int hits = 0, searches = 0;
    for (const Correspondence& c : scene.pairs) {
      for (int from = 0; from < 2; ++from) {
        const ImagePosition source =
            from == 0 ? ImagePosition{c.x0, c.y0} : ImagePosition{c.x1, c.y1};
        const ImagePosition partner =
            from == 0 ? ImagePosition{c.x1, c.y1} : ImagePosition{c.x0, c.y0};
        const Matrix3x3& M = from == 0 ? scene.F : Ft;
        const Image& b = *scene.pictures[1 - from];
        // Room for the 15x15 window (a flat window that grows finds nothing and counts as a
        // miss).
        const int margin = kRadius + kZnccWindowSize / 2 + 1;
        const int left = std::max(0, static_cast<int>(partner.x) - margin);
        const int top = std::max(0, static_cast<int>(partner.y) - margin);
        const int right = std::min(b.width, static_cast<int>(partner.x) + margin + 1);
        const int bottom = std::min(b.height, static_cast<int>(partner.y) + margin + 1);
        auto cut = Image::blank(right - left, bottom - top);
        for (int y = 0; y < cut->height; ++y)
          std::memcpy(
              cut->row(y), b.row(y + top) + 3 * left, static_cast<std::size_t>(3) * cut->width);
        // The line in the cut's pixels, moved through the partner: M's last row absorbs both.
        Matrix3x3 moved = M;
        for (int i = 0; i < 3; ++i) moved[6 + i] += M[i] * left + M[3 + i] * top;
        const double la = M[0] * source.x + M[1] * source.y + M[2];
        const double lb = M[3] * source.x + M[4] * source.y + M[5];
        const double lc = moved[6] * source.x + moved[7] * source.y + moved[8];
        moved[8] -= la * (partner.x - left) + lb * (partner.y - top) + lc;
        const ZnccMatch match =
            searchZnccAlongLine(*scene.pictures[from], *cut, source, moved, kRadius);
        const bool hit = match.found && std::hypot(match.position.x + left - partner.x,
                                                   match.position.y + top - partner.y) <= kHit;
        hits += hit;
        // Each miss of the full search by its first cause.
        const Outcome& o = full[searches++];
        if (o.error <= kHit) continue;
        if (std::fabs(from == 0 ? epipolarDistances(scene.F, c).d1
                                : epipolarDistances(scene.F, c).d0) > scene.band) {
          ++m.beyond;
        } else if (!hit) {
          ++m.confined;
          // Searched back from where it was found, does it come back to the source? Then
          // both pictures agree best on that pair of points, not on the labelled one.
          const ZnccMatch back = searchZnccAlongLine(
              b, *scene.pictures[from], o.match.position, transposed(M), scene.band);
          m.confinedConsistent += back.found && std::hypot(back.position.x - source.x,
                                                           back.position.y - source.y) <= 1.0;
        } else {
          ++m.lookAlike;
          m.lookAlikeFlagged += o.match.uncertain;
        }
      }
    }
    m.searches = searches;
    std::printf("%-8s %8d (%4.1f%%) %17.1f%% %23.1f%%\n",
                scene.name.c_str(),
                beyond,
                100.0 * beyond / distances.size(),
                bound,
                100.0 * hits / searches);
  }
  std::printf("\nMisses of the search (default settings) by first cause, share of searches\n");
  std::printf("%-8s %9s %12s %22s %20s %22s\n",
              "scene",
              "searches",
              "beyond band",
              "confined search misses",
              "(back within 1 px)",
              "look-alike (flagged)");
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const Misses& m = misses[i];
    const double n = m.searches;
    std::printf("%-8s %9d %11.1f%% %21.1f%% %14d/%-5d %14.1f%% (%d/%d)\n",
                scenes[i].name.c_str(),
                m.searches,
                100.0 * m.beyond / n,
                100.0 * m.confined / n,
                m.confinedConsistent,
                m.confined,
                100.0 * m.lookAlike / n,
                m.lookAlikeFlagged,
                m.lookAlike);
  }
}

void reportRealPictures(const fs::path& root, bool withSweep) {
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    std::printf("No real pictures at %s: accuracy on real pictures skipped.\n", root.c_str());
    return;
  }
  std::vector<Scene> scenes;
  struct Source {
    const char* name;
    const char* folder;
    const char* picture0;
    const char* picture1;
    const char* pairs;
    double target;
  };
  for (const Source& s : {Source{"merton",
                                 "vgg_merton1",
                                 "vgg_merton1/raw/001.jpg",
                                 "vgg_merton1/raw/002.jpg",
                                 "corr.txt",
                                 90},
                          Source{"library",
                                 "magsac_fm/library",
                                 "magsac_fm/raw/libraryA.png",
                                 "magsac_fm/raw/libraryB.png",
                                 "corr.txt",
                                 90},
                          Source{"hartley",
                                 "magsac_fm/hartley",
                                 "magsac_fm/raw/hartleyA.png",
                                 "magsac_fm/raw/hartleyB.png",
                                 "corr.txt",
                                 85},
                          Source{"corr",
                                 "magsac_fm/corr",
                                 "magsac_fm/raw/corrA.png",
                                 "magsac_fm/raw/corrB.png",
                                 "vpts.txt",
                                 -1}}) {
    Scene scene;
    scene.name = s.name;
    scene.target = s.target;
    if (loadScene(scene, root, s.folder, s.picture0, s.picture1, s.pairs)) {
      scenes.push_back(std::move(scene));
    } else {
      std::printf("%s: data missing or unreadable, skipped\n", s.name);
    }
  }
  if (scenes.empty()) return;

  std::printf("\nZNCC search on real pictures, reference F, source point in either picture\n");
  std::printf("%-8s %6s %7s %9s %9s %10s %12s %14s\n",
              "scene",
              "pairs",
              "band",
              "within 2",
              "median",
              "uncertain",
              "within 2 of",
              "band 20: within");
  std::printf(
      "%-8s %6s %7s %9s %9s %10s %12s %14s\n", "", "", "px", "px", "px", "", "certain", "2 px");
  for (const Scene& scene : scenes) {
    const std::vector<Outcome> outcomes = runScene(scene, {}, scene.band);
    std::vector<double> errors;
    std::vector<Outcome> certain;
    for (const Outcome& o : outcomes) {
      errors.push_back(o.error);
      if (!o.match.uncertain) certain.push_back(o);
    }
    const double share = shareWithin(outcomes, kHit);
    const double wideShare = shareWithin(runScene(scene, {}, kZnccWideBand), kHit);
    std::printf("%-8s %6zu %7.2f %8.1f%% %9.2f %9.1f%% %11.1f%% %13.1f%%\n",
                scene.name.c_str(),
                scene.pairs.size(),
                scene.band,
                share,
                median(errors),
                100.0 - 100.0 * certain.size() / outcomes.size(),
                certain.empty() ? 0.0 : shareWithin(certain, kHit),
                wideShare);
    const std::string targets =
        scene.target < 0 ? "-" : "value>=" + std::to_string(static_cast<int>(scene.target));
    bench::printResult("zncc_within_2px_" + scene.name, share, "%", targets);
    bench::printResult("zncc_median_error_" + scene.name, median(errors), "px", "-");
  }
  if (withSweep) {
    reportLabelAgreement(scenes);
    sweep(scenes);
  }
}

// Rig clicks: first click snapped in one picture, second refined in the other, both
// directions, three random whole-pixel clicks within 2 px per landmark and direction.
void reportRig() {
  auto scene = std::make_shared<const VirtualScene>();
  VirtualView view0(scene, 0, 21), view1(scene, 1, 22);
  const std::unique_ptr<Image> frames[2] = {view0.renderFrame(0.0), view1.renderFrame(0.0)};
  std::mt19937 engine(3);
  auto clickNear = [&](double truth) {
    std::uniform_int_distribution<int> pick(static_cast<int>(std::ceil(truth - 2)),
                                            static_cast<int>(std::floor(truth + 2)));
    return static_cast<double>(pick(engine));
  };
  auto measure = [&](const std::vector<RigLandmark>& landmarks,
                     std::vector<double>& firstErrors,
                     std::vector<double>& secondErrors) {
    for (int from = 0; from < 2; ++from) {
      for (const RigLandmark& l : landmarks) {
        const ImagePosition t0 = from == 0 ? ImagePosition{l.x0, l.y0} : ImagePosition{l.x1, l.y1};
        const ImagePosition t1 = from == 0 ? ImagePosition{l.x1, l.y1} : ImagePosition{l.x0, l.y0};
        for (int trial = 0; trial < 3; ++trial) {
          const RefinedClick a = snapToCorner(*frames[from], {clickNear(t0.x), clickNear(t0.y)});
          const RefinedClick b = refineMatchingClick(
              *frames[from], a.position, *frames[1 - from], {clickNear(t1.x), clickNear(t1.y)});
          firstErrors.push_back(std::hypot(a.position.x - t0.x, a.position.y - t0.y));
          secondErrors.push_back(std::hypot(b.position.x - t1.x, b.position.y - t1.y));
        }
      }
    }
  };
  std::vector<double> junctionFirst, junctionSecond, allFirst, allSecond;
  const std::vector<RigLandmark> junctions = testing::rigJunctions(*scene, 0.0);
  measure(junctions, junctionFirst, junctionSecond);
  measure(scene->landmarks(), allFirst, allSecond);
  auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  std::printf("\nPrecise clicks on the virtual rig (clicks within 2 px, both directions)\n");
  std::printf("%-34s %9s %9s %9s %9s\n", "", "first", "", "second", "");
  std::printf("%-34s %9s %9s %9s %9s\n", "landmarks", "median", "worst", "median", "worst");
  std::printf("%-34s %9.3f %9.3f %9.3f %9.3f\n",
              ("planar junctions (" + std::to_string(junctions.size()) + ")").c_str(),
              median(junctionFirst),
              worst(junctionFirst),
              median(junctionSecond),
              worst(junctionSecond));
  std::printf("%-34s %9.3f %9.3f %9.3f %9.3f\n",
              ("every landmark (" + std::to_string(scene->landmarks().size()) + ")").c_str(),
              median(allFirst),
              worst(allFirst),
              median(allSecond),
              worst(allSecond));
  bench::printResult("click_snap_median_rig", median(junctionFirst), "px", "value<=0.3");
  bench::printResult("click_snap_worst_rig", worst(junctionFirst), "px", "value<=1");
  bench::printResult("click_match_median_rig", median(junctionSecond), "px", "value<=0.3");
  bench::printResult("click_match_worst_rig", worst(junctionSecond), "px", "value<=1");
  bench::printResult("click_snap_median_rig_all", median(allFirst), "px", "-");
  bench::printResult("click_match_median_rig_all", median(allSecond), "px", "-");
}

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path data = fs::path(EPIPOLAR_SOURCE_DIR) / ".." / "shared" / "data";
  if (const char* env = std::getenv("EPIPOLAR_DATA")) data = env;
  bool sweep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--data=", 7) == 0) {
      data = argv[i] + 7;
    } else if (std::strcmp(argv[i], "--zncc_sweep") == 0) {
      sweep = true;
    }
    // Other arguments (bench/run passes Google Benchmark's) are not for this binary.
  }
  epipolar::reportRealPictures(data.lexically_normal(), sweep);
  epipolar::reportRig();
  return 0;
}
