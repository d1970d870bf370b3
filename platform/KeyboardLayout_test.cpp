// Under a real X server (xvfb-run): whether right Alt is AltGr follows the server's keymap, also
// when the keymap changes while the program runs, and decides how keys pressed with it arrive.
// The test changes the server's keymap for right Alt and puts it back.
#include <gtest/gtest.h>
// After gtest: Xlib defines None, a name gtest uses.
#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace epipolar {
namespace {

WPARAM keyMessage = 0;
LRESULT keyProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) keyMessage = msg;
  return defWindowProc(hwnd, msg, wParam, lParam);
}

// Gives the keycode of right Alt (XKB name RALT; 108 under evdev) the keysym `sym`.
void mapRightAlt(Display* display, KeySym sym) {
  KeySym syms[1] = {sym};
  XChangeKeyboardMapping(display, 108, 1, syms, 1);
  XSync(display, False);
}

TEST(KeyboardLayoutTest, RightAltIsAltGrExactlyWhereTheKeymapMakesItALevelThreeShift) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server (xvfb-run)";
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  registerClass(WindowClass{"Keys", &keyProc, false});
  WindowHandle hwnd = createWindow("Keys", "keys", 0, 0, 32, 32, nullptr);
  ASSERT_TRUE(hwnd);
  const Uint32 id = SDL_GetWindowID(platform_internal::findWindow(hwnd.id)->sdl);

  // Presses Q with right Alt held: the message it arrives as.
  auto pressQWithRightAlt = [&] {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = id;
    e.key.keysym.sym = SDLK_q;
    e.key.keysym.mod = KMOD_RALT;
    SDL_PushEvent(&e);
    keyMessage = 0;
    Message msg;
    while (peekMessage(msg)) dispatchMessage(msg);
    return keyMessage;
  };

  int perCode = 0;
  KeySym* original = XGetKeyboardMapping(display, 108, 1, &perCode);
  ASSERT_NE(original, nullptr);
  mapRightAlt(display, XK_Alt_R);
  EXPECT_FALSE(platform_internal::rightAltIsLevel3Shift());
  EXPECT_EQ(pressQWithRightAlt(), WM_SYSKEYDOWN);
  mapRightAlt(display, XK_ISO_Level3_Shift);
  EXPECT_TRUE(platform_internal::rightAltIsLevel3Shift());
  EXPECT_EQ(pressQWithRightAlt(), WM_KEYDOWN) << "AltGr+Q is an ordinary key";
  XChangeKeyboardMapping(display, 108, perCode, original, 1);
  XSync(display, False);
  XFree(original);

  XCloseDisplay(display);
  shutdownPlatform();
}

}  // namespace
}  // namespace epipolar
