// Cost of one RANSAC run of estimateFundamental against the work every run cannot avoid: one
// 9x9 and one 3x3 GSL singular value decomposition, timed in the same process. Reports
// microseconds per run and the ratio to that baseline at n = 8, 64 and 512 correspondences,
// with 0% and 40% outliers.
//
// Afterwards, when the real two-view data is present, reports accuracy on each scene: the
// mean symmetric epipolar distance (pixels) of the estimated F on check pairs moved onto the
// reference geometry F_gt. The data folder is --data=PATH, else $EPIPOLAR_DATA, else
// ../shared/data beside the source tree; a missing folder is skipped quietly.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/TwoViewData.h"
#include "geometry/Fundamental.h"
#include "geometry/FundamentalReference.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

// Thread CPU time: other processes on a shared machine then slow down neither side of the
// ratio.
double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Counts the "Run " lines. The text is dropped, or with `fd` >= 0 written there with one
// write(2) per line as the standard-error sink does.
struct RunCounter {
  long runs = 0;
  LogSink previous;
  explicit RunCounter(int fd = -1) {
    previous = setLogSink([this, fd](std::string_view unit) {
      if (unit.starts_with("Run ")) ++runs;
      if (fd >= 0) writeAll(fd, unit);
    });
  }
  ~RunCounter() { setLogSink(previous); }
};

// The two bare decompositions of one run, on storage allocated once. The inputs are the
// design matrices and 3x3 null-vector matrices of the first runs on the 64-pair scene with 40%
// outliers, so the baseline decomposes what the runs decompose (GSL's iteration count depends
// on the matrix).
struct BaselineInput {
  double design[81];
  double fundamental[9];
};

std::vector<BaselineInput> baselineInputs() {
  const std::vector<Correspondence> records = bench::syntheticScene(64, 0.4, 42);
  RandSequence random;
  std::vector<BaselineInput> inputs(256);
  for (BaselineInput& input : inputs) {
    const std::vector<Correspondence> sample = shuffledSampleReference(records, random);
    const Matrix T0 = normalisingTransformReference(sample, 0);
    const Matrix T1 = normalisingTransformReference(sample, 1);
    for (int k = 0; k < 8; ++k) {
      const Vector p = T0 * homogeneousPoint(sample[k].x0, sample[k].y0);
      const Vector q = T1 * homogeneousPoint(sample[k].x1, sample[k].y1);
      const double row[9] = {
          q[0] * p[0], q[0] * p[1], q[0], q[1] * p[0], q[1] * p[1], q[1], p[0], p[1], 1.0};
      std::copy(row, row + 9, input.design + 9 * k);
    }
    std::fill(input.design + 72, input.design + 81, 0.0);
    Matrix U, V;
    Vector S;
    Matrix(input.design, 9, 9).svd(U, S, V);
    for (int k = 0; k < 9; ++k) input.fundamental[k] = V(k, 8);
  }
  return inputs;
}

class BareDecompositions {
 public:
  BareDecompositions()
      : inputs_(baselineInputs()),
        a9_(gsl_matrix_alloc(9, 9)),
        v9_(gsl_matrix_alloc(9, 9)),
        s9_(gsl_vector_alloc(9)),
        w9_(gsl_vector_alloc(9)),
        a3_(gsl_matrix_alloc(3, 3)),
        v3_(gsl_matrix_alloc(3, 3)),
        s3_(gsl_vector_alloc(3)),
        w3_(gsl_vector_alloc(3)) {}
  ~BareDecompositions() {
    gsl_matrix_free(a9_);
    gsl_matrix_free(v9_);
    gsl_vector_free(s9_);
    gsl_vector_free(w9_);
    gsl_matrix_free(a3_);
    gsl_matrix_free(v3_);
    gsl_vector_free(s3_);
    gsl_vector_free(w3_);
  }
  void run() {
    const BaselineInput& input = inputs_[next_++ % inputs_.size()];
    std::memcpy(a9_->data, input.design, sizeof input.design);
    gsl_linalg_SV_decomp(a9_, v9_, s9_, w9_);
    std::memcpy(a3_->data, input.fundamental, sizeof input.fundamental);
    gsl_linalg_SV_decomp(a3_, v3_, s3_, w3_);
    benchmark::DoNotOptimize(s3_->data[2]);
    benchmark::DoNotOptimize(s9_->data[8]);
  }

 private:
  std::vector<BaselineInput> inputs_;
  size_t next_ = 0;
  gsl_matrix *a9_, *v9_;
  gsl_vector *s9_, *w9_;
  gsl_matrix *a3_, *v3_;
  gsl_vector *s3_, *w3_;
};

void BM_BareDecompositions(benchmark::State& state) {
  BareDecompositions bare;
  for (auto _ : state) bare.run();
}
BENCHMARK(BM_BareDecompositions)->Unit(benchmark::kMicrosecond);

