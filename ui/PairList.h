// The marked point pairs, the first click of a pair still waiting for its partner, the pair
// that the arrow and digit keys show (the selected pair), and the editing history of the pairs.
//
// Invariants: pendingSource() is -1 (no click waits), 0 or 1 (a click of window (0) or (1)
// waits, at pendingPoint()); a pair holds camera 0's point first whichever window was
// clicked first. currentCorrespondence() may lie outside the list: stepping past either end
// keeps the index as it is (see CameraWnd::showCorrespondence).
//
// Every change of the pairs goes through one of the operations below, each one whole step of
// the history: a completed click pair, an append or assign (a bulk addition stays one step),
// a moved point, a removed pair. undo() takes back the latest step not yet undone and redo()
// puts back the latest one undone; any new step forgets the steps undone. A step is recorded as
// the pairs it replaced and the pairs it put in their place at one index, so the history holds
// each edited pair about twice, never a copy of the whole list per step. The waiting click and
// the shown index are not pairs: they are not in the history, and undo leaves them as they are.
// state() names the point of the history the pairs are at, so that whoever keeps something derived
// from them (a calibration, a saved file) can tell whether it still fits, also after undoing back
// to it.
//
// The described feedback (the "N points reached" line, the "Calibration ready" box) belongs
// to the caller: this list neither logs nor shows anything.
//
// Units: pixels, origin top-left, y down. Threads: UI thread only. No operation fails; an
// operation given an index out of range changes nothing and returns false.
#pragma once

#include <cstddef>
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
  // The point of the history the pairs are at: equal values mean the same pairs, whatever was
  // done and undone in between. 0 before the first step.
  std::uint64_t state() const { return done_ == 0 ? 0 : history_[done_ - 1].serial; }

  // One click at `point` in camera window `window` (1 for window (1), anything else for
  // window (0)). With no click waiting, or one waiting in the same window, the click waits
  // (replacing the older one) and false is returned. Otherwise it completes a pair with the
  // waiting click, the pair is appended, nothing waits any more, and true is returned.
  bool click(int window, ImagePosition point);
  // Appends `pairs` in order, as one step (stored points restored at start, a pairs file).
  // The waiting click and the shown index stay. Appending nothing is no step.
  void append(std::span<const Correspondence> pairs);
  // Replaces every pair at once, as one step. The waiting click and the shown index stay.
  void assign(std::vector<Correspondence> pairs);
  // Sets the index the keys show; any value is kept as it is.
  void setCurrentCorrespondence(int index) { currentCorrespondence_ = index; }

  // Moves the point of camera `side` (1 for camera 1, anything else camera 0) of pair `index`
  // to `point`, as one step. Moving a point onto where it is already is no step.
  bool movePoint(long long index, int side, ImagePosition point);
  // Removes pair `index`, as one step; the pairs after it move up by one.
  bool remove(long long index);
  // Forgets the waiting click (Escape); false when none waited.
  bool dropPending();

  bool canUndo() const { return done_ > 0; }
  bool canRedo() const { return done_ < history_.size(); }
  // Takes back the latest step; false (nothing changed) when there is none.
  bool undo();
  // Puts back the latest step undone; false when there is none.
  bool redo();

 private:
  // At `index`, `before` was replaced by `after`.
  struct Step {
    std::size_t index = 0;
    std::vector<Correspondence> before;
    std::vector<Correspondence> after;
    // Unique to the step. A step is applied only to the state it was made on, so the serial
    // of the latest step in effect names the whole sequence that made the pairs.
    std::uint64_t serial = 0;
  };
  // Records and applies a step.
  void apply(Step step);
  // Replaces `remove` pairs at `index` by `insert`.
  void splice(std::size_t index, std::size_t remove, const std::vector<Correspondence>& insert);

  std::vector<Correspondence> correspondences_;
  int pendingSource_ = -1;
  ImagePosition pendingPoint_;
  int currentCorrespondence_ = -1;
  // Steps in order; the first done_ are in effect, the rest were undone.
  std::vector<Step> history_;
  std::size_t done_ = 0;
  std::uint64_t lastSerial_ = 0;
};

}  // namespace epipolar
