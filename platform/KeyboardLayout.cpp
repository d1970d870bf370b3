// The one fact about the keyboard layout that SDL does not tell: whether right Alt is AltGr.
// Kept apart from the rest of the platform because Xlib's headers define many bare macros.

#include <SDL.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <cstring>

#include "platform/PlatformInternal.h"

namespace epipolar::platform_internal {

namespace {

// A connection of its own, opened on first use (UI thread only). SDL 2.26 reports no keymap
// change that XChangeKeyboardMapping or a group switch makes, so every question asks the
// server afresh: one round trip, and only for key events with right Alt in them.
Display* layoutDisplay = nullptr;
bool layoutDisplayFailed = false;

}  // namespace

bool rightAltIsLevel3Shift() {
  if (layoutDisplay == nullptr) {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (layoutDisplayFailed || driver == nullptr || std::strcmp(driver, "x11") != 0) return false;
    layoutDisplay = XOpenDisplay(nullptr);
    if (layoutDisplay == nullptr) {
      layoutDisplayFailed = true;
      return false;
    }
  }
  bool level3 = false;
  // SDL calls the key with the XKB name RALT right Alt, whatever it produces; what it produces
  // in the current group, read from the server's map, tells Alt_R from AltGr.
  XkbDescPtr keyboard = XkbGetMap(layoutDisplay, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
  XkbStateRec keyboardState;
  if (keyboard != nullptr && XkbGetNames(layoutDisplay, XkbKeyNamesMask, keyboard) == Success &&
      keyboard->names != nullptr && keyboard->names->keys != nullptr &&
      XkbGetState(layoutDisplay, XkbUseCoreKbd, &keyboardState) == Success) {
    for (int code = keyboard->min_key_code; code <= keyboard->max_key_code; ++code) {
      if (std::strncmp(keyboard->names->keys[code].name, "RALT", XkbKeyNameLength) != 0) continue;
      const int groups = XkbKeyNumGroups(keyboard, code);
      if (groups == 0) break;
      const int group = keyboardState.group < groups ? keyboardState.group : 0;
      const KeySym sym = XkbKeySymEntry(keyboard, code, 0, group);
      level3 = sym == XK_ISO_Level3_Shift || sym == XK_Mode_switch;
      break;
    }
  }
  if (keyboard != nullptr) XkbFreeKeyboard(keyboard, 0, True);
  return level3;
}

void closeKeyboardLayout() {
  if (layoutDisplay != nullptr) XCloseDisplay(layoutDisplay);
  layoutDisplay = nullptr;
  layoutDisplayFailed = false;
}

}  // namespace epipolar::platform_internal
