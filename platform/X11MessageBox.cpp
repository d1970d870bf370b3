// The message box on X11, drawn in this process on a connection of its own.
//
// SDL 2.26 shows its X11 box from a forked child of the program. Forking a process whose
// other threads (capture, GStreamer) may hold a lock at that instant leaves the child waiting
// for that lock for ever: no box appears and the program hangs in waitpid. Sanitizer
// allocators make that likely, but nothing makes it impossible. This box needs no child.
// It also opens exactly where it is asked to: SDL centres its box over the parent with the
// parent's position counted twice, off the screen for a parent away from the top left.
// It follows SDL's look (colours, core X font), so a box looks the same on any driver.
//
// Kept apart from the rest of the platform because Xlib's headers define many bare macros.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/PlatformInternal.h"

namespace epipolar::platform_internal {

namespace {

struct Rgb {
  unsigned short r, g, b;
};
constexpr Rgb kBackground{56, 54, 53};
constexpr Rgb kText{209, 207, 205};
constexpr Rgb kButtonBorder{140, 135, 130};
constexpr Rgb kButtonBackground{105, 102, 99};
constexpr Rgb kButtonHover{205, 202, 53};

// The font SDL asks for first; "fixed" is on every X server.
constexpr const char* kFontPattern = "-*-*-medium-r-normal--*-120-*-*-*-*-*-*";

// Errors on the box's own connection are remembered instead of ending the process; errors on
// any other connection go to the handler that was installed before.
Display* boxDisplay = nullptr;
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIoErrorHandler = nullptr;
bool connectionLost = false;

int onError(Display* display, XErrorEvent* error) {
  if (display == boxDisplay) return 0;
  return previousErrorHandler != nullptr ? previousErrorHandler(display, error) : 0;
}

// The connection broke (the server went away, or another client killed the box's connection,
// as xkill does). Xlib calls this and then the display's exit handler; both return, so the
// call in progress returns and the box gives up instead of the process ending.
int onIoError(Display* display) {
  if (display == boxDisplay) {
    connectionLost = true;
    return 0;
  }
  return previousIoErrorHandler != nullptr ? previousIoErrorHandler(display) : 0;
}

void onIoExit(Display*, void*) { connectionLost = true; }

// Text drawn with a font set where the locale has one, else with a single core font.
class BoxFont {
 public:
  explicit BoxFont(Display* display) : display_(display) {
    char** missing = nullptr;
    int missingCount = 0;
    char* defaultString = nullptr;
    set_ = XCreateFontSet(display, kFontPattern, &missing, &missingCount, &defaultString);
    if (missing != nullptr) XFreeStringList(missing);
    if (set_ != nullptr) {
      XFontSetExtents* extents = XExtentsOfFontSet(set_);
      ascent_ = -extents->max_logical_extent.y;
      height_ = extents->max_logical_extent.height;
      return;
    }
    font_ = XLoadQueryFont(display, "fixed");
    if (font_ != nullptr) {
      ascent_ = font_->ascent;
      height_ = font_->ascent + font_->descent;
    }
  }
  ~BoxFont() {
    if (set_ != nullptr) XFreeFontSet(display_, set_);
    if (font_ != nullptr) XFreeFont(display_, font_);
  }
  BoxFont(const BoxFont&) = delete;
  BoxFont& operator=(const BoxFont&) = delete;

  bool usable() const { return set_ != nullptr || font_ != nullptr; }
  int height() const { return height_; }
  int ascent() const { return ascent_; }
  int width(const std::string& text) const {
    const int n = static_cast<int>(text.size());
    if (set_ != nullptr) return Xutf8TextEscapement(set_, text.c_str(), n);
    return XTextWidth(font_, text.c_str(), n);
  }
  // Draws `text` with its baseline at y.
  void draw(Drawable target, GC gc, int x, int y, const std::string& text) const {
    const int n = static_cast<int>(text.size());
    if (set_ != nullptr) {
      Xutf8DrawString(display_, target, set_, gc, x, y, text.c_str(), n);
    } else {
      XSetFont(display_, gc, font_->fid);
      XDrawString(display_, target, gc, x, y, text.c_str(), n);
    }
  }

