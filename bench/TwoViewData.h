// Shared by the fundamental-matrix benchmarks: the synthetic two-view scene, the reader of the
// shared real data's text files, and where that data lives.
//
// Pixels, origin top-left, y down; pairs (x0, y0, x1, y1) with x1^T F x0 = 0.
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/Correspondence.h"

namespace epipolar::bench {

// Two cameras 0.8 units apart with a slight rotation, at f = 700 px, 640x480; points 4 to 8
// units away; `noise` px Gaussian noise; outliers are random pairs.
inline std::vector<Correspondence> syntheticScene(int n,
                                                  double outlierShare,
                                                  unsigned seed,
                                                  double noise = 0.3) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> jitter(0.0, noise);
  const double f = 700, cx = 320, cy = 240, angle = 0.08, c = std::cos(angle), s = std::sin(angle);
  std::vector<Correspondence> records;
  for (int k = 0; k < n; ++k) {
    if (unit(rng) < outlierShare) {
      records.push_back({640 * unit(rng), 480 * unit(rng), 640 * unit(rng), 480 * unit(rng)});
      continue;
    }
    const double X = -2 + 4 * unit(rng), Y = -1.5 + 3 * unit(rng), Z = 4 + 4 * unit(rng);
    // Rotation about y, then a sideways and slightly forward shift.
    const double X1 = c * X + s * Z - 0.8, Y1 = Y + 0.05, Z1 = -s * X + c * Z + 0.1;
    records.push_back({f * X / Z + cx + jitter(rng),
                       f * Y / Z + cy + jitter(rng),
                       f * X1 / Z1 + cx + jitter(rng),
                       f * Y1 / Z1 + cy + jitter(rng)});
  }
  return records;
}

// Rows of `columns` numbers from a text file, skipping empty lines and '#' comments. False
// when the file cannot be opened.
inline bool readRows(const std::filesystem::path& file,
                     int columns,
                     std::vector<std::vector<double>>& rows) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<double> row(static_cast<size_t>(columns));
    for (double& value : row) fields >> value;
    if (fields) rows.push_back(std::move(row));
  }
  return true;
}

// The shared real data: --data=PATH (taken out of `args`), else $EPIPOLAR_DATA, else
// ../shared/data beside the source tree.
inline std::filesystem::path dataFolder(const char* sourceDir, std::vector<char*>& args) {
  std::filesystem::path data = std::filesystem::path(sourceDir) / ".." / "shared" / "data";
  if (const char* env = std::getenv("EPIPOLAR_DATA")) data = env;
  std::vector<char*> kept;
  for (char* arg : args) {
    if (std::strncmp(arg, "--data=", 7) == 0) {
      data = arg + 7;
    } else {
      kept.push_back(arg);
    }
  }
  args = kept;
  return data.lexically_normal();
}

}  // namespace epipolar::bench
