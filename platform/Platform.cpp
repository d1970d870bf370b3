// Windows, the message loop and the translation of SDL events into messages.

#include "platform/Platform.h"

#include <SDL.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "log/DebugStream.h"
#include "platform/PlatformInternal.h"

namespace epipolar {

using platform_internal::NativeWindow;

namespace {

struct PlatformState {
  bool started = false;
  bool failed = false;
  // Guards `windows` and `bySdlId`: invalidate() and postMessage() look windows up from any
  // thread. The UI thread is the only writer.
  std::mutex mutex;
  std::map<std::uint32_t, std::unique_ptr<NativeWindow>> windows;
  std::unordered_map<Uint32, std::uint32_t> bySdlId;
  std::map<std::string, WindowClass> classes;
  Uint32 paintEvent = 0;  // user.windowID = handle id
  Uint32 postEvent = 0;   // user.windowID, code = msg, data1 = wParam, data2 = lParam
  Uint32 quitEvent = 0;   // code = exit code
  bool quitFlag = false;  // a quit that could not be queued
  int quitCode = 0;
  // Input state as of the last event taken from the queue (UI thread): the modifiers of the
  // last key event, the buttons of the last pointer event.
  Uint16 keyMods = 0;
  Uint32 mouseButtons = 0;
  // Set by tests: right Alt taken as AltGr or as Alt without asking the X server.
  std::optional<bool> rightAltIsAltGr;
};

PlatformState& state() {
  static PlatformState s;
  return s;
}

// Handle ids are never reused, even across shutdownPlatform(), so a dead handle stays dead.
std::atomic<std::uint32_t> nextWindowId{1};

// Events may be pushed from capture threads while the UI thread starts or stops the platform.
std::atomic<bool> eventsReady{false};

// Video drivers without a blocking wait of their own (offscreen, dummy) make SDL_WaitEvent
// poll the queue every millisecond, which costs a few percent of a core while idle. For them
// getMessage sleeps on this instead: every event this layer pushes (paints, posted messages,
// quits, from any thread) is counted after it is queued and wakes the waiter. SDL's own
// events (window events, input, signals) are queued while events are pumped on the UI
// thread, so the sleep is capped at kPumpInterval.
struct QueueWakeup {
  std::mutex mutex;
  std::condition_variable added;
  std::uint64_t count = 0;  // events pushed so far
};
QueueWakeup& queueWakeup() {
  static QueueWakeup wakeup;
  return wakeup;
}
constexpr auto kPumpInterval = std::chrono::milliseconds(10);
std::atomic<bool> waitsByPolling{false};  // set at start-up from the driver's name

// SDL_PushEvent, then a wake-up of a sleeping getMessage.
int pushEvent(SDL_Event& e) {
  const int result = SDL_PushEvent(&e);
  if (result == 1 && waitsByPolling.load(std::memory_order_relaxed)) {
    QueueWakeup& wakeup = queueWakeup();
    {
      std::lock_guard lock(wakeup.mutex);
      ++wakeup.count;
    }
    wakeup.added.notify_one();
  }
  return result;
}

std::uint64_t addedEvents() {
  QueueWakeup& wakeup = queueWakeup();
  std::lock_guard lock(wakeup.mutex);
  return wakeup.count;
}

// Waits for an event as SDL_WaitEvent does (1: an event taken, 0: an error).
int waitEvent(SDL_Event& e) {
  if (!waitsByPolling.load(std::memory_order_relaxed)) return SDL_WaitEvent(&e);
  for (;;) {
    // Read before looking, so an event added after the look ends the sleep at once.
    const std::uint64_t seen = addedEvents();
    SDL_PumpEvents();
    switch (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) {
      case -1:
        return 0;
      case 0: {
        QueueWakeup& wakeup = queueWakeup();
        std::unique_lock lock(wakeup.mutex);
        wakeup.added.wait_for(lock, kPumpInterval, [&] { return wakeup.count != seen; });
        break;
      }
      default:
        return 1;
    }
  }
}

void fillCreate(CreateStruct& cs, void* param, const char* title, int x, int y, int w, int h) {
  cs.createParams = param;
  cs.title = title;
  cs.x = x;
  cs.y = y;
  cs.cx = w;
  cs.cy = h;
}

bool rightAltIsAltGr() {
  const std::optional<bool>& fixed = state().rightAltIsAltGr;
  return fixed ? *fixed : platform_internal::rightAltIsLevel3Shift();
}

bool altGrHeld(Uint16 mods) {
  return (mods & KMOD_MODE) != 0 || ((mods & KMOD_RALT) != 0 && rightAltIsAltGr());
}

// MK_* flags of the buttons in an SDL button mask and of Shift and Ctrl held.
WPARAM mouseFlags(Uint32 buttons) {
  const Uint16 mods = state().keyMods;
  WPARAM flags = 0;
  if (buttons & SDL_BUTTON_LMASK) flags |= MK_LBUTTON;
  if (buttons & SDL_BUTTON_RMASK) flags |= MK_RBUTTON;
  if (buttons & SDL_BUTTON_MMASK) flags |= MK_MBUTTON;
  if (mods & KMOD_SHIFT) flags |= MK_SHIFT;
  if (mods & KMOD_CTRL) flags |= MK_CONTROL;
  return flags;
}

// The virtual-key code of an SDL key, or 0 for keys without one.
WPARAM virtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + (key - SDLK_F1);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (key - SDLK_KP_1);
  switch (key) {
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
      return VK_MENU;
    case SDLK_PAUSE:
      return VK_PAUSE;
    case SDLK_CAPSLOCK:
      return VK_CAPITAL;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_PAGEUP:
      return VK_PRIOR;
    case SDLK_PAGEDOWN:
      return VK_NEXT;
    case SDLK_END:
      return VK_END;
    case SDLK_HOME:
      return VK_HOME;
    case SDLK_INSERT:
      return VK_INSERT;
    case SDLK_DELETE:
      return VK_DELETE;
    case SDLK_KP_0:
      return VK_NUMPAD0;
    case SDLK_KP_MULTIPLY:
      return VK_MULTIPLY;
    case SDLK_KP_PLUS:
      return VK_ADD;
    case SDLK_KP_MINUS:
      return VK_SUBTRACT;
    case SDLK_KP_PERIOD:
      return VK_DECIMAL;
    case SDLK_KP_DIVIDE:
      return VK_DIVIDE;
    case SDLK_SEMICOLON:
      return VK_OEM_1;
    case SDLK_EQUALS:
      return VK_OEM_PLUS;
    case SDLK_COMMA:
      return VK_OEM_COMMA;
    case SDLK_MINUS:
      return VK_OEM_MINUS;
    case SDLK_PERIOD:
      return VK_OEM_PERIOD;
    case SDLK_SLASH:
      return VK_OEM_2;
    case SDLK_BACKQUOTE:
      return VK_OEM_3;
    case SDLK_LEFTBRACKET:
      return VK_OEM_4;
    case SDLK_BACKSLASH:
      return VK_OEM_5;
    case SDLK_RIGHTBRACKET:
      return VK_OEM_6;
    case SDLK_QUOTE:
      return VK_OEM_7;
    default:
      return 0;
  }
}

// Codes for keys that have a meaning of their own but no character: locks, Super and Menu,
// F13-F24, media and browser keys. 0 for others.
WPARAM functionKey(SDL_Keycode key) {
  if (key >= SDLK_F13 && key <= SDLK_F24) return VK_F13 + (key - SDLK_F13);
  switch (key) {
    case SDLK_NUMLOCKCLEAR:
      return VK_NUMLOCK;
    case SDLK_SCROLLLOCK:
      return VK_SCROLL;
    case SDLK_LGUI:
      return VK_LWIN;
    case SDLK_RGUI:
      return VK_RWIN;
    case SDLK_APPLICATION:
    case SDLK_MENU:
      return VK_APPS;
    case SDLK_MODE:  // AltGr where the layout calls it Mode_switch: Ctrl+Alt, reported as Alt
      return VK_MENU;
    case SDLK_PRINTSCREEN:
    case SDLK_SYSREQ:
      return VK_SNAPSHOT;
    case SDLK_CLEAR:
      return VK_CLEAR;
    case SDLK_HELP:
      return VK_HELP;
    case SDLK_SELECT:
      return VK_SELECT;
    case SDLK_EXECUTE:
      return VK_EXECUTE;
    case SDLK_SLEEP:
      return VK_SLEEP;
    case SDLK_KP_COMMA:
      return VK_SEPARATOR;
    case SDLK_AUDIOMUTE:
      return VK_VOLUME_MUTE;
    case SDLK_VOLUMEDOWN:
      return VK_VOLUME_DOWN;
    case SDLK_VOLUMEUP:
      return VK_VOLUME_UP;
    case SDLK_AUDIONEXT:
      return VK_MEDIA_NEXT_TRACK;
    case SDLK_AUDIOPREV:
      return VK_MEDIA_PREV_TRACK;
    case SDLK_AUDIOSTOP:
      return VK_MEDIA_STOP;
    case SDLK_AUDIOPLAY:
      return VK_MEDIA_PLAY_PAUSE;
    case SDLK_MAIL:
      return VK_LAUNCH_MAIL;
    case SDLK_MEDIASELECT:
      return VK_LAUNCH_MEDIA_SELECT;
    case SDLK_COMPUTER:
      return VK_LAUNCH_APP1;
    case SDLK_CALCULATOR:
      return VK_LAUNCH_APP2;
    case SDLK_WWW:
    case SDLK_AC_HOME:
      return VK_BROWSER_HOME;
    case SDLK_AC_SEARCH:
      return VK_BROWSER_SEARCH;
    case SDLK_AC_BACK:
      return VK_BROWSER_BACK;
    case SDLK_AC_FORWARD:
      return VK_BROWSER_FORWARD;
    case SDLK_AC_STOP:
      return VK_BROWSER_STOP;
    case SDLK_AC_REFRESH:
      return VK_BROWSER_REFRESH;
    case SDLK_AC_BOOKMARKS:
      return VK_BROWSER_FAVORITES;
    default:
      return 0;
  }
}

// The code of the key at this position on a US keyboard, for keys whose character has no
// code (Cyrillic letters, umlauts, the ISO key beside left Shift). 0 for others.
WPARAM keyAtPosition(SDL_Scancode scancode) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
    return 'A' + (scancode - SDL_SCANCODE_A);
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
    return '1' + (scancode - SDL_SCANCODE_1);
  switch (scancode) {
    case SDL_SCANCODE_0:
      return '0';
    case SDL_SCANCODE_SEMICOLON:
      return VK_OEM_1;
    case SDL_SCANCODE_EQUALS:
      return VK_OEM_PLUS;
    case SDL_SCANCODE_COMMA:
      return VK_OEM_COMMA;
    case SDL_SCANCODE_MINUS:
      return VK_OEM_MINUS;
    case SDL_SCANCODE_PERIOD:
      return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH:
      return VK_OEM_2;
    case SDL_SCANCODE_GRAVE:
      return VK_OEM_3;
    case SDL_SCANCODE_LEFTBRACKET:
      return VK_OEM_4;
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH:
      return VK_OEM_5;
    case SDL_SCANCODE_RIGHTBRACKET:
      return VK_OEM_6;
    case SDL_SCANCODE_APOSTROPHE:
      return VK_OEM_7;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return VK_OEM_102;
    default:
      return 0;
  }
}

