// Shared state of the platform sources. Not for use outside platform/.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace epipolar::platform_internal {

struct NativeWindow {
  std::uint32_t id = 0;
  SDL_Window* sdl = nullptr;
  WindowClass windowClass;
  std::string className;
  std::atomic<bool> paintPending{false};
  bool destroying = false;
  // Size of the window surface last handed out; a surface of another size starts white.
  int surfaceWidth = -1;
  int surfaceHeight = -1;
};

// Starts SDL on first use. False (and the reason logged once) if SDL cannot start.
bool ensureStarted();
// The live window of a handle id, or null. UI thread: the pointer stays valid until the
// window is destroyed.
NativeWindow* findWindow(std::uint32_t id);
// Whether right Alt is AltGr in the current keyboard layout: true where the X server's keymap
// makes the key named RALT a level-3 shift (or Mode_switch) in the current group, as European
// layouts do; false for other drivers and without a display. Asks the server each time.
bool rightAltIsLevel3Shift();
// Closes the connection that question uses (at shutdown).
void closeKeyboardLayout();
// Makes the translation of keys take right Alt as AltGr (true) or as Alt (false) instead of
// asking the X server; nullopt asks again. For tests, which run without an X server.
void setRightAltIsAltGr(std::optional<bool> altGr);
// Windows destroyed by another X client (platform/ForeignDestroy.cpp). With the x11 driver,
// startWindowWatch() (after SDL_Init) installs an X error handler and an SDL event filter;
// other drivers have nothing to watch and every call below does nothing. UI thread, except
// windowGone(), which any thread may ask.
void startWindowWatch();
// Before SDL_Quit: removes the event filter and forgets every window.
void stopWindowWatch();
// Watches a new window's X window under the handle id.
void watchWindow(SDL_Window* sdl, std::uint32_t id);
// Just before SDL_DestroyWindow: for a lost window, queues the UnmapNotify SDL may wait for.
// Under a window manager SDL can take a lost window for shown again (the manager's clean-up
// changes its state properties), and SDL hides a shown window before destroying it, waiting
// for an UnmapNotify the server can no longer send.
void beforeDestroy(std::uint32_t id);
// Stops watching (after SDL_DestroyWindow); for a lost window, first takes the errors SDL's
// clean-up drew.
void unwatchWindow(std::uint32_t id);
// Whether the window's X window was destroyed by someone else (it must not be drawn again).
bool windowGone(std::uint32_t id);
// The next lost window whose WM_CLOSE is still to be delivered, oldest first.
std::optional<std::uint32_t> takeGoneWindow();
// A message box for showX11MessageBox (platform/X11MessageBox.cpp).
struct BoxButton {
  int id;  // what the box answers when this button is chosen
  const char* label;
  bool returnKey;  // chosen by Return
  bool escapeKey;  // chosen by Escape
};
struct BoxRequest {
  const char* title;
  const char* text;                // lines separated by '\n'
  std::vector<BoxButton> buttons;  // left to right
  // The box is centred on (centreX, centreY) and kept inside the area (screen coordinates).
  int centreX, centreY;
  int areaX, areaY, areaWidth, areaHeight;
  unsigned long transientFor;  // the owner's X window, or 0
};
// Shows the box on a connection of its own, in this process, and waits for the answer: the
// chosen button's id, or -1 when the box was closed without a button. False, with the reason
// in `error`, when it could not be shown or the connection broke before an answer.
bool showX11MessageBox(const BoxRequest& box, int& pressed, std::string& error);
// Logs "<what>: <SDL error>".
void logSdlError(const char* what);

}  // namespace epipolar::platform_internal
