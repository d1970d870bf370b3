// One marked point pair: (x0, y0) in camera 0 and (x1, y1) in camera 1, in pixels with the
// origin at the top-left corner and y pointing down. Under a fundamental matrix F the pair
// satisfies (x1, y1, 1) * F * (x0, y0, 1)^T = 0.
#pragma once

namespace epipolar {

struct Correspondence {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  friend bool operator==(const Correspondence&, const Correspondence&) = default;
};

}  // namespace epipolar