// The code of a key: by its meaning, then by its position, else VK_NONE. Every key has one.
WPARAM keyCode(const SDL_Keysym& key) {
  if (WPARAM vk = virtualKey(key.sym)) return vk;
  if (WPARAM vk = functionKey(key.sym)) return vk;
  if (WPARAM vk = keyAtPosition(key.scancode)) return vk;
  return VK_NONE;
}

// Whether a key press is a system key: Alt held without Ctrl (Alt itself included), or F10
// without Ctrl. AltGr is Ctrl+Alt, so nothing pressed with it is a system key.
bool isSystemKey(const SDL_Keysym& key) {
  const Uint16 mods = key.mod;
  if ((mods & KMOD_CTRL) != 0 || altGrHeld(mods) || key.sym == SDLK_MODE) return false;
  return (mods & KMOD_ALT) != 0 || key.sym == SDLK_LALT || key.sym == SDLK_RALT ||
         key.sym == SDLK_F10;
}

// Whether the next queued event is a pointer motion that supersedes `motion`: the same
// window, the same buttons. Looking does not pump, so it never reorders anything.
bool supersededMotion(const SDL_MouseMotionEvent& motion) {
  SDL_Event next;
  if (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1) return false;
  return next.type == SDL_MOUSEMOTION && next.motion.windowID == motion.windowID &&
         next.motion.state == motion.state;
}

