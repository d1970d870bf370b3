// Modal message boxes over SDL, and the script that answers them in tests.

#include <SDL.h>

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
  if (!platform_internal::ensureStarted()) return escape;

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
  if (headless || SDL_ShowMessageBox(&data, &pressed) != 0) {
    DebugStream << "Message box \"" << caption
                << "\" could not be shown: " << (headless ? "no display" : SDL_GetError());
    DebugStream.put('\n');
    DebugStream.flush();
    return escape;
  }
  // -1: the box was closed without a button (window manager close): as Escape.
  return pressed < 0 ? escape : pressed;
}

}  // namespace epipolar
