// Test helper: one frame pair of the virtual rig (time 0, fixed noise seeds), its true
// geometry, and the automatic pairs found in it, made once per test binary and shared.
#pragma once

#include <memory>
#include <vector>

#include "capture/VirtualScene.h"
#include "capture/VirtualView.h"
#include "geometry/Correspondence.h"
#include "geometry/Residuals.h"
#include "vision/AutomaticPairs.h"
#include "vision/OpenCvThreads.h"

namespace epipolar::testing {

struct RigPair {
  std::shared_ptr<const VirtualScene> scene;
  double seconds = 0.0;
  std::unique_ptr<Image> frame0, frame1;
  Matrix3x3 trueF{};
  std::vector<Correspondence> landmarks;  // exact projections
  AutomaticPairsResult automatic;
};

inline const RigPair& rigPair() {
  static const RigPair* const pair = [] {
    prepareOpenCvThreads();
    auto* p = new RigPair;
    p->scene = std::make_shared<const VirtualScene>();
    VirtualView view0(p->scene, 0, 11), view1(p->scene, 1, 12);
    p->frame0 = view0.renderFrame(p->seconds);
    p->frame1 = view1.renderFrame(p->seconds);
    p->trueF = p->scene->trueFundamental().rowMajor();
    for (const RigLandmark& l : p->scene->landmarks()) {
      p->landmarks.push_back({l.x0, l.y0, l.x1, l.y1});
    }
    p->automatic = findAutomaticPairs(*p->frame0, *p->frame1);
    return p;
  }();
  return *pair;
}

}  // namespace epipolar::testing