// The handle of an SDL window id, or null.
WindowHandle handleOfSdl(Uint32 sdlId) {
  PlatformState& s = state();
  std::lock_guard lock(s.mutex);
  auto it = s.bySdlId.find(sdlId);
  return it == s.bySdlId.end() ? WindowHandle{} : WindowHandle{it->second};
}

void queueQuit(int exitCode) {
  PlatformState& s = state();
  SDL_Event e{};
  e.type = s.quitEvent;
  e.user.code = exitCode;
  if (pushEvent(e) != 1) {
    s.quitFlag = true;
    s.quitCode = exitCode;
  }
}

// Turns one SDL event into a message. Returns false when the event yields none.
bool translate(const SDL_Event& e, Message& msg) {
  PlatformState& s = state();
  msg = Message{};
  if (e.type == SDL_QUIT) {
    // SIGINT, SIGTERM: end the loop as closing a program-ending window would.
    msg.message = WM_QUIT;
    return true;
  }
  if (e.type == s.quitEvent) {
    msg.message = WM_QUIT;
    msg.wParam = static_cast<WPARAM>(e.user.code);
    return true;
  }
  if (e.type == s.paintEvent) {
    NativeWindow* w = platform_internal::findWindow(e.user.windowID);
    if (w == nullptr) return false;
    // Cleared before the paint runs, so a request made during the paint queues the next one.
    w->paintPending.store(false);
    // A window another client destroyed is not drawn again; its WM_CLOSE is on the way.
    if (platform_internal::windowGone(w->id)) return false;
    msg.hwnd = WindowHandle{w->id};
    msg.message = WM_PAINT;
    return true;
  }
  if (e.type == s.postEvent) {
    if (platform_internal::findWindow(e.user.windowID) == nullptr) return false;
    msg.hwnd = WindowHandle{e.user.windowID};
    msg.message = static_cast<UINT>(e.user.code);
    msg.wParam = reinterpret_cast<WPARAM>(e.user.data1);
    msg.lParam = reinterpret_cast<LPARAM>(e.user.data2);
    return true;
  }
  switch (e.type) {
    case SDL_WINDOWEVENT: {
      WindowHandle hwnd = handleOfSdl(e.window.windowID);
      if (!hwnd) return false;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          msg.hwnd = hwnd;
          msg.message = WM_CLOSE;
          return true;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          // The whole window is redrawn after a size change.
          invalidate(hwnd);
          msg.hwnd = hwnd;
          msg.message = WM_SIZE;
          msg.wParam = SIZE_RESTORED;
          msg.lParam = makeLParam(static_cast<unsigned>(e.window.data1),
                                  static_cast<unsigned>(e.window.data2));
          return true;
        case SDL_WINDOWEVENT_EXPOSED:
          invalidate(hwnd);
          return false;
        case SDL_WINDOWEVENT_LEAVE:
          msg.hwnd = hwnd;
          msg.message = WM_MOUSELEAVE;
          return true;
        default:
          return false;
      }
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const bool down = e.type == SDL_MOUSEBUTTONDOWN;
      if (down) {
        s.mouseButtons |= SDL_BUTTON(e.button.button);
      } else {
        s.mouseButtons &= ~SDL_BUTTON(e.button.button);
      }
      WindowHandle hwnd = handleOfSdl(e.button.windowID);
      if (!hwnd) return false;
      switch (e.button.button) {
        case SDL_BUTTON_LEFT:
          msg.message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
          break;
        case SDL_BUTTON_MIDDLE:
          if (!down) return false;
          msg.message = WM_MBUTTONDOWN;
          break;
        case SDL_BUTTON_RIGHT:
          if (!down) return false;
          msg.message = WM_RBUTTONDOWN;
          break;
        default:
          return false;
      }
      msg.hwnd = hwnd;
      msg.wParam = mouseFlags(s.mouseButtons);
      msg.lParam = makeLParam(static_cast<unsigned>(e.button.x), static_cast<unsigned>(e.button.y));
      return true;
    }
    case SDL_MOUSEMOTION: {
      s.mouseButtons = e.motion.state;
      WindowHandle hwnd = handleOfSdl(e.motion.windowID);
      if (!hwnd || supersededMotion(e.motion)) return false;
      msg.hwnd = hwnd;
      msg.message = WM_MOUSEMOVE;
      msg.wParam = mouseFlags(e.motion.state);
      msg.lParam = makeLParam(static_cast<unsigned>(e.motion.x), static_cast<unsigned>(e.motion.y));
      return true;
    }
    case SDL_KEYUP:
      s.keyMods = e.key.keysym.mod;
      return false;
    case SDL_KEYDOWN: {
      s.keyMods = e.key.keysym.mod;
      WindowHandle hwnd = handleOfSdl(e.key.windowID);
      if (!hwnd) return false;
      msg.hwnd = hwnd;
      msg.message = isSystemKey(e.key.keysym) ? WM_SYSKEYDOWN : WM_KEYDOWN;
      msg.wParam = keyCode(e.key.keysym);
      // Repeat count 1, bit 29 while Alt (not AltGr) is held, bit 30 for auto-repeat.
      const bool alt = (e.key.keysym.mod & KMOD_ALT) != 0 && !altGrHeld(e.key.keysym.mod);
      msg.lParam =
          static_cast<LPARAM>(1u | (alt ? (1u << 29) : 0u) | (e.key.repeat ? (1u << 30) : 0u));
      return true;
    }
    default:
      return false;
  }
}

