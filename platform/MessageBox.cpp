// Modal message boxes over SDL, and the script that answers them in tests.

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "log/DebugStream.h"
#include "platform/Platform.h"
#include "platform/PlatformInternal.h"

namespace epipolar {

namespace {

MessageBoxScript* activeScript = nullptr;

// The answer Escape gives: Cancel where there is one, else No, else OK.
int escapeAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
      return IDCANCEL;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

// What a box answers when it cannot be shown: 0, "no answer", for a box that asks something
// (the restore questions read it as No and go on), OK for an OK-only box.
int unshownAnswer(UINT type) { return (type & MB_TYPEMASK) == MB_OK ? IDOK : 0; }

Uint32 iconFlags(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      return SDL_MESSAGEBOX_ERROR;
    case MB_ICONEXCLAMATION:
      return SDL_MESSAGEBOX_WARNING;
    default:
      return SDL_MESSAGEBOX_INFORMATION;
  }
}

// Where the box's centre belongs, and the usable area of the display it opens on: centred over
// the owner when the owner is shown with its centre on a display, otherwise centred on the
// owner's display (display 0 without an owner). The box is then kept inside that area.
void boxTarget(SDL_Window* owner, int& cx, int& cy, SDL_Rect& area) {
  int display = owner != nullptr ? SDL_GetWindowDisplayIndex(owner) : 0;
  if (display < 0) display = 0;
  if (SDL_GetDisplayUsableBounds(display, &area) != 0 && SDL_GetDisplayBounds(display, &area) != 0)
    area = SDL_Rect{0, 0, 640, 480};
  cx = area.x + area.w / 2;
  cy = area.y + area.h / 2;
  if (owner == nullptr) return;
  const Uint32 flags = SDL_GetWindowFlags(owner);
  if ((flags & SDL_WINDOW_SHOWN) == 0 || (flags & SDL_WINDOW_MINIMIZED) != 0) return;
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(owner, &x, &y);
  SDL_GetWindowSize(owner, &w, &h);
  int top = 0, left = 0, bottom = 0, right = 0;  // the frame, where a window manager draws one
  if (SDL_GetWindowBordersSize(owner, &top, &left, &bottom, &right) != 0)
    top = left = bottom = right = 0;
  const int ownerX = x - left + (left + w + right) / 2;
  const int ownerY = y - top + (top + h + bottom) / 2;
  SDL_Rect bounds;
  if (SDL_GetDisplayBounds(display, &bounds) != 0) return;
  const SDL_Point centre{ownerX, ownerY};
  if (SDL_PointInRect(&centre, &bounds)) {
    cx = ownerX;
    cy = ownerY;
  }
}

bool isX11() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr && std::strcmp(driver, "x11") == 0;
}

}  // namespace

MessageBoxScript::MessageBoxScript(std::vector<int> queued) : answers(std::move(queued)) {
  activeScript = this;
}

MessageBoxScript::~MessageBoxScript() {
  if (activeScript == this) activeScript = nullptr;
}

void MessageBoxScript::push(int answer) { answers.push_back(answer); }

int messageBox(WindowHandle owner, const char* text, const char* caption, UINT type) {
  if (text == nullptr) text = "";
  if (caption == nullptr) caption = "";
  if (activeScript != nullptr) {
    MessageBoxScript& script = *activeScript;
    int answer =
        script.next < script.answers.size() ? script.answers[script.next++] : escapeAnswer(type);
    script.recorded.push_back(MessageBoxCall{owner, text, caption, type, answer});
    return answer;
  }

  const int escape = escapeAnswer(type);
  if (!platform_internal::ensureStarted()) return unshownAnswer(type);

  const Uint32 returnKey = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
  const Uint32 escapeKey = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
  SDL_MessageBoxButtonData buttons[3];
  int count = 0;
  switch (type & MB_TYPEMASK) {
    case MB_YESNOCANCEL:
      buttons[count++] = {returnKey, IDYES, "Yes"};
      buttons[count++] = {0, IDNO, "No"};
      buttons[count++] = {escapeKey, IDCANCEL, "Cancel"};
      break;
    case MB_YESNO:
      buttons[count++] = {returnKey, IDYES, "Yes"};
      buttons[count++] = {escapeKey, IDNO, "No"};
      break;
    case MB_OKCANCEL:
      buttons[count++] = {returnKey, IDOK, "OK"};
      buttons[count++] = {escapeKey, IDCANCEL, "Cancel"};
      break;
    default:
      buttons[count++] = {returnKey | escapeKey, IDOK, "OK"};
      break;
  }

  SDL_MessageBoxData data{};
  data.flags = iconFlags(type) | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
  platform_internal::NativeWindow* ownerWindow = platform_internal::findWindow(owner.id);
  data.window = ownerWindow != nullptr ? ownerWindow->sdl : nullptr;
  data.title = caption;
  data.message = text;
  data.numbuttons = count;
  data.buttons = buttons;

  // Drivers without a display cannot show a box; SDL would then try an external dialog
  // program instead, which must not pop up from a headless run.
  const char* driver = SDL_GetCurrentVideoDriver();
  const bool headless = driver != nullptr && (std::strcmp(driver, "offscreen") == 0 ||
                                              std::strcmp(driver, "dummy") == 0);
  int pressed = -1;
  bool shown = false;
  std::string error = "no display";
  if (!headless && isX11()) {
    platform_internal::BoxRequest box{caption, text, {}, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
      box.buttons.push_back({buttons[i].buttonid,
                             buttons[i].text,
                             (buttons[i].flags & returnKey) != 0,
                             (buttons[i].flags & escapeKey) != 0});
    }
    SDL_Rect area;
    boxTarget(data.window, box.centreX, box.centreY, area);
    box.areaX = area.x;
    box.areaY = area.y;
    box.areaWidth = area.w;
    box.areaHeight = area.h;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    // Window managers keep a box above a shown owner; an unshown one would hide it.
    if (data.window != nullptr && (SDL_GetWindowFlags(data.window) & SDL_WINDOW_SHOWN) != 0 &&
        SDL_GetWindowWMInfo(data.window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11)
      box.transientFor = info.info.x11.window;
    shown = platform_internal::showX11MessageBox(box, pressed, error);
  } else if (!headless) {
    shown = SDL_ShowMessageBox(&data, &pressed) == 0;
    if (!shown) error = SDL_GetError();
  }
  if (!shown) logLine("Message box \"", caption, "\" could not be shown: ", error);
  if (!shown) return unshownAnswer(type);
  // -1: the box was closed without a button (window manager close): as Escape.
  return pressed < 0 ? escape : pressed;
}

}  // namespace epipolar
