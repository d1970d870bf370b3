// Start-up time of the program: from launching `epipolar --virtual` to the first frame painted
// in both camera windows, watched from outside the program.
//
// The bench starts its own X server (Xvfb, found on PATH) so the windows never land on a
// user's screen, and runs the program in a fresh temporary directory whose cams.conf is empty,
// so no restore question is asked. It polls the X server for the two camera windows (whose
// titles hold "Virtual camera 0 (left)" and "Virtual camera 1 (right)", the names of the
// virtual rig's cameras) and reads bands of their pixels
// from the server: a window counts as painted once a quarter of the sampled pixels are not
// white (a camera window is white until its first frame). Then it sends SIGTERM, which ends
// the program's loop like closing its window, and checks that the program exits with status
// 0 within 10 s.
//
// The first launch is a warm-up and not counted (it pays for GStreamer's registry scan on a
// fresh machine and for cold disk caches). Figure: startup_first_paint, the median over
// --startup_runs=N launches (default 7), in ms; target <= 1000. The polling itself uses a
// little CPU on the same cores; its step is 2 ms, which bounds the detection delay.
//
// Without Xvfb the bench prints why and exits 0 without a figure.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchReport.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::array<const char*, 2> kCameraTitles = {"Virtual camera 0 (left)",
                                                      "Virtual camera 1 (right)"};
constexpr auto kPollStep = std::chrono::milliseconds(2);
constexpr auto kLaunchLimit = std::chrono::seconds(30);
constexpr auto kExitLimit = std::chrono::seconds(10);

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits up to `limit` for the child to end; its wait status, or nothing.
std::optional<int> waitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const Clock::time_point end = Clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 || Clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// A private X server on a free display number, ended with the object.
class XServer {
 public:
  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      const std::string fd = std::to_string(fds[1]);
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, STDOUT_FILENO);
      dup2(devNull, STDERR_FILENO);
      execlp("Xvfb",
             "Xvfb",
             "-displayfd",
             fd.c_str(),
             "-screen",
             "0",
             "1600x1000x24",
             "-nolisten",
             "tcp",
             "-noreset",  // no server reset between the launches
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return false;
    }
    // Xvfb writes the display number it took once it accepts connections.
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    while (poll(&ready, 1, 10000) == 1) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) return false;
    name_ = ":" + number;
    return true;
  }
  ~XServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!waitForExit(pid_, std::chrono::seconds(5))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// X errors (a window that goes away or is not yet mapped while being read) are expected while
// polling; they only make that poll miss.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

// The top-level window whose name holds `title`, or 0.
Window findWindow(Display* display, const char* title) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
    return 0;
  Window found = 0;
  for (unsigned k = 0; k < count && found == 0; ++k) {
    char* name = nullptr;
    if (XFetchName(display, children[k], &name) != 0 && name != nullptr) {
      if (std::strstr(name, title) != nullptr) found = children[k];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// Whether a frame shows in the window: three bands of rows (at a quarter, half and three
// quarters of its height) are read and a quarter of their pixels must not be white.
bool showsFrame(Display* display, Window window) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0 ||
      attributes.map_state != IsViewable || attributes.width < 1 || attributes.height < 8)
    return false;
  long sampled = 0, coloured = 0;
  for (int band = 1; band <= 3; ++band) {
    XImage* image = XGetImage(display,
                              window,
                              0,
                              attributes.height * band / 4,
                              static_cast<unsigned>(attributes.width),
                              2,
                              AllPlanes,
                              ZPixmap);
    if (image == nullptr) return false;
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) {
        ++sampled;
        if ((XGetPixel(image, x, y) & 0xFFFFFF) != 0xFFFFFF) ++coloured;
      }
    XDestroyImage(image);
  }
  return sampled > 0 && coloured * 4 >= sampled;
}