 private:
  Display* display_;
  XFontSet set_ = nullptr;
  XFontStruct* font_ = nullptr;
  int ascent_ = 0;
  int height_ = 0;
};

std::vector<std::string> splitLines(const char* text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (*c != '\r') {
      line += *c;
    }
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

// Where everything lies inside the box.
struct Layout {
  int width = 0;
  int height = 0;
  int lineHeight = 0;
  int textX = 0;
  int textY = 0;  // top of the first line
  std::vector<XRectangle> buttons;
};

Layout layOut(const BoxFont& font, const std::vector<std::string>& lines, const BoxRequest& box) {
  Layout layout;
  const int fh = font.height();
  layout.lineHeight = fh + 2;
  int textWidth = 0;
  for (const std::string& line : lines) textWidth = std::max(textWidth, font.width(line));
  std::vector<int> buttonWidths;
  int rowWidth = 0;
  for (const BoxButton& button : box.buttons) {
    buttonWidths.push_back(std::max(64, font.width(button.label)) + fh);
    rowWidth += buttonWidths.back();
  }
  const int count = static_cast<int>(box.buttons.size());
  rowWidth += (count - 1) * fh;
  const int buttonHeight = fh + 10;
  layout.width = std::max({200, textWidth + 4 * fh, rowWidth + 2 * fh});
  const int textHeight = static_cast<int>(lines.size()) * layout.lineHeight;
  layout.height = std::max(100, fh + textHeight + 2 * fh + buttonHeight + fh);
  layout.textX = (layout.width - textWidth) / 2;
  layout.textY = fh;
  int x = (layout.width - rowWidth) / 2;
  const int y = layout.height - fh - buttonHeight;
  for (int w : buttonWidths) {
    layout.buttons.push_back(XRectangle{static_cast<short>(x),
                                        static_cast<short>(y),
                                        static_cast<unsigned short>(w),
                                        static_cast<unsigned short>(buttonHeight)});
    x += w + fh;
  }
  return layout;
}

int buttonAt(const Layout& layout, int x, int y) {
  for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
    const XRectangle& r = layout.buttons[i];
    if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) return static_cast<int>(i);
  }
  return -1;
}

unsigned long pixelOf(Display* display, Rgb colour) {
  XColor c{};
  c.red = static_cast<unsigned short>(colour.r * 257);
  c.green = static_cast<unsigned short>(colour.g * 257);
  c.blue = static_cast<unsigned short>(colour.b * 257);
  c.flags = DoRed | DoGreen | DoBlue;
  if (XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &c) == 0)
    return colour.r + colour.g + colour.b > 382 ? WhitePixel(display, DefaultScreen(display))
                                                : BlackPixel(display, DefaultScreen(display));
  return c.pixel;
}

// Sets the window's property `name` to the one atom `value`.
void setAtomProperty(Display* display, Window window, const char* name, const char* value) {
  const Atom atom = XInternAtom(display, value, False);
  XChangeProperty(display,
                  window,
                  XInternAtom(display, name, False),
                  XA_ATOM,
                  32,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&atom),
                  1);
}