// A window another X client destroyed gets the close the user's close request gives.
bool takeLostWindow(Message& msg) {
  while (std::optional<std::uint32_t> id = platform_internal::takeGoneWindow()) {
    if (platform_internal::findWindow(*id) == nullptr) continue;
    msg = Message{};
    msg.hwnd = WindowHandle{*id};
    msg.message = WM_CLOSE;
    return true;
  }
  return false;
}

bool takeQuitFlag(Message& msg) {
  PlatformState& s = state();
  if (!s.quitFlag) return false;
  s.quitFlag = false;
  msg = Message{};
  msg.message = WM_QUIT;
  msg.wParam = static_cast<WPARAM>(s.quitCode);
  return true;
}

}  // namespace

namespace platform_internal {

void setRightAltIsAltGr(std::optional<bool> altGr) { state().rightAltIsAltGr = altGr; }

void logSdlError(const char* what) { logLine(what, ": ", SDL_GetError()); }

bool ensureStarted() {
  PlatformState& s = state();
  if (s.started) return true;
  if (s.failed) return false;
  // Without this, the first window-surface request re-creates the window with hidden GL
  // contexts that steal the current context of the GL view.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Closing the last window is an ordinary close; only a signal makes SDL_QUIT.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // The screen saver runs unless a GL view keeps it off.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // A click on a window without the focus is a click too. SDL on X11 drops a press that comes
  // within 10 ms of the focus arriving, which under a click-to-focus window manager is every
  // click on the other camera window: marking pairs would lose every click.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    logSdlError("SDL_Init failed");
    s.failed = true;
    return false;
  }
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  Uint32 first = SDL_RegisterEvents(3);
  s.paintEvent = first;
  s.postEvent = first + 1;
  s.quitEvent = first + 2;
  startWindowWatch();
  const char* driver = SDL_GetCurrentVideoDriver();
  waitsByPolling.store(driver != nullptr && (std::strcmp(driver, "offscreen") == 0 ||
                                             std::strcmp(driver, "dummy") == 0));
  s.started = true;
  eventsReady.store(true);
  return true;
}

