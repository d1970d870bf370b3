// The base of every window: one native window, its class, and message routing.
//
// A BaseWnd owns one native top-level window. The shared windowProc routes each message of a
// handle to the object recorded for it in windowMap and calls the object's virtual
// handleMessage. Derived classes handle the messages they care about and pass the rest to the
// base class; BaseWnd's handling ends in the platform default (defWindowProc).
//
// Creation: create() registers the class record (a second registration of the same class
// fails and changes nothing), makes the native window hidden, and records the handle in
// `hwnd` and windowMap only when the platform returns. WM_CREATE therefore reaches the
// derived handleMessage while `hwnd` is still null; the handle is the first argument of
// windowProc if needed (lParam points to a CreateStruct whose createParams is the object).
//
// Ending the loop: handling WM_DESTROY posts the quit message (exit code 0) when
// `quitOnDestroy` is set. The user's close request (WM_CLOSE) destroys the native window, so
// closing a window with quitOnDestroy false destroys only it and the loop goes on.
//
// Destruction (the last step of every derived destructor): the object now behaves as a plain
// BaseWnd; a live native window is destroyed (its WM_DESTROY reaches the BaseWnd handling,
// which may post the quit message); the windowMap entry is removed and `hwnd` becomes null.
// A window the user already closed keeps its dead handle and entry until then; destroying the
// dead handle fails quietly.
//
// Threads: UI thread only, except invalidate(), which any thread may call while the object
// lives.
#pragma once

#include <map>
#include <string>

#include "platform/Messages.h"
#include "platform/Platform.h"

namespace epipolar {

class BaseWnd {
 public:
  // quitOnDestroy = true, hwnd = null, the "BaseWnd" class record prepared. No native window.
  BaseWnd();
  BaseWnd(const BaseWnd&) = delete;
  BaseWnd& operator=(const BaseWnd&) = delete;

  // Destroys the native window as described above.
  virtual ~BaseWnd();
  // Shows or hides the window; returns whether it was visible before.
  virtual bool show(bool visible);
  // Asks for one repaint of the whole window (coalesced). Any thread.
  virtual void invalidate();
  // WM_DESTROY posts the quit message if quitOnDestroy and returns 0; everything else
  // goes to defWindowProc.
  virtual LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // Nothing here; GLWnd releases its GL context.
  virtual void releaseResources();

  // Puts windowProc into the record, registers it (result ignored), creates the hidden native
  // window with this object as creation parameter, records the handle. Always returns true;
  // if the platform could not make the window, hwnd stays null and the object has no window.
  bool create(
      WindowClass& windowClass, const std::string& title, int x, int y, int width, int height);

  // The title (at most 255 characters), "" without a live window.
  std::string getTitle() const;
  void setTitle(const std::string& title);

  // The procedure of every window class of the system.
  static LRESULT windowProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  // The "BaseWnd" class record, filled on first use.
  static WindowClass& baseClass();

  // Handle to object, one entry per created window; does not own the objects. UI thread only.
  static std::map<WindowHandle, BaseWnd*> windowMap;

  bool quitOnDestroy = true;
  WindowHandle hwnd;
};

}  // namespace epipolar
