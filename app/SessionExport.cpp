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
                        const Session* calibration,
                        const std::array<SessionCamera, 2>& cameras) {
  Session session;
  session.pairs.assign(pairs.begin(), pairs.end());
  session.F = F;
  session.cameras = cameras;
  if (!F || calibration == nullptr || !calibration->F || !sameMatrix(*calibration->F, *F)) {
    return session;
  }

  session.method = calibration->method;
  session.rmsSampsonPx = calibration->rmsSampsonPx;
  session.meanSymmetricPx = calibration->meanSymmetricPx;
  session.runs = calibration->runs;
  session.timeMs = calibration->timeMs;
  session.warnings = calibration->warnings;
  std::map<PairBits, PairFit> fits;
  for (std::size_t i = 0; i < calibration->pairs.size() && i < calibration->fits.size(); ++i) {
    if (calibration->fits[i]) fits.emplace(bitsOf(calibration->pairs[i]), *calibration->fits[i]);
  }
  session.fits.resize(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const auto found = fits.find(bitsOf(pairs[i]));
    if (found != fits.end()) session.fits[i] = found->second;
  }
  return session;
}

}  // namespace epipolar
