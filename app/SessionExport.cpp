#include "app/SessionExport.h"

#include <bit>
#include <cstdint>
#include <map>

namespace epipolar {
namespace {

// Pairs compared bit for bit, as they were stored: -0.0 and 0.0 differ, a NaN equals itself.
using PairBits = std::array<std::uint64_t, 4>;

PairBits bitsOf(const Correspondence& pair) {
  return {std::bit_cast<std::uint64_t>(pair.x0),
          std::bit_cast<std::uint64_t>(pair.y0),
          std::bit_cast<std::uint64_t>(pair.x1),
          std::bit_cast<std::uint64_t>(pair.y1)};
}

bool sameMatrix(const Matrix3x3& a, const Matrix3x3& b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
  }
  return true;
}

}  // namespace

Session sessionSnapshot(std::span<const Correspondence> pairs,
                        const std::optional<Matrix3x3>& F,
                        const CalibrationFit* fit,
                        const std::array<SessionCamera, 2>& cameras) {
  Session session;
  session.pairs.assign(pairs.begin(), pairs.end());
  session.F = F;
  session.cameras = cameras;
  if (!F || fit == nullptr || !sameMatrix(fit->F, *F)) return session;

  session.method = fit->method;
  std::map<PairBits, bool> verdicts;
  for (std::size_t i = 0; i < fit->pairs.size(); ++i) {
    verdicts.emplace(bitsOf(fit->pairs[i]), i < fit->inliers.size() && fit->inliers[i]);
  }
  session.fits.resize(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const auto found = verdicts.find(bitsOf(pairs[i]));
    if (found == verdicts.end()) continue;
    session.fits[i] = PairFit{sampsonDistance(*F, pairs[i]), found->second};
  }
  return session;
}

}  // namespace epipolar