NativeWindow* findWindow(std::uint32_t id) {
  PlatformState& s = state();
  std::lock_guard lock(s.mutex);
  auto it = s.windows.find(id);
  return it == s.windows.end() ? nullptr : it->second.get();
}

}  // namespace platform_internal

using platform_internal::ensureStarted;
using platform_internal::findWindow;

bool registerClass(const WindowClass& windowClass) {
  if (!ensureStarted()) return false;
  if (windowClass.name == nullptr || windowClass.name[0] == '\0' || windowClass.proc == nullptr)
    return false;
  return state().classes.emplace(windowClass.name, windowClass).second;
}

WindowHandle createWindow(const char* className,
                          const char* title,
                          int x,
                          int y,
                          int width,
                          int height,
                          void* createParam) {
  if (!ensureStarted() || className == nullptr) return {};
  PlatformState& s = state();
  auto cls = s.classes.find(className);
  if (cls == s.classes.end()) return {};
  if (title == nullptr) title = "";

  Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE;
  if (cls->second.openGL) flags |= SDL_WINDOW_OPENGL;
  SDL_Window* sdl =
      SDL_CreateWindow(title, x, y, width < 1 ? 1 : width, height < 1 ? 1 : height, flags);
  if (sdl == nullptr) {
    platform_internal::logSdlError("SDL_CreateWindow failed");
    return {};
  }
  auto window = std::make_unique<NativeWindow>();
  window->id = nextWindowId.fetch_add(1);
  window->sdl = sdl;
  window->windowClass = cls->second;
  window->className = cls->first;
  window->windowClass.name = window->className.c_str();
  WindowHandle hwnd{window->id};
  {
    std::lock_guard lock(s.mutex);
    s.bySdlId[SDL_GetWindowID(sdl)] = window->id;
    s.windows[window->id] = std::move(window);
  }
  platform_internal::watchWindow(sdl, hwnd.id);

  CreateStruct cs;
  fillCreate(cs, createParam, title, x, y, width, height);
  if (cls->second.proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    destroyWindow(hwnd);
    return {};
  }
  return hwnd;
}

