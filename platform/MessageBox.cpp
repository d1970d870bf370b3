// Modal message boxes over SDL, and the script that answers them in tests.

#include <SDL.h>

#include <algorithm>
#include <cstring>

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

// Box placement.
//
// SDL 2.26 lays out its X11 box itself and places it over the parent window at
//   x = 2 px + (pw - bw) / 2,   y = 2 py + (ph - bh) / 3
// for a parent at (px, py) of size pw x ph and a box of bw x bh: the parent's position is
// counted twice (once from XGetWindowAttributes, once more when translating to the root),
// so a box owned by "Ball Display" at (700, 600) opens at (1458, 1300), off a 1920x1080
// screen. Without a window manager the parent's attributes are root coordinates; with one
// they are relative to its frame, so the error depends on the desktop.
//
// The box therefore gets a stand-in parent: a plain window that is never mapped. No window
// manager reparents or moves an unmapped window, so its attributes are exactly the position
// and size it was created with, and the formula above puts the box where this code wants it:
// centred over the owner when the owner is shown with its centre on a display, otherwise
// centred on the owner's display (display 0 without an owner), and in both cases moved in
// as far as needed to lie wholly inside that display's usable area.
//
// The box size is only known inside SDL (it measures the text with X fonts), so it is
// estimated from SDL's layout rules: text height th = font height + 2; width = max(200,
// 2 th + widest line, n (max(64, button text) + fh) + (n + 1) fh); height = max(100,
// (lines + 2) th + 4 fh). The centre uses the font SDL gets from xfonts-base (13 px high,
// at most 7 px a character); the fit uses 18 px and 9 px, the 12-point fonts at 100 dpi, so
// that a box in any of those fonts stays inside.

struct BoxFont {
  int height;     // pixels
  int charWidth;  // widest character, pixels
};
constexpr BoxFont kTypicalFont{13, 7};
constexpr BoxFont kLargestFont{18, 9};

struct BoxSize {
  int width;
  int height;
};

BoxSize estimateBoxSize(const char* text, int buttons, BoxFont font) {
  int lines = 0;
  int widest = 0;
  int column = 0;
  for (const char* c = text;; ++c) {
    if (*c == '\n' || *c == '\0') {
      ++lines;
      widest = std::max(widest, column);
      column = 0;
      if (*c == '\0') break;
    } else if ((static_cast<unsigned char>(*c) & 0xC0) != 0x80) {  // one per UTF-8 character
      ++column;
    }
  }
  if (text[0] == '\0') lines = 0;
  const int th = font.height + 2;
  const int buttonWidth = std::max(64, 6 * font.charWidth) + font.height;  // "Cancel"
  int width = std::max(200, 2 * th + widest * font.charWidth);
  width = std::max(width, buttons * buttonWidth + (buttons + 1) * font.height);
  const int height = std::max(100, (lines + 2) * th + 4 * font.height);
  return {width, height};
}

// The hidden stand-in parent's rectangle that makes SDL put the box's centre at (cx, cy),
// kept so that a box of up to `largest` lies inside `area`.
SDL_Rect standInParent(int cx, int cy, BoxSize typical, BoxSize largest, const SDL_Rect& area) {
  SDL_Rect parent;
  // Box x = 2 px + (pw - bw) / 2. px near the area's left edge keeps pw small and positive.
  parent.x = area.x >= 0 ? area.x / 2 : -((1 - area.x) / 2);
  const int baseX = 2 * parent.x;  // area.x or one less
  const int minWidth = largest.width + 2;
  const int maxWidth = 2 * (area.x + area.w - baseX) - largest.width;
  parent.w = std::clamp(2 * (cx - baseX), minWidth, std::max(minWidth, maxWidth));
  // Box y = 2 py + (ph - bh) / 3; its centre is then 2 py + ph / 3 + bh / 6.
  parent.y = area.y >= 0 ? area.y / 2 : -((1 - area.y) / 2);
  const int baseY = 2 * parent.y;
  const int minHeight = largest.height + 3;
  const int maxHeight = 3 * (area.y + area.h - baseY) - 2 * largest.height;
  parent.h =
      std::clamp(3 * (cy - baseY) - typical.height / 2, minHeight, std::max(minHeight, maxHeight));
  return parent;
}

// Where the box's centre belongs, and the usable area of the display it opens on.
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
  SDL_Window* standIn = nullptr;
  if (!headless && isX11()) {
    int cx = 0, cy = 0;
    SDL_Rect area;
    boxTarget(data.window, cx, cy, area);
    const SDL_Rect parent = standInParent(cx,
                                          cy,
                                          estimateBoxSize(text, count, kTypicalFont),
                                          estimateBoxSize(text, count, kLargestFont),
                                          area);
    standIn = SDL_CreateWindow("", parent.x, parent.y, parent.w, parent.h, SDL_WINDOW_HIDDEN);
    // Without the stand-in SDL centres the box on display 0, which is on the screen too.
    data.window = standIn;
  }
  int pressed = -1;
  const bool shown = !headless && SDL_ShowMessageBox(&data, &pressed) == 0;
  if (!shown) {
    logLine("Message box \"",
            caption,
            "\" could not be shown: ",
            (headless ? "no display" : SDL_GetError()));
  }
  if (standIn != nullptr) SDL_DestroyWindow(standIn);
  if (!shown) return unshownAnswer(type);
  // -1: the box was closed without a button (window manager close): as Escape.
  return pressed < 0 ? escape : pressed;
}

}  // namespace epipolar
