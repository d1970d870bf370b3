#include "platform/testing/XClose.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace epipolar::testing {

namespace {

void collect(Display* display,
             Window window,
             const std::string& title,
             std::vector<unsigned long>& found) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) != 0 && name != nullptr) {
    if (title == name) found.push_back(window);
    XFree(name);
  }
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return;
  for (unsigned i = 0; i < count; ++i) collect(display, children[i], title, found);
  if (children != nullptr) XFree(children);
}

std::vector<unsigned long> find(Display* display, const std::string& title) {
  std::vector<unsigned long> found;
  collect(display, DefaultRootWindow(display), title, found);
  return found;
}

}  // namespace

std::vector<unsigned long> findXWindows(const std::string& title) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return {};
  std::vector<unsigned long> found = find(display, title);
  XCloseDisplay(display);
  return found;
}

int sendDeleteWindow(const std::string& title) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 0;
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  int sent = 0;
  for (unsigned long window : find(display, title)) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    if (XSendEvent(display, window, False, NoEventMask, &event) != 0) ++sent;
  }
  XSync(display, False);
  XCloseDisplay(display);
  return sent;
}

bool readXWindowPixel(
    const std::string& title, int x, int y, unsigned char& r, unsigned char& g, unsigned char& b) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  bool ok = false;
  std::vector<unsigned long> windows = find(display, title);
  XWindowAttributes attributes;
  if (!windows.empty() && XGetWindowAttributes(display, windows.front(), &attributes) != 0 &&
      x >= 0 && y >= 0 && x < attributes.width && y < attributes.height) {
    XImage* image = XGetImage(display, windows.front(), x, y, 1, 1, AllPlanes, ZPixmap);
    if (image != nullptr) {
      const unsigned long pixel = XGetPixel(image, 0, 0);
      auto channel = [](unsigned long value, unsigned long mask) {
        if (mask == 0) return static_cast<unsigned char>(0);
        int shift = 0;
        while (((mask >> shift) & 1u) == 0) ++shift;
        const unsigned long max = mask >> shift;
        return static_cast<unsigned char>(((value & mask) >> shift) * 255 / max);
      };
      r = channel(pixel, image->red_mask);
      g = channel(pixel, image->green_mask);
      b = channel(pixel, image->blue_mask);
      XDestroyImage(image);
      ok = true;
    }
  }
  XCloseDisplay(display);
  return ok;
}

}  // namespace epipolar::testing