bool destroyWindow(WindowHandle hwnd) {
  NativeWindow* w = findWindow(hwnd.id);
  if (w == nullptr || w->destroying) return false;
  w->destroying = true;
  w->windowClass.proc(hwnd, WM_DESTROY, 0, 0);

  PlatformState& s = state();
  std::unique_ptr<NativeWindow> owned;
  {
    std::lock_guard lock(s.mutex);
    auto it = s.windows.find(hwnd.id);
    owned = std::move(it->second);
    s.windows.erase(it);
    s.bySdlId.erase(SDL_GetWindowID(owned->sdl));
  }
  platform_internal::beforeDestroy(hwnd.id);
  SDL_DestroyWindow(owned->sdl);
  platform_internal::unwatchWindow(hwnd.id);
  return true;
}

bool isWindow(WindowHandle hwnd) { return findWindow(hwnd.id) != nullptr; }

bool showWindow(WindowHandle hwnd, bool visible) {
  NativeWindow* w = findWindow(hwnd.id);
  if (w == nullptr) return false;
  bool wasVisible = (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN) != 0;
  if (visible) {
    SDL_ShowWindow(w->sdl);
    invalidate(hwnd);
  } else {
    SDL_HideWindow(w->sdl);
  }
  return wasVisible;
}

std::string getWindowText(WindowHandle hwnd) {
  NativeWindow* w = findWindow(hwnd.id);
  if (w == nullptr) return {};
  const char* title = SDL_GetWindowTitle(w->sdl);
  return title == nullptr ? std::string() : std::string(title);
}

bool setWindowText(WindowHandle hwnd, const std::string& text) {
  NativeWindow* w = findWindow(hwnd.id);
  if (w == nullptr) return false;
  SDL_SetWindowTitle(w->sdl, text.c_str());
  return true;
}

bool getClientSize(WindowHandle hwnd, int& width, int& height) {
  NativeWindow* w = findWindow(hwnd.id);
  if (w == nullptr) return false;
  SDL_GetWindowSize(w->sdl, &width, &height);
  return true;
}

void invalidate(WindowHandle hwnd) {
  PlatformState& s = state();
  std::lock_guard lock(s.mutex);
  if (!eventsReady.load()) return;
  auto it = s.windows.find(hwnd.id);
  if (it == s.windows.end()) return;
  if (it->second->paintPending.exchange(true)) return;
  SDL_Event e{};
  e.type = s.paintEvent;
  e.user.windowID = hwnd.id;
  if (pushEvent(e) != 1) it->second->paintPending.store(false);
}