void setProperties(
    Display* display, Window window, const BoxRequest& box, const Layout& layout, int x, int y) {
  XStoreName(display, window, box.title);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display,
                  window,
                  XInternAtom(display, "_NET_WM_NAME", False),
                  utf8,
                  8,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char*>(box.title),
                  static_cast<int>(std::strlen(box.title)));
  setAtomProperty(display, window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG");
  setAtomProperty(display, window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE");
  if (box.transientFor != 0) XSetTransientForHint(display, window, box.transientFor);

  // A fixed size at the position chosen here (USPosition: window managers keep it). With
  // StaticGravity the box itself goes there and the window manager's frame around it; by
  // default the frame's corner would go there, and the box one title bar lower.
  XSizeHints* size = XAllocSizeHints();
  if (size != nullptr) {
    size->flags = USPosition | PPosition | PMinSize | PMaxSize | PWinGravity;
    size->win_gravity = StaticGravity;
    size->x = x;
    size->y = y;
    size->min_width = size->max_width = layout.width;
    size->min_height = size->max_height = layout.height;
    XSetWMNormalHints(display, window, size);
    XFree(size);
  }
  XWMHints* hints = XAllocWMHints();
  if (hints != nullptr) {
    hints->flags = InputHint | StateHint;
    hints->input = True;
    hints->initial_state = NormalState;
    XSetWMHints(display, window, hints);
    XFree(hints);
  }
  XClassHint* names = XAllocClassHint();
  if (names != nullptr) {
    char name[] = "epipolar";
    char className[] = "Epipolar";
    names->res_name = name;
    names->res_class = className;
    XSetClassHint(display, window, names);
    XFree(names);
  }
}

struct Colours {
  unsigned long background, text, border, button, hover;
};

// A box on the screen: what its event loop and its painting read.
struct ShownBox {
  Display* display;
  Window window;
  GC gc;
  const BoxFont& font;
  Colours colours;
  const Layout& layout;
  const std::vector<std::string>& lines;
  const BoxRequest& box;
};

void paint(const ShownBox& shown, int hovered) {
  const auto& [display, window, gc, font, colours, layout, lines, box] = shown;
  XSetForeground(display, gc, colours.background);
  XFillRectangle(display, window, gc, 0, 0, layout.width, layout.height);
  XSetForeground(display, gc, colours.text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int baseline = layout.textY + static_cast<int>(i) * layout.lineHeight + font.ascent();
    font.draw(window, gc, layout.textX, baseline, lines[i]);
  }
  for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
    const XRectangle& r = layout.buttons[i];
    const bool hot = static_cast<int>(i) == hovered;
    XSetForeground(display, gc, colours.button);
    XFillRectangle(display, window, gc, r.x, r.y, r.width, r.height);
    XSetForeground(display, gc, hot ? colours.hover : colours.border);
    XDrawRectangle(display, window, gc, r.x, r.y, r.width - 1, r.height - 1);
    XSetForeground(display, gc, hot ? colours.hover : colours.text);
    const std::string label = box.buttons[i].label;
    const int x = r.x + (r.width - font.width(label)) / 2;
    const int y = r.y + (r.height - font.height()) / 2 + font.ascent();
    font.draw(window, gc, x, y, label);
  }
  XFlush(display);
}

