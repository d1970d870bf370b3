#include "geometry/Calibration.h"

#include <vector>

#include "geometry/Epipolar.h"
#include "geometry/Fundamental.h"
#include "log/DebugStream.h"

namespace epipolar {
namespace {

void endLine() {
  DebugStream.put('\n');
  DebugStream.flush();
}

}  // namespace

bool calibrate(std::span<const Correspondence> correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1) {
  const int n = static_cast<int>(correspondences.size());
  if (n < kMinCalibrationPoints) {
    DebugStream << "Can't calibrate, too few points";
    endLine();
    return false;
  }
  DebugStream << "Working with " << n << " matches";
  endLine();

  // F is a 3x3 matrix from here on, also when no run finds inliers and F keeps its value.
  if (F.rows() != 3 || F.cols() != 3) F = Matrix(3, 3);
  // The normalising transforms of the best sample are not needed here.
  Matrix T0(3, 3);
  Matrix T1(3, 3);
  estimateFundamental(correspondences, T0, T1, F);

  for (const Correspondence& c : correspondences) {
    Vector l = F * homogeneousPoint(c.x0, c.y0);
    const double norm = l.norm();
    for (int i = 0; i < l.count(); ++i) l[i] = l[i] / norm;
    const double residual = l[1] * c.y1 + l[0] * c.x1 + l[2];
    DebugStream << "Test results: " << l[0] << " * " << c.x1 << " + " << l[1] << " * " << c.y1
                << " + " << l[2] << " = " << residual;
    endLine();
  }
  computeEpipoles(F, epipole0, epipole1);
  return true;
}

bool calibrate(const std::list<Correspondence>& correspondences,
               Matrix& F,
               Vector& epipole0,
               Vector& epipole1) {
  const std::vector<Correspondence> array(correspondences.begin(), correspondences.end());
  return calibrate(std::span<const Correspondence>(array), F, epipole0, epipole1);
}

}  // namespace epipolar
