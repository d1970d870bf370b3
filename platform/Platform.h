// Native windows, the message loop and modal message boxes, over SDL2.
//
// This is the only layer that includes SDL. Everything above it sees window handles and the
// message vocabulary of platform/Messages.h:
//   - SDL input becomes WM_LBUTTONDOWN / WM_MBUTTONDOWN / WM_RBUTTONDOWN / WM_LBUTTONUP /
//     WM_MOUSEMOVE (client x, y packed in lParam as signed 16-bit values, MK_* flags of the
//     buttons and of Shift and Ctrl held in wParam), WM_MOUSELEAVE (the pointer left the
//     window), WM_KEYDOWN and WM_SYSKEYDOWN (virtual-key code in wParam; repeat count,
//     bit 29 for Alt held and bit 30 for auto-repeat in lParam), WM_SIZE (new
//     client size in lParam) and WM_CLOSE (the user's close request).
//   - Every key has a code: arrows, digits, upper-case letters and the usual codes of the
//     described platform (VK_*), by the key's meaning and, for keys whose character has no
//     code (letters of other alphabets, punctuation of other layouts), by its position on a US
//     keyboard; VK_NONE for the few left over.
//   - System keys: a key pressed while Alt is held and Ctrl is not, Alt itself, and F10 come
//     as WM_SYSKEYDOWN, which the windows leave to defWindowProc. AltGr counts as Ctrl+Alt,
//     as it does on the described platform, so its keys stay WM_KEYDOWN: that is the key SDL
//     calls Mode, and right Alt where the X keymap makes it a level-3 shift.
//   - Pointer motions queued one after another for one window, with the same buttons held,
//     are merged into the last of them, so a busy loop never falls behind the pointer.
//   - The default handling of WM_CLOSE destroys the window, which delivers WM_DESTROY.
//   - A window another X client destroys is closed as by the user: WM_CLOSE comes from the
//     queue (its default handling destroys the window, delivering WM_DESTROY); the window is
//     not painted again, and the X errors its loss draws do not end the process.
//   - SIGINT and SIGTERM (SDL_QUIT) post the quit message, so the loop ends exactly as when a
//     window that ends the program is closed, and the normal teardown runs.
//
// The platform starts itself on first use. Before the first window exists it sets
// SDL_HINT_FRAMEBUFFER_ACCELERATION to "0" (otherwise the first window-surface request
// re-creates the window and steals the current GL context), turns off SDL's own
// quit-on-last-window-close, and requests the GL attributes of platform/GLContext.h.
// SDL_VIDEODRIVER=offscreen runs all of it without an X server.
//
// Sizes and positions are in pixels. A window's width and height are its client size: the
// whole of a frame of that size is visible.
//
// Threads: everything runs on the one UI thread that first used the platform, except
// invalidate() and postMessage(), which are safe from any thread. Failures are reported by the
// return values documented below and never throw.
#pragma once

#include <string>
#include <vector>

#include "platform/Messages.h"

