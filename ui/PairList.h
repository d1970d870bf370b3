// The marked point pairs, the first click of a pair still waiting for its partner, and the
// pair that the arrow and digit keys show.
//
// Invariants: pendingSource() is -1 (no click waits), 0 or 1 (a click of window (0) or (1)
// waits, at pendingPoint()); a pair holds camera 0's point first whichever window was
// clicked first. currentCorrespondence() may lie outside the list: stepping past either end
// keeps the index as it is (see CameraWnd::showCorrespondence).
//
// Every change goes through one of the operations below, each one whole step: that is where
// an editing history will record its steps, and where a bulk addition stays one step.
// The described feedback (the "N points reached" line, the "Calibration ready" box) belongs
// to the caller: this list neither logs nor shows anything.
//
// Units: pixels, origin top-left, y down. Threads: UI thread only. No operation fails.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/Correspondence.h"
#include "geometry/ImagePosition.h"

namespace epipolar {

class PairList {
 public:
  // The pairs in marking order.
  const std::vector<Correspondence>& correspondences() const { return correspondences_; }
  // The window (0 or 1) whose click waits for its partner; -1 when none waits.
  int pendingSource() const { return pendingSource_; }
  // The waiting click; meaningful while pendingSource() is not -1.
  ImagePosition pendingPoint() const { return pendingPoint_; }
  // The index the arrow and digit keys show; -1 at start.
  int currentCorrespondence() const { return currentCorrespondence_; }
  // The pair at `index`, or null when the index is out of range.
  const Correspondence* find(long long index) const;
  // How many operations have changed the pairs so far (a waiting click and the shown index
  // are not pairs). Whoever saves the pairs compares it with the value at the last save.
  std::uint64_t revision() const { return revision_; }

  // One click at `point` in camera window `window` (1 for window (1), anything else for
  // window (0)). With no click waiting, or one waiting in the same window, the click waits
  // (replacing the older one) and false is returned. Otherwise it completes a pair with the
  // waiting click, the pair is appended, nothing waits any more, and true is returned.
  bool click(int window, ImagePosition point);
  // Appends `pairs` in order, as one step (stored points restored at start). The waiting
  // click and the shown index stay.
  void append(std::span<const Correspondence> pairs);
  // Replaces every pair at once, as one step. The waiting click and the shown index stay.
  void assign(std::vector<Correspondence> pairs);
  // Sets the index the keys show; any value is kept as it is.
  void setCurrentCorrespondence(int index) { currentCorrespondence_ = index; }

 private:
  std::vector<Correspondence> correspondences_;
  int pendingSource_ = -1;
  ImagePosition pendingPoint_;
  int currentCorrespondence_ = -1;
  std::uint64_t revision_ = 0;
};

}  // namespace epipolar