// Totals over every call of each estimation benchmark, for the result lines.
struct RunTotals {
  double estimateSeconds = 0.0;
  double baselineSeconds = 0.0;
  double runs = 0.0;
};
std::map<std::pair<int, int>, RunTotals>& runTotals() {
  static std::map<std::pair<int, int>, RunTotals> totals;
  return totals;
}

// Each iteration times one estimation and then as many bare decomposition pairs as it made
// runs, so both sides of the ratio see the same machine load.
void BM_EstimateFundamental(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double outlierShare = static_cast<double>(state.range(1)) / 100.0;
  const std::vector<Correspondence> records = bench::syntheticScene(n, outlierShare, 42);
  BareDecompositions bare;
  RunCounter counter;
  double estimateSeconds = 0.0;
  double baselineSeconds = 0.0;
  for (auto _ : state) {
    // A fresh sequence per call: every iteration does the same runs.
    RandSequence random;
    Matrix T0, T1, F;
    const long runsBefore = counter.runs;
    const double start = cpuSeconds();
    estimateFundamental(records, T0, T1, F, random);
    const double middle = cpuSeconds();
    for (long k = runsBefore; k < counter.runs; ++k) bare.run();
    const double end = cpuSeconds();
    estimateSeconds += middle - start;
    baselineSeconds += end - middle;
    benchmark::DoNotOptimize(F.data());
  }
  const double runs = static_cast<double>(counter.runs);
  RunTotals& totals = runTotals()[{n, static_cast<int>(state.range(1))}];
  totals.estimateSeconds += estimateSeconds;
  totals.baselineSeconds += baselineSeconds;
  totals.runs += runs;
  state.counters["runs"] = runs / static_cast<double>(state.iterations());
  state.counters["us_per_run"] = estimateSeconds * 1e6 / runs;
  state.counters["baseline_us"] = baselineSeconds * 1e6 / runs;
  state.counters["ratio"] = estimateSeconds / baselineSeconds;
}
BENCHMARK(BM_EstimateFundamental)
    ->ArgsProduct({{8, 64, 512}, {0, 40}})
    ->ArgNames({"n", "outlier%"})
    ->Unit(benchmark::kMillisecond);

// The longest a calibration can take. Pairs on which models find few inliers hold the run
// limit at its bound, kRunWorkBound / max(n, 64) runs (at least 7024). This measures the CPU
// cost of a run on random pairs, with every line written to /dev/null by one write(2) as the
// standard-error sink does, and projects it onto the bound ("worst_s").
void BM_RunLimitWorstCase(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<Correspondence> records = bench::syntheticScene(n, 1.0, 5);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  RunCounter counter(devNull);
  double seconds = 0.0;
  for (auto _ : state) {
    RandSequence random;
    Matrix T0, T1, F;
    const double start = cpuSeconds();
    estimateFundamental(records, T0, T1, F, random);
    seconds += cpuSeconds() - start;
  }
  close(devNull);
  const double perRun = seconds / static_cast<double>(counter.runs);
  state.counters["runs"] =
      static_cast<double>(counter.runs) / static_cast<double>(state.iterations());
  state.counters["us_per_run"] = perRun * 1e6;
  state.counters["bound_runs"] = ransacRunLimit(0.0, n);
  state.counters["worst_s"] = perRun * ransacRunLimit(0.0, n);
}
BENCHMARK(BM_RunLimitWorstCase)
    ->Arg(64)
    ->Arg(10000)
    ->ArgName("n")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// One result line per estimation figure: CPU microseconds per RANSAC run over the bare
// decompositions' floor. The 64-pair scene with 40% outliers carries the target.
void printRunFigures() {
  for (const auto& [key, totals] : runTotals()) {
    if (totals.runs == 0 || totals.baselineSeconds <= 0) continue;
    const auto [n, outliers] = key;
    const double value = totals.estimateSeconds * 1e6 / totals.runs;
    const double baseline = totals.baselineSeconds * 1e6 / totals.runs;
    const bool target = n == 64 && outliers == 40;
    bench::printResult(
        "fundamental_run_n" + std::to_string(n) + "_outliers" + std::to_string(outliers),
        value,
        "us",
        baseline,
        value / baseline,
        target ? "ratio<=1.3" : "-");
  }
}

// The estimation loop scores models with the two-at-a-time path; it must agree bit for bit
// with the plain one on the benchmark's own scene.
bool fastScoreMatchesPlainScore() {
  const std::vector<Correspondence> records = bench::syntheticScene(512, 0.4, 42);
  RunCounter counter;
  RandSequence random;
  Matrix T0, T1, F(3, 3);
  estimateFundamental(records, T0, T1, F, random);
  std::array<double, 9> values;
  std::copy(F.data(), F.data() + 9, values.begin());
  const EpipolarErrorResult plain = epipolarErrorReference(F, records);
  const EpipolarErrorResult fast = epipolarError(values, records);
  if (plain.inliers == fast.inliers && std::memcmp(&plain.error, &fast.error, sizeof(double)) == 0)
    return true;
  std::fprintf(stderr,
               "fundamental_bench: fast score %d / %.17g differs from plain %d / %.17g\n",
               fast.inliers,
               fast.error,
               plain.inliers,
               plain.error);
  return false;
}

