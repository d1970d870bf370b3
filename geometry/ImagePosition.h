// A position in one picture: pixels, origin at the top-left corner, x to the right, y down.
// Not bound to either camera; a pair of positions, one per camera, is a Correspondence.
#pragma once

namespace epipolar {

struct ImagePosition {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const ImagePosition&, const ImagePosition&) = default;
};

}  // namespace epipolar
