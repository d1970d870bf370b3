#include "ui/StereoCalibration.h"

#include "geometry/Calibration.h"
#include "geometry/Epipolar.h"

namespace epipolar {

bool StereoCalibration::calibrate(std::span<const Correspondence> pairs, FundamentalMethod method) {
  if (method == FundamentalMethod::kClassic) {
    if (!epipolar::calibrate(pairs, fundamental_, epipole0_, epipole1_)) return false;
    lastAccurate_.reset();
  } else {
    FundamentalOptions options;
    options.method = method;
    FundamentalReport report;
    if (!epipolar::calibrate(pairs, fundamental_, epipole0_, epipole1_, options, &report))
      return false;
    lastAccurate_ = fittedSession(pairs, report, "accurate");
  }
  calibrated_ = true;
  return true;
}

void StereoCalibration::restore(const Matrix& F, bool use) {
  lastAccurate_.reset();
  fundamental_ = F;
  computeEpipoles(fundamental_, epipole0_, epipole1_);
  calibrated_ = use;
}

Matrix StereoCalibration::epipolarMatrix(int side) const {
  return epipolar::epipolarMatrix(fundamental_, side == 1);
}

Vector StereoCalibration::epipolarLine(const Vector& point, int side) const {
  return side == 1 ? fundamental_.transpose() * point : fundamental_ * point;
}

}  // namespace epipolar