// ---- accuracy on real scenes ----

std::vector<Correspondence> toCorrespondences(const std::vector<std::vector<double>>& rows) {
  std::vector<Correspondence> records;
  for (const auto& r : rows) records.push_back({r[0], r[1], r[2], r[3]});
  return records;
}

double pointLineDistance(const Vector& line, double x, double y) {
  return std::fabs(line[0] * x + line[1] * y + line[2]) / std::hypot(line[0], line[1]);
}

// Mean over the pairs of the two point-to-epipolar-line distances, in pixels.
double symmetricDistance(const Matrix& F, const std::vector<Correspondence>& pairs) {
  double sum = 0.0;
  for (const Correspondence& c : pairs) {
    sum += pointLineDistance(F * homogeneousPoint(c.x0, c.y0), c.x1, c.y1);
    sum += pointLineDistance(F.transpose() * homogeneousPoint(c.x1, c.y1), c.x0, c.y0);
  }
  return sum / (2.0 * static_cast<double>(pairs.size()));
}

// Moves each camera-1 point to the nearest point of its F_gt epipolar line, so the pairs fit
// the reference geometry exactly and the distance measures only the estimate.
std::vector<Correspondence> ontoReference(const Matrix& Fgt, std::vector<Correspondence> pairs) {
  for (Correspondence& c : pairs) {
    const Vector l = Fgt * homogeneousPoint(c.x0, c.y0);
    const double d = (l[0] * c.x1 + l[1] * c.y1 + l[2]) / (l[0] * l[0] + l[1] * l[1]);
    c.x1 -= d * l[0];
    c.y1 -= d * l[1];
  }
  return pairs;
}

void reportScene(const std::filesystem::path& dir, const std::string& name) {
  std::vector<std::vector<double>> corrRows, fRows, labelRows, checkRows;
  if (!bench::readRows(dir / "corr.txt", 4, corrRows) ||
      !bench::readRows(dir / "F_gt.txt", 3, fRows) || fRows.size() != 3 || corrRows.size() < 8) {
    return;
  }
  double f[9];
  for (int k = 0; k < 9; ++k) f[k] = fRows[k / 3][k % 3];
  const Matrix Fgt(f, 3, 3);
  const std::vector<Correspondence> records = toCorrespondences(corrRows);

  // Check pairs: hand-marked ones when given, else the labelled inliers, else all pairs.
  std::vector<Correspondence> check;
  if (bench::readRows(dir / "vpts.txt", 4, checkRows) && !checkRows.empty()) {
    check = toCorrespondences(checkRows);
  } else if (bench::readRows(dir / "labels.txt", 1, labelRows) &&
             labelRows.size() == records.size()) {
    for (size_t k = 0; k < records.size(); ++k)
      if (labelRows[k][0] > 0) check.push_back(records[k]);
  } else {
    check = records;
  }
  if (check.empty()) return;

  RunCounter counter;
  RandSequence random;
  Matrix T0, T1, F(3, 3);
  const double start = cpuSeconds();
  estimateFundamental(records, T0, T1, F, random);
  const double ms = (cpuSeconds() - start) * 1e3;
  const EpipolarErrorResult fit = epipolarErrorReference(F, records);
  std::printf(
      "%-20s %5zu pairs %6ld runs %8.2f ms %4d inliers  estimate %8.3f px  (F_gt on raw check "
      "pairs %6.3f px, %zu pairs)\n",
      name.c_str(),
      records.size(),
      counter.runs,
      ms,
      fit.inliers,
      symmetricDistance(F, ontoReference(Fgt, check)),
      symmetricDistance(Fgt, check),
      check.size());
  std::string figure = "fundamental_accuracy_" + name;
  std::replace(figure.begin(), figure.end(), '/', '_');
  bench::printResult(figure, symmetricDistance(F, ontoReference(Fgt, check)), "px", "-");
}

void reportRealScenes(const std::filesystem::path& root) {
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return;
  std::vector<std::filesystem::path> scenes;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error))
    if (entry.is_regular_file() && entry.path().filename() == "F_gt.txt")
      scenes.push_back(entry.path().parent_path());
  if (scenes.empty()) return;
  std::sort(scenes.begin(), scenes.end());
  std::printf("\nAccuracy on %s (mean symmetric epipolar distance to the reference geometry):\n",
              root.c_str());
  for (const auto& dir : scenes) reportScene(dir, std::filesystem::relative(dir, root).string());
}

}  // namespace
}  // namespace epipolar

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  const std::filesystem::path data = epipolar::bench::dataFolder(EPIPOLAR_SOURCE_DIR, args);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!epipolar::fastScoreMatchesPlainScore()) return 1;
  epipolar::printRunFigures();
  epipolar::reportRealScenes(data);
  return 0;
}