// One launch: milliseconds to the first frame in both windows, or nothing on failure (with the
// reason printed). The program is always ended.
std::optional<double> launchOnce(const std::string& program,
                                 const std::string& displayName,
                                 Display* display) {
  const fs::path work =
      fs::temp_directory_path() / ("epipolar_startup_" + std::to_string(getpid()) + "_" +
                                   std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(work);
  std::ofstream(work / "cams.conf").close();
  const std::string log = (work / "log.txt").string();

  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(work.c_str()) != 0) _exit(127);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    setenv("DISPLAY", displayName.c_str(), 1);
    unsetenv("SDL_VIDEODRIVER");
    execl(program.c_str(), program.c_str(), "--virtual", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) {
    fs::remove_all(work);
    return std::nullopt;
  }

  std::array<Window, 2> windows{};
  std::array<bool, 2> painted{};
  std::optional<double> elapsed;
  const char* failure = nullptr;
  while (!elapsed && failure == nullptr) {
    for (size_t k = 0; k < windows.size(); ++k) {
      if (windows[k] == 0) windows[k] = findWindow(display, kCameraTitles[k]);
      if (windows[k] != 0 && !painted[k]) painted[k] = showsFrame(display, windows[k]);
    }
    if (painted[0] && painted[1]) {
      elapsed = millisecondsSince(start);
    } else if (waitpid(pid, nullptr, WNOHANG) == pid) {
      failure = "the program ended before both windows showed a frame";
    } else if (Clock::now() - start > kLaunchLimit) {
      failure = "no frame in both windows within 30 s";
    } else {
      std::this_thread::sleep_for(kPollStep);
    }
  }

  if (failure == nullptr) {
    kill(pid, SIGTERM);
    const std::optional<int> status = waitForExit(pid, kExitLimit);
    if (!status) {
      failure = "the program did not end within 10 s of SIGTERM";
    } else if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
      failure = "the program did not end with status 0 after SIGTERM";
    }
  }
  if (failure != nullptr) {
    if (kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    std::fprintf(stderr, "startup_bench: %s; program log:\n", failure);
    std::ifstream text(log);
    std::string line;
    while (std::getline(text, line)) std::fprintf(stderr, "  %s\n", line.c_str());
    elapsed.reset();
  }
  fs::remove_all(work);
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  for (int i = 1; i < argc; ++i) {
    constexpr const char* kRuns = "--startup_runs=";
    if (std::strncmp(argv[i], kRuns, std::strlen(kRuns)) == 0) {
      runs = std::max(1, std::atoi(argv[i] + std::strlen(kRuns)));
    } else if (std::strncmp(argv[i], "--benchmark_", 12) != 0) {
      std::fprintf(stderr, "startup_bench: unknown argument %s\n", argv[i]);
      return 1;
    }
  }
  const std::string program = EPIPOLAR_PROGRAM;

  XServer server;
  if (!server.start()) {
    std::printf("startup_bench: no X server could be started (Xvfb); skipped\n");
    return 0;
  }
  Display* display = XOpenDisplay(server.name().c_str());
  if (display == nullptr) {
    std::fprintf(stderr, "startup_bench: cannot open display %s\n", server.name().c_str());
    return 1;
  }
  XSetErrorHandler(&ignoreXError);

  // The warm-up launch (GStreamer's registry, disk caches).
  if (!launchOnce(program, server.name(), display)) return 1;
  std::vector<double> times;
  for (int k = 0; k < runs; ++k) {
    const std::optional<double> ms = launchOnce(program, server.name(), display);
    if (!ms) return 1;
    std::printf("startup run %d: %.1f ms\n", k + 1, *ms);
    times.push_back(*ms);
  }
  XCloseDisplay(display);

  std::sort(times.begin(), times.end());
  const double median = times.size() % 2 == 1
                            ? times[times.size() / 2]
                            : 0.5 * (times[times.size() / 2 - 1] + times[times.size() / 2]);
  std::printf(
      "startup to first frame in both windows: median %.1f ms, min %.1f, max %.1f (%d runs)\n",
      median,
      times.front(),
      times.back(),
      runs);
  epipolar::bench::printResult("startup_first_paint", median, "ms", "value<=1000");
  return 0;
}
