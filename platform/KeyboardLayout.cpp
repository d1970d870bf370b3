// The one fact about the keyboard layout that SDL does not tell: whether right Alt is AltGr.
// Kept apart from the rest of the platform because Xlib's headers define many bare macros.

#include <SDL.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <cstring>

#include "platform/PlatformInternal.h"

namespace epipolar::platform_internal {

bool rightAltIsLevel3Shift() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::strcmp(driver, "x11") != 0) return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  bool level3 = false;
  // SDL calls the key with the XKB name RALT right Alt, whatever it produces; what it
  // produces in the current group tells Alt_R from AltGr.
  XkbDescPtr keyboard = XkbGetMap(display, 0, XkbUseCoreKbd);
  XkbStateRec keyboardState;
  if (keyboard != nullptr && XkbGetNames(display, XkbKeyNamesMask, keyboard) == Success &&
      keyboard->names != nullptr && keyboard->names->keys != nullptr &&
      XkbGetState(display, XkbUseCoreKbd, &keyboardState) == Success) {
    for (int code = keyboard->min_key_code; code <= keyboard->max_key_code; ++code) {
      if (std::strncmp(keyboard->names->keys[code].name, "RALT", XkbKeyNameLength) != 0) continue;
      const KeySym sym =
          XkbKeycodeToKeysym(display, static_cast<KeyCode>(code), keyboardState.group, 0);
      level3 = sym == XK_ISO_Level3_Shift || sym == XK_Mode_switch;
      break;
    }
  }
  if (keyboard != nullptr) XkbFreeKeyboard(keyboard, 0, True);
  XCloseDisplay(display);
  return level3;
}

}  // namespace epipolar::platform_internal
