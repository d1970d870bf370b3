#include "platform/testing/KeyInput.h"

#include <SDL.h>

#include "platform/PlatformInternal.h"

namespace epipolar::testing {
namespace {

SDL_Keycode sdlKey(WPARAM virtualKey) {
  if (virtualKey >= 'A' && virtualKey <= 'Z') return SDLK_a + static_cast<int>(virtualKey - 'A');
  if (virtualKey >= '0' && virtualKey <= '9') return SDLK_0 + static_cast<int>(virtualKey - '0');
  switch (virtualKey) {
    case VK_LEFT:
      return SDLK_LEFT;
    case VK_RIGHT:
      return SDLK_RIGHT;
    case VK_DELETE:
      return SDLK_DELETE;
    case VK_BACK:
      return SDLK_BACKSPACE;
    case VK_ESCAPE:
      return SDLK_ESCAPE;
    case VK_RETURN:
      return SDLK_RETURN;
    case VK_SHIFT:
      return SDLK_LSHIFT;
    case VK_CONTROL:
      return SDLK_LCTRL;
    default:
      return SDLK_UNKNOWN;
  }
}

}  // namespace

bool queueKeyPress(WindowHandle window, WPARAM virtualKey, HeldKeys held) {
  const SDL_Keycode key = sdlKey(virtualKey);
  platform_internal::NativeWindow* native = platform_internal::findWindow(window.id);
  if (key == SDLK_UNKNOWN || native == nullptr || native->sdl == nullptr) return false;
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = SDL_GetWindowID(native->sdl);
  e.key.keysym.sym = key;
  e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
  e.key.keysym.mod =
      static_cast<Uint16>((held.shift ? KMOD_LSHIFT : 0) | (held.ctrl ? KMOD_LCTRL : 0));
  return SDL_PushEvent(&e) == 1;
}

}  // namespace epipolar::testing
