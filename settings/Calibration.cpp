#include "settings/Calibration.h"

#include <string>

namespace epipolar {
namespace {

std::string matrixKey(int i) { return "mat" + std::to_string(i); }
std::string pointKey(std::size_t i, char axis) { return "pt" + std::to_string(i) + axis; }

}  // namespace

bool storedMatrixOffered(const ConfigFile& settings) {
  return !settings.getBool("Cam0", "configured") && settings.getBool("", "matrixStored");
}

Matrix readStoredMatrix(const ConfigFile& settings) {
  Matrix matrix(3, 3);
  for (int i = 0; i < 9; ++i) matrix.data()[i] = settings.getDouble("", matrixKey(i));
  return matrix;
}

bool storedPointsOffered(const ConfigFile& settings) {
  return settings.getBool("Cam0", "hasPoints");
}

std::vector<Correspondence> readStoredPoints(const ConfigFile& settings, std::size_t limit) {
  std::vector<Correspondence> points;
  for (std::size_t i = 0; i < limit && settings.hasValue("Cam0", pointKey(i, 'x')); ++i) {
    Correspondence point;
    point.x0 = settings.getDouble("Cam0", pointKey(i, 'x'));
    point.y0 = settings.getDouble("Cam0", pointKey(i, 'y'));
    point.x1 = settings.getDouble("Cam1", pointKey(i, 'x'));
    point.y1 = settings.getDouble("Cam1", pointKey(i, 'y'));
    points.push_back(point);
  }
  return points;
}

void writeCalibration(ConfigFile& settings,
                      bool calibrated,
                      const Matrix& fundamental,
                      std::span<const Correspondence> correspondences) {
  settings.setBool("", "matrixStored", calibrated);
  if (calibrated) {
    const int elements = fundamental.rows() * fundamental.cols();
    for (int i = 0; i < 9; ++i) {
      settings.setDouble("", matrixKey(i), i < elements ? fundamental.data()[i] : 0.0);
    }
  }
  if (correspondences.empty()) return;
  settings.setBool("Cam0", "hasPoints", true);
  settings.setBool("Cam1", "hasPoints", true);
  for (std::size_t i = 0; i < correspondences.size(); ++i) {
    const Correspondence& point = correspondences[i];
    settings.setDouble("Cam0", pointKey(i, 'x'), point.x0);
    settings.setDouble("Cam0", pointKey(i, 'y'), point.y0);
    settings.setDouble("Cam1", pointKey(i, 'x'), point.x1);
    settings.setDouble("Cam1", pointKey(i, 'y'), point.y1);
  }
}

}  // namespace epipolar