LRESULT defWindowProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      destroyWindow(hwnd);
      return 0;
    case WM_SYSKEYDOWN:
      // Alt+F4 closes the window, as the window manager's close does.
      if (wParam == VK_F4 && (lParam & (LPARAM{1} << 29)) != 0)
        sendMessage(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE:
          sendMessage(hwnd, WM_CLOSE, 0, 0);
          return 0;
        case SC_SCREENSAVE:
        case SC_MONITORPOWER:
          enableScreenSaver();
          return 0;
        default:
          return 0;
      }
    default:
      return 0;
  }
}

bool getMessage(Message& msg) {
  if (!ensureStarted()) {
    msg = Message{};
    msg.message = WM_QUIT;
    return false;
  }
  for (;;) {
    if (takeQuitFlag(msg)) return false;
    if (takeLostWindow(msg)) return true;
    SDL_Event e;
    if (waitEvent(e) != 1) {
      platform_internal::logSdlError("SDL_WaitEvent failed");
      msg = Message{};
      msg.message = WM_QUIT;
      return false;
    }
    if (translate(e, msg)) return msg.message != WM_QUIT;
  }
}

bool peekMessage(Message& msg) {
  msg = Message{};
  if (!ensureStarted()) return false;
  if (takeQuitFlag(msg)) return true;
  if (takeLostWindow(msg)) return true;
  SDL_Event e;
  while (SDL_PollEvent(&e) == 1) {
    if (translate(e, msg)) return true;
    if (takeLostWindow(msg)) return true;
  }
  msg = Message{};
  return false;
}

LRESULT dispatchMessage(const Message& msg) {
  return sendMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

LRESULT sendMessage(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  NativeWindow* w = findWindow(hwnd.id);
  if (w == nullptr) return 0;
  return w->windowClass.proc(hwnd, msg, wParam, lParam);
}

bool postMessage(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  PlatformState& s = state();
  std::lock_guard lock(s.mutex);
  if (!eventsReady.load()) return false;
  SDL_Event e{};
  e.type = s.postEvent;
  e.user.windowID = hwnd.id;
  e.user.code = static_cast<Sint32>(msg);
  e.user.data1 = reinterpret_cast<void*>(wParam);
  e.user.data2 = reinterpret_cast<void*>(lParam);
  return pushEvent(e) == 1;
}

void postQuitMessage(int exitCode) {
  if (!ensureStarted()) return;
  queueQuit(exitCode);
}

bool isKeyDown(WPARAM virtualKey) {
  const Uint16 mods = state().keyMods;
  switch (virtualKey) {
    case VK_SHIFT:
      return (mods & KMOD_SHIFT) != 0;
    case VK_CONTROL:
      return (mods & KMOD_CTRL) != 0;
    case VK_MENU:
      return (mods & KMOD_ALT) != 0 && !altGrHeld(mods);
    default:
      return false;
  }
}

void disableScreenSaver() {
  if (ensureStarted()) SDL_DisableScreenSaver();
}
void enableScreenSaver() {
  if (ensureStarted()) SDL_EnableScreenSaver();
}
bool screenSaverEnabled() { return ensureStarted() && SDL_IsScreenSaverEnabled() == SDL_TRUE; }

void shutdownPlatform() {
  PlatformState& s = state();
  if (!s.started) return;
  std::vector<std::uint32_t> ids;
  {
    std::lock_guard lock(s.mutex);
    for (auto& [id, w] : s.windows) ids.push_back(id);
  }
  for (std::uint32_t id : ids) destroyWindow(WindowHandle{id});
  {
    std::lock_guard lock(s.mutex);
    eventsReady.store(false);
  }
  s.classes.clear();
  s.quitFlag = false;
  s.keyMods = 0;
  s.mouseButtons = 0;
  platform_internal::closeKeyboardLayout();
  platform_internal::stopWindowWatch();
  SDL_Quit();
  s.started = false;
  s.failed = false;
}

}  // namespace epipolar
