// The robust estimation loop shared by every fundamental-matrix estimator, with its parts
// passed in so that each can be swapped on its own (the shape of COLMAP's RANSAC<Estimator>):
//
//   Sampler         draw(sample): fills the minimal sample, Solver::kSampleSize correspondences.
//   Solver          kSampleSize, kMaxModels, Model; fit(sample, models) -> number of models
//                   written (0 for a degenerate sample).
//   Scorer          Score; worst(); score(model, data, best) -> Score, where `best` lets a
//                   scorer stop early once the model cannot beat it; better(a, b) (strict);
//                   inliers(score); improved(best, n), told of every new best model.
//   RunLimit        initial(n) -> runs; afterImprovement(inliers, n) -> runs. A new limit
//                   takes effect at once, so an update can end the loop after the current run.
//   RunLog          start(limit); model(run, score) for every model scored; end(best).
//   LocalOptimiser  improve(model, score, data): may replace a model and its score with a
//                   better one (LO-RANSAC); the score must stay comparable.
//
// The loop runs at least once and until `run < limit` fails, counting runs (samples) from 0.
// A model from the solver that beats every earlier one from the solver is handed to the local
// optimiser, and the result replaces the best model when Scorer::better says so; of equally
// good models the first is kept. (Without local optimisation the two bests are one.) Points:
// pixels, origin top-left, y down.
//
// Threads: the loop itself holds no state; the parts decide (the described sampler shares the
// process-wide sequence). Failure: when no model beats Scorer::worst(), `found` is false and
// `model` is value-initialised.
#pragma once

#include <array>
#include <span>

#include "geometry/Correspondence.h"

namespace epipolar {

template <typename Model, typename Score>
struct RansacResult {
  bool found = false;
  Model model{};
  Score score{};
  int runs = 0;
};

// For estimators without local optimisation.
struct NoLocalOptimisation {
  template <typename Model, typename Score>
  void improve(Model&, Score&, std::span<const Correspondence>) {}
};

// For estimators that write no per-run log.
struct SilentRunLog {
  void start(int) {}
  template <typename Score>
  void model(int, const Score&) {}
  template <typename Score>
  void end(const Score&) {}
};

template <typename Sampler,
          typename Solver,
          typename Scorer,
          typename RunLimit,
          typename RunLog,
          typename LocalOptimiser = NoLocalOptimisation>
RansacResult<typename Solver::Model, typename Scorer::Score> ransac(
    std::span<const Correspondence> data,
    Sampler& sampler,
    Solver& solver,
    Scorer& scorer,
    RunLimit& runLimit,
    RunLog& log,
    LocalOptimiser& localOptimiser) {
  using Model = typename Solver::Model;
  RansacResult<Model, typename Scorer::Score> result;
  result.score = scorer.worst();
  const int n = static_cast<int>(data.size());
  int limit = runLimit.initial(n);
  log.start(limit);

  std::array<Correspondence, Solver::kSampleSize> sample;
  std::array<Model, Solver::kMaxModels> models;
  // The best score of a model straight from the solver. Local optimisation starts from every
  // model that beats it, and its result replaces the best model when it is better, so a
  // sample from a better basin is optimised even while an optimised model from a worse basin
  // is ahead of it.
  auto bestSampled = result.score;
  int run = 0;
  do {
    sampler.draw(sample);
    const int count = solver.fit(sample, models);
    for (int m = 0; m < count; ++m) {
      const auto score = scorer.score(models[m], data, bestSampled);
      log.model(run, score);
      if (!scorer.better(score, bestSampled)) continue;
      bestSampled = score;
      Model optimised = models[m];
      auto optimisedScore = score;
      localOptimiser.improve(optimised, optimisedScore, data);
      if (scorer.better(optimisedScore, result.score)) {
        result.found = true;
        result.model = optimised;
        result.score = optimisedScore;
        scorer.improved(result.score, n);
        limit = runLimit.afterImprovement(scorer.inliers(result.score), n);
      }
    }
    ++run;
  } while (run < limit);

  result.runs = run;
  log.end(result.score);
  return result;
}

}  // namespace epipolar
