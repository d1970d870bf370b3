// The message vocabulary shared by the platform layer and the window classes.
//
// Window procedures receive (message id, wParam, lParam). Ids, virtual-key codes, box flags and
// box answers keep the numeric values of the classic desktop window API, so window logic reads
// the same as it would there and tests drive it by sending these numbers.
//
// Packing: mouse messages carry the client position in lParam, x in the low 16 bits and y in the
// high 16 bits (pixels, y down). WM_SIZE carries the new client width and height the same way.
// WM_KEYDOWN carries the virtual-key code in wParam. WM_CREATE carries a pointer to a
// CreateStruct in lParam.
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
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
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
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_SHIFT = 0x10;
inline constexpr WPARAM VK_CONTROL = 0x11;
inline constexpr WPARAM VK_MENU = 0x12;
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
inline constexpr WPARAM VK_INSERT = 0x2D;
inline constexpr WPARAM VK_DELETE = 0x2E;
inline constexpr WPARAM VK_NUMPAD0 = 0x60;  // .. VK_NUMPAD9 = 0x69
inline constexpr WPARAM VK_MULTIPLY = 0x6A;
inline constexpr WPARAM VK_ADD = 0x6B;
inline constexpr WPARAM VK_SUBTRACT = 0x6D;
inline constexpr WPARAM VK_DECIMAL = 0x6E;
inline constexpr WPARAM VK_DIVIDE = 0x6F;
inline constexpr WPARAM VK_F1 = 0x70;          // .. VK_F12 = 0x7B
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

}  // namespace epipolar
