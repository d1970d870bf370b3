#include "geometry/Epipolar.h"

#include "log/DebugStream.h"

namespace epipolar {

void computeEpipoles(const Matrix& F, Vector& epipole0, Vector& epipole1) {
  Matrix U;
  Vector S;
  Matrix V;
  F.svd(U, S, V);
  // The last columns hold the null vectors; for a 3x3 F that is column 2. Taking the last
  // column keeps a malformed F from reading outside the decomposition.
  epipole0 = U.column(U.cols() - 1);
  logLine("Epipole 0: ", epipole0);
  epipole1 = V.column(V.cols() - 1);
  logLine("Epipole 1: ", epipole1);
}

Matrix epipolarMatrix(const Matrix& F, bool forCamera1) { return forCamera1 ? F.transpose() : F; }

VectorPair clipLineToImage(const Vector& line, int width, int height) {
  const double a = line[0];
  const double b = line[1];
  const double c = line[2];
  const double W = width;
  const double H = height;
  // Where the line leaves through the top (y = 0) or the bottom (y = H) border.
  auto borderEnd = [&](double yAtSide) {
    if (yAtSide < 0) return homogeneousPoint(-c / a, 0.0);
    return homogeneousPoint(-(b * H + c) / a, H);
  };
  const double yLeft = -c / b;
  const double yRight = -(a * W + c) / b;
  Vector left = 0 <= yLeft && yLeft < H ? homogeneousPoint(0.0, yLeft) : borderEnd(yLeft);
  Vector right = 0 <= yRight && yRight < H ? homogeneousPoint(W, yRight) : borderEnd(yRight);
  return VectorPair(std::move(left), std::move(right));
}

}  // namespace epipolar
