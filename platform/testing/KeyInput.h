// Key presses for in-process tests of windows, through the platform's own input path: the
// press is queued as an SDL key event for the window, so the window receives WM_KEYDOWN (or
// WM_SYSKEYDOWN) from getMessage and isKeyDown() tells the modifiers held, as with a real
// keyboard. The caller then takes and dispatches the queued messages.
//
// Tests only. UI thread, after the window exists.
#pragma once

#include "platform/Messages.h"

namespace epipolar::testing {

struct HeldKeys {
  bool shift = false;
  bool ctrl = false;
};

// Queues a press of `virtualKey` (a letter, a digit, an arrow, Delete, Backspace, Escape,
// Return, Shift or Ctrl) for `window` with `held` modifiers. False for another code or a dead
// window (nothing is queued).
bool queueKeyPress(WindowHandle window, WPARAM virtualKey, HeldKeys held = {});

}  // namespace epipolar::testing
