// Windows that another X client destroys (xdotool windowclose, xkill, a crashed window
// manager's clean-up): they are closed as if the user had asked, instead of letting Xlib's
// default error handler end the process on the next request that names the dead window.
// Kept apart from the rest of the platform because Xlib's headers define many bare macros.
//
// Two ways of noticing, both on the UI thread (the only thread that makes Xlib calls):
//   - DestroyNotify: SDL selects StructureNotifyMask on its windows, so the server reports the
//     destruction on SDL's connection. SDL 2.26 hands that event on only as SDL_SYSWMEVENT,
//     which the event filter here reads and drops; only DestroyNotify of a watched window is
//     let through, so that a blocking wait wakes up.
//   - X errors: a request already in flight when the window died (a swap, a surface update)
//     answers BadWindow or BadDrawable. The handler takes those, and every later error naming a
//     window known to be gone (GLX errors included), as the loss of the window; other errors
//     go to the handler that was installed before (SDL's, which ends in Xlib's default).
// Either way the window is marked gone and its handle queued for WM_CLOSE (takeGoneWindow).

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/PlatformInternal.h"

namespace epipolar::platform_internal {

namespace {

struct Watch {
  // Guards everything below. Never held while calling SDL or Xlib, and never together with
  // the platform's own mutex: the event filter runs inside SDL_PushEvent, which capture
  // threads call while holding that one.
  std::mutex mutex;
  bool active = false;
  Display* display = nullptr;  // SDL's connection
  XErrorHandler previous = nullptr;
  std::unordered_map<XID, std::uint32_t> live;  // X window -> handle id
  std::unordered_map<std::uint32_t, XID> xidOf;
  std::set<std::uint32_t> gone;  // handle ids of windows lost and not yet destroyed
  std::deque<std::uint32_t> toClose;
  // X windows lost at some time: requests SDL makes while destroying them, or queued before,
  // still draw errors that must not end the program.
  std::set<XID> deadXids;
};

Watch& watch() {
  static Watch w;
  return w;
}

// Marks the window of X id `xid` gone. Returns false for a window not watched. Lock held.
bool markGone(Watch& w, XID xid) {
  auto it = w.live.find(xid);
  if (it == w.live.end()) return false;
  if (w.gone.insert(it->second).second) w.toClose.push_back(it->second);
  w.deadXids.insert(xid);
  return true;
}

int onXError(Display* display, XErrorEvent* error) {
  Watch& w = watch();
  XErrorHandler previous = nullptr;
  {
    std::lock_guard lock(w.mutex);
    if (display == w.display) {
      const XID xid = error->resourceid;
      if (w.deadXids.count(xid) != 0) return 0;
      if ((error->error_code == BadWindow || error->error_code == BadDrawable) && markGone(w, xid))
        return 0;
    }
    previous = w.previous;
  }
  return previous != nullptr ? previous(display, error) : 0;
}

int filterEvent(void*, SDL_Event* event) {
  if (event->type != SDL_SYSWMEVENT) return 1;
  const SDL_SysWMmsg* msg = event->syswm.msg;
  if (msg == nullptr || msg->subsystem != SDL_SYSWM_X11) return 0;
  const XEvent& x = msg->msg.x11.event;
  if (x.type != DestroyNotify) return 0;
  Watch& w = watch();
  std::lock_guard lock(w.mutex);
  return markGone(w, x.xdestroywindow.window) ? 1 : 0;
}

}  // namespace

void startWindowWatch() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::strcmp(driver, "x11") != 0) return;
  Watch& w = watch();
  XErrorHandler previous = XSetErrorHandler(&onXError);
  {
    std::lock_guard lock(w.mutex);
    // A second start without SDL having restored its own handler in between keeps the first.
    if (previous != &onXError) w.previous = previous;
    w.active = true;
  }
  SDL_SetEventFilter(&filterEvent, nullptr);
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

void stopWindowWatch() {
  Watch& w = watch();
  {
    std::lock_guard lock(w.mutex);
    if (!w.active) return;
    w.active = false;
  }
  SDL_EventState(SDL_SYSWMEVENT, SDL_DISABLE);
  SDL_SetEventFilter(nullptr, nullptr);
  // The handler stays until SDL closes its connection, which may still read errors about
  // dead windows; SDL then puts back the handler it found.
  std::lock_guard lock(w.mutex);
  w.live.clear();
  w.xidOf.clear();
  w.gone.clear();
  w.toClose.clear();
  // A new connection may hand out the same X ids again; the errors of the lost windows were
  // all taken when they were destroyed (unwatchWindow).
  w.deadXids.clear();
  w.display = nullptr;
}

void watchWindow(SDL_Window* sdl, std::uint32_t id) {
  Watch& w = watch();
  {
    std::lock_guard lock(w.mutex);
    if (!w.active) return;
  }
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(sdl, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return;
  std::lock_guard lock(w.mutex);
  w.display = info.info.x11.display;
  w.live[info.info.x11.window] = id;
  w.xidOf[id] = info.info.x11.window;
}

void beforeDestroy(std::uint32_t id) {
  Watch& w = watch();
  Display* display = nullptr;
  XID xid = 0;
  {
    std::lock_guard lock(w.mutex);
    auto it = w.xidOf.find(id);
    if (it == w.xidOf.end() || w.gone.count(id) == 0) return;
    display = w.display;
    xid = it->second;
  }
  // When SDL does not wait for it, SDL's event loop later reads it as an event of no window
  // it knows, and drops it.
  XEvent unmap{};
  unmap.xunmap.type = UnmapNotify;
  unmap.xunmap.send_event = True;
  unmap.xunmap.display = display;
  unmap.xunmap.event = xid;
  unmap.xunmap.window = xid;
  XPutBackEvent(display, &unmap);
}

void unwatchWindow(std::uint32_t id) {
  Watch& w = watch();
  Display* syncDisplay = nullptr;
  {
    std::lock_guard lock(w.mutex);
    auto it = w.xidOf.find(id);
    if (it == w.xidOf.end()) return;
    w.live.erase(it->second);
    w.xidOf.erase(it);
    if (w.gone.erase(id) != 0) syncDisplay = w.display;
  }
  // The errors SDL's clean-up of a lost window draws are taken here, while the handler that
  // knows the window is still installed.
  if (syncDisplay != nullptr) XSync(syncDisplay, False);
}

bool windowGone(std::uint32_t id) {
  Watch& w = watch();
  std::lock_guard lock(w.mutex);
  return w.gone.count(id) != 0;
}

std::optional<std::uint32_t> takeGoneWindow() {
  Watch& w = watch();
  std::lock_guard lock(w.mutex);
  if (w.toClose.empty()) return std::nullopt;
  const std::uint32_t id = w.toClose.front();
  w.toClose.pop_front();
  return id;
}

}  // namespace epipolar::platform_internal
