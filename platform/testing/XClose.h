// Closing X11 windows the way a window manager does: a WM_PROTOCOLS client message carrying
// WM_DELETE_WINDOW. (Destroying a window from outside is not a user's close.)
//
// Needs DISPLAY (for example under xvfb-run). Test and end-to-end support only.
#pragma once

#include <string>
#include <vector>

namespace epipolar::testing {

// X window ids of every window whose name is exactly `title`, in stacking order of the tree
// walk. Empty when no display can be opened.
std::vector<unsigned long> findXWindows(const std::string& title);

// Sends WM_DELETE_WINDOW to every window named `title`. Returns how many were sent.
int sendDeleteWindow(const std::string& title);

// Reads the pixel (x, y) of the named window from the X server (r, g, b). False if there is no
// such window or the point lies outside it.
bool readXWindowPixel(
    const std::string& title, int x, int y, unsigned char& r, unsigned char& g, unsigned char& b);

}  // namespace epipolar::testing