// The box's event loop: the index of the button chosen, or -1 when the window manager closed
// the box. False if the connection broke first.
bool runBox(const ShownBox& shown, int& chosen) {
  Display* display = shown.display;
  const Window window = shown.window;
  const Layout& layout = shown.layout;
  const BoxRequest& box = shown.box;
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  int hovered = -1;
  int pressedButton = -1;        // the button the mouse went down on
  KeySym pressedKey = NoSymbol;  // answered on release, so the release stays in the box
  for (;;) {
    // XNextEvent must not be the call that meets a broken connection: it would go on with an
    // empty queue after the handlers return. XPending meets it and returns 0.
    if (XPending(display) == 0) {
      if (connectionLost) return false;
      pollfd wait{ConnectionNumber(display), POLLIN, 0};
      poll(&wait, 1, -1);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) paint(shown, hovered);
        break;
      case MapNotify:
        // Without a window manager nobody else gives the box the keyboard.
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        break;
      case MotionNotify:
      case LeaveNotify: {
        const int now =
            event.type == LeaveNotify ? -1 : buttonAt(layout, event.xmotion.x, event.xmotion.y);
        if (now != hovered) {
          hovered = now;
          paint(shown, hovered);
        }
        break;
      }
      case ButtonPress:
        if (event.xbutton.button == Button1)
          pressedButton = buttonAt(layout, event.xbutton.x, event.xbutton.y);
        break;
      case ButtonRelease:
        if (event.xbutton.button == Button1 && pressedButton >= 0 &&
            buttonAt(layout, event.xbutton.x, event.xbutton.y) == pressedButton) {
          chosen = pressedButton;
          return true;
        }
        if (event.xbutton.button == Button1) pressedButton = -1;
        break;
      case KeyPress:
        pressedKey = XLookupKeysym(&event.xkey, 0);
        break;
      case KeyRelease: {
        const KeySym key = XLookupKeysym(&event.xkey, 0);
        if (key != pressedKey) break;
        pressedKey = NoSymbol;
        const bool isReturn = key == XK_Return || key == XK_KP_Enter;
        const bool isEscape = key == XK_Escape;
        if (!isReturn && !isEscape) break;
        for (std::size_t i = 0; i < box.buttons.size(); ++i) {
          if ((isReturn && box.buttons[i].returnKey) || (isEscape && box.buttons[i].escapeKey)) {
            chosen = static_cast<int>(i);
            return true;
          }
        }
        break;
      }
      case ClientMessage:
        if (event.xclient.message_type == protocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
          chosen = -1;
          return true;
        }
        break;
      case DestroyNotify:
        if (event.xdestroywindow.window == window) {
          chosen = -1;
          return true;
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace

bool showX11MessageBox(const BoxRequest& box, int& pressed, std::string& error) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    error = "cannot open the X display";
    return false;
  }
  boxDisplay = display;
  connectionLost = false;
  previousErrorHandler = XSetErrorHandler(&onError);
  previousIoErrorHandler = XSetIOErrorHandler(&onIoError);
  XSetIOErrorExitHandler(display, &onIoExit, nullptr);

  bool answered = false;
  {
    const BoxFont font(display);
    if (!font.usable()) {
      error = "no X font";
    } else {
      const std::vector<std::string> lines = splitLines(box.text);
      const Layout layout = layOut(font, lines, box);
      // Centred on the requested point, moved in as far as needed to lie inside the area.
      const int x = std::clamp(box.centreX - layout.width / 2,
                               box.areaX,
                               std::max(box.areaX, box.areaX + box.areaWidth - layout.width));
      const int y = std::clamp(box.centreY - layout.height / 2,
                               box.areaY,
                               std::max(box.areaY, box.areaY + box.areaHeight - layout.height));
      const Colours colours{pixelOf(display, kBackground),
                            pixelOf(display, kText),
                            pixelOf(display, kButtonBorder),
                            pixelOf(display, kButtonBackground),
                            pixelOf(display, kButtonHover)};
      XSetWindowAttributes attributes{};
      attributes.background_pixel = colours.background;
      attributes.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                              ButtonReleaseMask | PointerMotionMask | LeaveWindowMask |
                              StructureNotifyMask;
      const int screen = DefaultScreen(display);
      const Window window = XCreateWindow(display,
                                          RootWindow(display, screen),
                                          x,
                                          y,
                                          static_cast<unsigned>(layout.width),
                                          static_cast<unsigned>(layout.height),
                                          0,
                                          CopyFromParent,
                                          InputOutput,
                                          CopyFromParent,
                                          CWBackPixel | CWEventMask,
                                          &attributes);
      setProperties(display, window, box, layout, x, y);
      Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
      XSetWMProtocols(display, window, &deleteWindow, 1);
      const GC gc = XCreateGC(display, window, 0, nullptr);
      XMapRaised(display, window);
      XFlush(display);

      int chosen = -1;
      if (runBox(ShownBox{display, window, gc, font, colours, layout, lines, box}, chosen)) {
        answered = true;
        pressed = chosen >= 0 ? box.buttons[static_cast<std::size_t>(chosen)].id : -1;
        XFreeGC(display, gc);
        XDestroyWindow(display, window);
        XSync(display, False);
      } else {
        error = "the connection to the X server was lost";
      }
    }
  }
  XCloseDisplay(display);
  XSetIOErrorHandler(previousIoErrorHandler);
  XSetErrorHandler(previousErrorHandler);
  boxDisplay = nullptr;
  return answered;
}

}  // namespace epipolar::platform_internal
