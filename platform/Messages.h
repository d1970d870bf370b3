// The message vocabulary shared by the platform layer and the window classes.
//
// Window procedures receive (message id, wParam, lParam). Ids, virtual-key codes, box flags and
// box answers keep the numeric values of the classic desktop window API, so window logic reads
// the same as it would there and tests drive it by sending these numbers.
//
// Packing: mouse messages carry the client position in lParam, x in the low 16 bits and y in the
// high 16 bits (pixels, y down). WM_SIZE carries the new client width and height the same way.
// WM_KEYDOWN and WM_SYSKEYDOWN carry the virtual-key code in wParam. WM_CREATE carries a
// pointer to a CreateStruct in lParam. Positions of pointer messages are signed 16-bit values
// (a drag that leaves the window goes negative); xFromLParam and yFromLParam read them so.
//
// No SDL here: this header is plain constants and small helpers usable anywhere.
#pragma once

#include <compare>
#include <cstdint>

namespace epipolar {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// A native window. Ids are never reused within a process, so a handle whose window has been
// destroyed stays "dead" and never names another window. The null handle has id 0.
struct WindowHandle {
  std::uint32_t id = 0;
  explicit operator bool() const { return id != 0; }
  auto operator<=>(const WindowHandle&) const = default;
};

// Message ids.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;  // close request; default handling destroys the window
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_KEYDOWN = 0x0100;
// A key pressed while Alt is held and Ctrl is not, Alt itself, or F10. The windows of the
// described program leave it alone (no snapshot, no command); see platform/Platform.h.
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MOUSELEAVE = 0x02A3;  // the pointer left the client area
inline constexpr UINT WM_USER = 0x0400;

// WM_SYSCOMMAND commands. The low four bits of wParam are reserved; the default handling
// masks them off (wParam & 0xFFF0).
inline constexpr WPARAM SC_CLOSE = 0xF060;
inline constexpr WPARAM SC_SCREENSAVE = 0xF140;
inline constexpr WPARAM SC_MONITORPOWER = 0xF170;

// WM_SIZE wParam.
inline constexpr WPARAM SIZE_RESTORED = 0;

// Mouse message wParam: buttons and modifiers held.
inline constexpr WPARAM MK_LBUTTON = 0x0001;
inline constexpr WPARAM MK_RBUTTON = 0x0002;
inline constexpr WPARAM MK_SHIFT = 0x0004;
inline constexpr WPARAM MK_CONTROL = 0x0008;
inline constexpr WPARAM MK_MBUTTON = 0x0010;

// Virtual-key codes. Digits are '0'..'9' (0x30-0x39) and letters 'A'..'Z' (0x41-0x5A, always
// upper case), so the character literal is the key code.
inline constexpr WPARAM VK_BACK = 0x08;
inline constexpr WPARAM VK_TAB = 0x09;
inline constexpr WPARAM VK_CLEAR = 0x0C;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_SHIFT = 0x10;
inline constexpr WPARAM VK_CONTROL = 0x11;
inline constexpr WPARAM VK_MENU = 0x12;  // Alt
inline constexpr WPARAM VK_PAUSE = 0x13;
inline constexpr WPARAM VK_CAPITAL = 0x14;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_SPACE = 0x20;
inline constexpr WPARAM VK_PRIOR = 0x21;
inline constexpr WPARAM VK_NEXT = 0x22;
inline constexpr WPARAM VK_END = 0x23;
inline constexpr WPARAM VK_HOME = 0x24;
inline constexpr WPARAM VK_LEFT = 0x25;
inline constexpr WPARAM VK_UP = 0x26;
inline constexpr WPARAM VK_RIGHT = 0x27;
inline constexpr WPARAM VK_DOWN = 0x28;
inline constexpr WPARAM VK_SELECT = 0x29;
inline constexpr WPARAM VK_EXECUTE = 0x2B;
inline constexpr WPARAM VK_SNAPSHOT = 0x2C;  // Print Screen
inline constexpr WPARAM VK_INSERT = 0x2D;
inline constexpr WPARAM VK_DELETE = 0x2E;
inline constexpr WPARAM VK_HELP = 0x2F;
inline constexpr WPARAM VK_LWIN = 0x5B;  // the Super keys
inline constexpr WPARAM VK_RWIN = 0x5C;
inline constexpr WPARAM VK_APPS = 0x5D;  // Menu
inline constexpr WPARAM VK_SLEEP = 0x5F;
inline constexpr WPARAM VK_NUMPAD0 = 0x60;  // .. VK_NUMPAD9 = 0x69
inline constexpr WPARAM VK_MULTIPLY = 0x6A;
inline constexpr WPARAM VK_ADD = 0x6B;
inline constexpr WPARAM VK_SEPARATOR = 0x6C;
inline constexpr WPARAM VK_SUBTRACT = 0x6D;
inline constexpr WPARAM VK_DECIMAL = 0x6E;
inline constexpr WPARAM VK_DIVIDE = 0x6F;
inline constexpr WPARAM VK_F1 = 0x70;   // .. VK_F12 = 0x7B
inline constexpr WPARAM VK_F4 = 0x73;   // Alt+F4 closes a window
inline constexpr WPARAM VK_F10 = 0x79;  // a system key, like Alt
inline constexpr WPARAM VK_F13 = 0x7C;  // .. VK_F24 = 0x87
inline constexpr WPARAM VK_NUMLOCK = 0x90;
inline constexpr WPARAM VK_SCROLL = 0x91;
inline constexpr WPARAM VK_BROWSER_BACK = 0xA6;
inline constexpr WPARAM VK_BROWSER_FORWARD = 0xA7;
inline constexpr WPARAM VK_BROWSER_REFRESH = 0xA8;
inline constexpr WPARAM VK_BROWSER_STOP = 0xA9;
inline constexpr WPARAM VK_BROWSER_SEARCH = 0xAA;
inline constexpr WPARAM VK_BROWSER_FAVORITES = 0xAB;
inline constexpr WPARAM VK_BROWSER_HOME = 0xAC;
inline constexpr WPARAM VK_VOLUME_MUTE = 0xAD;
inline constexpr WPARAM VK_VOLUME_DOWN = 0xAE;
inline constexpr WPARAM VK_VOLUME_UP = 0xAF;
inline constexpr WPARAM VK_MEDIA_NEXT_TRACK = 0xB0;
inline constexpr WPARAM VK_MEDIA_PREV_TRACK = 0xB1;
inline constexpr WPARAM VK_MEDIA_STOP = 0xB2;
inline constexpr WPARAM VK_MEDIA_PLAY_PAUSE = 0xB3;
inline constexpr WPARAM VK_LAUNCH_MAIL = 0xB4;
inline constexpr WPARAM VK_LAUNCH_MEDIA_SELECT = 0xB5;
inline constexpr WPARAM VK_LAUNCH_APP1 = 0xB6;
inline constexpr WPARAM VK_LAUNCH_APP2 = 0xB7;
inline constexpr WPARAM VK_OEM_1 = 0xBA;       // ;:
inline constexpr WPARAM VK_OEM_PLUS = 0xBB;    // =+
inline constexpr WPARAM VK_OEM_COMMA = 0xBC;   // ,<
inline constexpr WPARAM VK_OEM_MINUS = 0xBD;   // -_
inline constexpr WPARAM VK_OEM_PERIOD = 0xBE;  // .>
inline constexpr WPARAM VK_OEM_2 = 0xBF;       // /?
inline constexpr WPARAM VK_OEM_3 = 0xC0;       // `~
inline constexpr WPARAM VK_OEM_4 = 0xDB;       // [{
inline constexpr WPARAM VK_OEM_5 = 0xDC;       // \|
inline constexpr WPARAM VK_OEM_6 = 0xDD;       // ]}
inline constexpr WPARAM VK_OEM_7 = 0xDE;       // '"
inline constexpr WPARAM VK_OEM_102 = 0xE2;     // the extra key beside left Shift (<> on ISO boards)
// A key that has no code of its own (the code the described platform gives such keys).
inline constexpr WPARAM VK_NONE = 0xFF;

// Message box type flags: one button set, optionally ORed with one icon.
inline constexpr UINT MB_OK = 0x00;
inline constexpr UINT MB_OKCANCEL = 0x01;
inline constexpr UINT MB_YESNOCANCEL = 0x03;
inline constexpr UINT MB_YESNO = 0x04;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_TYPEMASK = 0x0F;
inline constexpr UINT MB_ICONMASK = 0xF0;

// Message box answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// What lParam of WM_CREATE points to. Valid only during the WM_CREATE call.
struct CreateStruct {
  void* createParams = nullptr;  // the creation parameter given to createWindow
  const char* title = "";
  int x = 0;
  int y = 0;
  int cx = 0;  // client width, pixels
  int cy = 0;  // client height, pixels
};

constexpr LPARAM makeLParam(unsigned low, unsigned high) {
  return static_cast<LPARAM>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned loWord(LPARAM value) { return static_cast<unsigned>(value) & 0xFFFFu; }
constexpr unsigned hiWord(LPARAM value) { return (static_cast<unsigned>(value) >> 16) & 0xFFFFu; }
// The position of a pointer message as signed values: a drag past the left or top edge
// reports negative coordinates, packed as 16-bit two's complement.
constexpr int xFromLParam(LPARAM value) { return static_cast<std::int16_t>(loWord(value)); }
constexpr int yFromLParam(LPARAM value) { return static_cast<std::int16_t>(hiWord(value)); }

}  // namespace epipolar