namespace epipolar {

// Receives every message of the windows of a class, on the UI thread.
using WindowProc = LRESULT (*)(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// A window class: the procedure of its windows and whether they are OpenGL windows (no paint
// surface; a GL context can be made for them, see platform/GLContext.h).
struct WindowClass {
  const char* name = "";
  WindowProc proc = nullptr;
  bool openGL = false;
};

// Registers a class under its name. Returns false, changing nothing, if a class of that name
// is already registered or the record has no name or procedure.
bool registerClass(const WindowClass& windowClass);

// Creates a hidden window of a registered class at (x, y) with the given client size and
// title. Before returning it calls the class procedure with WM_CREATE, the new handle, and
// lParam pointing to a CreateStruct whose createParams is `createParam`. If that call returns
// -1 the window is destroyed again and the null handle returned. Also returns the null handle
// when the class is unknown or SDL cannot make the window (the SDL error is logged).
WindowHandle createWindow(const char* className,
                          const char* title,
                          int x,
                          int y,
                          int width,
                          int height,
                          void* createParam);

// Destroys a live window: first delivers WM_DESTROY to its procedure (the window is still
// valid then), then closes the native window. Returns false, doing nothing, for a null or
// already destroyed handle.
bool destroyWindow(WindowHandle hwnd);

// True while the window exists.
bool isWindow(WindowHandle hwnd);

// Shows or hides the window. Returns whether it was visible before. Showing queues a paint.
bool showWindow(WindowHandle hwnd, bool visible);

// The window title, or "" for a dead handle.
std::string getWindowText(WindowHandle hwnd);
// Sets the title. Returns false for a dead handle.
bool setWindowText(WindowHandle hwnd, const std::string& text);

// Current client size in pixels; false (sizes untouched) for a dead handle.
bool getClientSize(WindowHandle hwnd, int& width, int& height);

// Asks for one WM_PAINT of the window. Safe from any thread. Requests made while a paint is
// already pending coalesce into it; a request made during the paint handler queues the next
// one. A dead handle is ignored.
void invalidate(WindowHandle hwnd);

// The handling of messages a window procedure does not handle itself:
//   WM_CLOSE: destroys the window.
//   WM_SYSKEYDOWN: Alt+F4 sends WM_SYSCOMMAND with SC_CLOSE; other system keys do nothing.
//   WM_SYSCOMMAND: by wParam & 0xFFF0: SC_CLOSE sends WM_CLOSE; SC_SCREENSAVE and
//     SC_MONITORPOWER let the screen saver and display power saving run again
//     (enableScreenSaver()).
//   everything else: nothing.
// Returns 0.
LRESULT defWindowProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// One message taken from the queue.
struct Message {
  WindowHandle hwnd;
  UINT message = WM_NULL;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Waits for the next message. Returns false when it is WM_QUIT (wParam holds the exit code),
// true otherwise. Input for windows that no longer exist is skipped.
bool getMessage(Message& msg);
// As getMessage, but returns false at once when no message is waiting (msg.message is then
// WM_NULL); a quit message is returned with true. For tests and polling loops.
bool peekMessage(Message& msg);
// Calls the procedure of msg.hwnd and returns its result; 0 if the window no longer exists.
LRESULT dispatchMessage(const Message& msg);
// Calls the window's procedure directly (UI thread); 0 for a dead handle.
LRESULT sendMessage(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues a message for the window. Safe from any thread. Returns false if the queue is full.
bool postMessage(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Makes getMessage return false with this exit code once the messages queued before it are
// taken (UI thread).
void postQuitMessage(int exitCode);

// Whether Shift (VK_SHIFT), Ctrl (VK_CONTROL) or Alt (VK_MENU) is held, as of the last key
// message taken from the queue (not the keyboard's state at this instant, which may be ahead):
// during the dispatch of a click it tells a Shift+click from a click. False for other codes.
// UI thread.
bool isKeyDown(WPARAM virtualKey);

// Screen saver and display power saving. SDL enables them by default.
void disableScreenSaver();
void enableScreenSaver();
bool screenSaverEnabled();

// Shows a modal box and returns the answer: IDOK, IDCANCEL, IDYES or IDNO. `type` is one of
// MB_OK, MB_OKCANCEL, MB_YESNO, MB_YESNOCANCEL, ORed with one MB_ICON* value. Buttons run
// left to right as Yes, No, Cancel (or OK, Cancel); Return answers the first button (Yes or
// OK) and Escape answers Cancel, or No in a Yes/No box, or OK in an OK-only box.
// The box opens wholly on the screen: centred over `owner` when the owner is shown with its
// centre on a display, otherwise centred on the owner's display (display 0 without one).
// `owner` may be null. While a MessageBoxScript exists the box is not shown: it is recorded
// and answered from the script. If the box cannot be shown (no display, as with the
// offscreen driver, or SDL fails) the reason is logged and 0 is returned, "no answer", which
// callers read as neither Yes nor Cancel; an OK-only box returns IDOK then.
int messageBox(WindowHandle owner, const char* text, const char* caption, UINT type);

// One box as the script saw it.
struct MessageBoxCall {
  WindowHandle owner;
  std::string text;
  std::string caption;
  UINT type = MB_OK;
  int answer = 0;
};

// Test seam: while an object of this class exists, every messageBox() call is recorded and
// answered with the next queued answer instead of being shown; when the queue is empty the
// Escape answer is used. One script at a time; UI thread only.
class MessageBoxScript {
 public:
  explicit MessageBoxScript(std::vector<int> answers = {});
  ~MessageBoxScript();
  MessageBoxScript(const MessageBoxScript&) = delete;
  MessageBoxScript& operator=(const MessageBoxScript&) = delete;

  // Appends an answer to the queue.
  void push(int answer);
  // Every box shown so far, oldest first.
  const std::vector<MessageBoxCall>& calls() const { return recorded; }
  // Answers still queued.
  std::size_t pending() const { return answers.size() - next; }

 private:
  friend int messageBox(WindowHandle, const char*, const char*, UINT);
  std::vector<int> answers;
  std::size_t next = 0;
  std::vector<MessageBoxCall> recorded;
};

// Ends the platform: closes every remaining window and quits SDL. The next use starts it again.
void shutdownPlatform();

}  // namespace epipolar
