// epipolar_xclose TITLE: sends WM_DELETE_WINDOW to every X11 window named TITLE, as a window
// manager's close button would. Exit status 0 if at least one window was found, 1 otherwise.
#include <cstdio>

#include "platform/testing/XClose.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TITLE\n", argv[0]);
    return 2;
  }
  return epipolar::testing::sendDeleteWindow(argv[1]) > 0 ? 0 : 1;
}
