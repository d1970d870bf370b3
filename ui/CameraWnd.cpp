#include "ui/CameraWnd.h"

#include <cmath>
#include <mutex>

#include "geometry/Epipolar.h"
#include "log/DebugStream.h"
#include "platform/PaintSurface.h"
#include "ui/Overlay.h"

namespace epipolar {
namespace {

// Half the length of each stroke of the marker cross, in pixels.
constexpr double kCrossHalf = 20.0;

Vector point3(double x, double y, double w) {
  const double values[3] = {x, y, w};
  return Vector(values, 3);
}

// Component i of v, or 0 when v is shorter (an epipole before the first decomposition).
double component(const Vector& v, int i) { return i < v.count() ? v[i] : 0.0; }

}  // namespace

CameraWnd::CameraWnd(CameraWndOwner* owner, Camera* camera, int side, int x, int y)
    : LiveImageWnd(camera, x, y), app(owner), side_(side == 1 ? 1 : 0) {}

CameraWnd::~CameraWnd() = default;

CameraWnd* CameraWnd::otherWindow() const { return app->cameraWindow(1 - side_); }

// Tested under frameLock by the base swap: a UI-thread reader that set `paused` and then
// passed through the lock once knows that no swap is in progress and none will start.
bool CameraWnd::acceptsFrames() const { return !app->paused(); }

void CameraWnd::frameShown() {
  app->invalidateView();
  app->cameraFrameShown();
}

void CameraWnd::pauseAndSettle() {
  app->setPaused(true);
  for (int windowSide : {0, 1}) {
    if (CameraWnd* window = app->cameraWindow(windowSide)) std::lock_guard lock(window->frameLock);
  }
}

void CameraWnd::frameSize(int& width, int& height) {
  std::lock_guard lock(frameLock);
  if (frame != nullptr) {
    width = frame->width;
    height = frame->height;
  } else {
    width = camera->frameWidth();
    height = camera->frameHeight();
  }
}

Vector CameraWnd::epipolarLineFor(const Vector& point, const CameraWnd* window) const {
  return app->calibration().epipolarLine(point, window->side());
}

void CameraWnd::showEpipolarLine(const Vector& line) {
  showLine = true;
  const double norm = line.norm();
  epipolarLine = line;
  for (int i = 0; i < epipolarLine.count(); ++i) epipolarLine[i] /= norm;

  int width = 0;
  int height = 0;
  frameSize(width, height);
  const double a = component(epipolarLine, 0);
  const double b = component(epipolarLine, 1);
  const double c = component(epipolarLine, 2);
  DebugStream << "y0 = " << -c / b << ", y1 = " << -(c + width * a) / b;
  DebugStream.put('\n');
  DebugStream.flush();
}

void CameraWnd::showCorrespondence(int index) {
  app->pairs().setCurrentCorrespondence(index);
  CameraWnd* other = otherWindow();
  const Correspondence* shown = app->pairs().find(index);
  if (shown == nullptr) {
    // Stepping past either end clears both windows; the index is kept as it is, so as many
    // steps back are needed before a correspondence shows again.
    for (CameraWnd* window : {this, other}) {
      window->marker = Vector(3);
      window->showLine = false;
    }
  } else {
    const Correspondence& pair = *shown;
    const Vector point0 = point3(pair.x0, pair.y0, 1.0);
    const Vector point1 = point3(pair.x1, pair.y1, 1.0);
    marker = side() == 0 ? point0 : point1;
    other->marker = side() == 0 ? point1 : point0;
    showEpipolarLine(epipolarLineFor(other->marker, other));
    other->showEpipolarLine(epipolarLineFor(marker, this));
  }
  other->invalidate();
  invalidate();
}

void CameraWnd::paint() {
  PaintSurface surface(hwnd);
  const bool hasFrame = paintFrame(surface);

  if (marker[0] != 0.0) {
    // Assisted matches are sub-pixel: their cross goes to the nearest whole pixel rather than
    // the one the inverting pen's truncation would pick.
    const bool round = app->options().assist;
    const double x = round ? std::floor(marker[0] + 0.5) : marker[0];
    const double y = round ? std::floor(marker[1] + 0.5) : marker[1];
    surface.invertLine(x - kCrossHalf, y, x + kCrossHalf, y);
    surface.invertLine(x, y - kCrossHalf, x, y + kCrossHalf);
  }
  if (showLine && hasFrame) {
    int width = 0;
    int height = 0;
    frameSize(width, height);
    // Ends that are not finite (a line missing the picture, the zero F) draw nothing.
    const VectorPair ends = clipLineToImage(epipolarLine, width, height);
    surface.invertLine(ends.first[0], ends.first[1], ends.second[0], ends.second[1]);
  }
  if (pointerInside_ && hasFrame) paintLoupe(surface);
}

void CameraWnd::paintLoupe(PaintSurface& surface) {
  Canvas canvas = canvasOf(surface);
  if (canvas.empty() || pointerX_ < 0.0 || pointerY_ < 0.0 || pointerX_ >= canvas.width ||
      pointerY_ >= canvas.height) {
    return;
  }
  const PixelRect place = loupePlace(canvas, pointerX_, pointerY_);
  std::lock_guard lock(frameLock);
  if (frame != nullptr) drawLoupe(canvas, *frame, pointerX_, pointerY_, place);
}

void CameraWnd::leftClickCalibrated(double x, double y) {
  marker = point3(x, y, 1.0);
  const Vector line = epipolarLineFor(marker, this);
  DebugStream << "Point: " << marker << " = " << line;
  DebugStream.put('\n');
  DebugStream.flush();
  CameraWnd* other = otherWindow();
  other->showEpipolarLine(line);
  other->invalidate();
  invalidate();
}

bool CameraWnd::canSearchFrom(double x, double y) {
  {
    std::lock_guard lock(frameLock);
    if (frame == nullptr || !frame->containsPoint(x, y)) return false;
  }
  CameraWnd* other = otherWindow();
  std::lock_guard lock(other->frameLock);
  return other->frame != nullptr;
}

void CameraWnd::rightClick(double x, double y) {
  // The search compares this frame at (x, y) with the other frame: without both there is
  // nothing to find.
  if (!canSearchFrom(x, y)) return;
  CameraWnd* other = otherWindow();
  const ImagePosition match = app->findMatch(this, x, y);
  other->marker = point3(match.x, match.y, 0.0);
  other->invalidate();
}

void CameraWnd::setBall(double x, double y) {
  if (!canSearchFrom(x, y)) return;
  Colour colour;
  {
    std::lock_guard lock(frameLock);
    if (frame == nullptr || !frame->containsPoint(x, y)) return;
    colour = frame->pixel(static_cast<int>(x), static_cast<int>(y));
  }
  const ImagePosition match = app->findMatch(this, x, y);
  const Vector& e = app->calibration().epipole1();
  const double dx = match.x - component(e, 0);
  const double dy = match.y - component(e, 1);
  const double depth = 0.001 * (dx * dx + dy * dy);
  const Vector position = point3(x, y, depth);
  DebugStream << position;
  DebugStream.put('\n');
  DebugStream.flush();

  otherWindow()->marker = point3(match.x, match.y, 1.0);
  app->balls().add(TrackedPoint{position, colour});
  app->invalidateView();
}

void CameraWnd::compareColours() {
  CameraWnd* other = otherWindow();
  Colour colours[2];
  CameraWnd* windows[2] = {this, other};
  for (int i = 0; i < 2; ++i) {
    CameraWnd* window = windows[i];
    std::lock_guard lock(window->frameLock);
    const double x = window->marker[0];
    const double y = window->marker[1];
    if (window->frame == nullptr || !window->frame->containsPoint(x, y)) return;
    colours[i] = window->frame->pixel(static_cast<int>(x), static_cast<int>(y));
  }
  DebugStream << colours[0] << " - " << colours[1] << " = " << colours[0].difference(colours[1]);
  DebugStream.put('\n');
  DebugStream.flush();
}

void CameraWnd::showEdges() {
  // Without a frame there is no picture to freeze or to show: E leaves everything as it is
  // (a pause here would only keep the first frames from ever appearing).
  {
    std::lock_guard lock(frameLock);
    if (frame == nullptr) return;
  }
  pauseAndSettle();
  // Paused and settled: the frame stays as it is until P resumes, so it can be read unlocked.
  app->detectEdges(*frame, true, side());
}

LRESULT CameraWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const double x = loWord(lParam);
  const double y = hiWord(lParam);
  switch (msg) {
    case WM_PAINT:
      paint();
      return 0;
    case WM_LBUTTONDOWN:
      if (app->calibration().calibrated()) {
        leftClickCalibrated(x, y);
      } else {
        app->addClick(this, x, y);
      }
      return 0;
    case WM_RBUTTONDOWN:
      rightClick(x, y);
      return 0;
    case WM_MOUSEMOVE:
      if (!app->options().assist) return LiveImageWnd::handleMessage(msg, wParam, lParam);
      pointerInside_ = true;
      pointerX_ = xFromLParam(lParam);
      pointerY_ = yFromLParam(lParam);
      invalidate();
      return 0;
    case WM_MOUSELEAVE:
      if (!app->options().assist) return LiveImageWnd::handleMessage(msg, wParam, lParam);
      pointerInside_ = false;
      invalidate();
      return 0;
    case WM_MBUTTONDOWN:
      if (side() == 0) {
        setBall(x, y);
      } else {
        messageBox(hwnd,
                   "You were supposed to click in the other window",
                   "WRONG!!!",
                   MB_OK | MB_ICONEXCLAMATION);
      }
      return 0;
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_LEFT:
          showCorrespondence(app->pairs().currentCorrespondence() - 1);
          return 0;
        case VK_RIGHT:
          showCorrespondence(app->pairs().currentCorrespondence() + 1);
          return 0;
        case 'C':
          app->calibrate();
          return 0;
        case 'E':
          showEdges();
          return 0;
        case 'P':
          app->togglePaused();
          return 0;
        case 'X':
          compareColours();
          return 0;
        case 'A':
        case 'R':
        case 'D':
          // The assisted views; without --assist a snapshot, as for any other key.
          if (!app->options().assist) return LiveImageWnd::handleMessage(msg, wParam, lParam);
          if (isKeyDown(VK_CONTROL)) return 0;  // Ctrl+A, R, D: no command, no snapshot
          if (wParam == 'A') app->automaticPairs();
          if (wParam == 'R') app->showRectified();
          if (wParam == 'D') app->showDisparity();
          return 0;
        case 'S':
          // The assisted export; a snapshot otherwise, as for any other key.
          if (app->options().assist && isKeyDown(VK_CONTROL)) {
            app->exportSession();
            return 0;
          }
          return LiveImageWnd::handleMessage(msg, wParam, lParam);
        case VK_SHIFT:
        case VK_CONTROL:
          // Modifiers are pressed on the way to a command (Ctrl+S): the assisted mode takes no
          // snapshot of them.
          if (app->options().assist) return 0;
          return LiveImageWnd::handleMessage(msg, wParam, lParam);
        default:
          if (wParam >= '1' && wParam <= '9') {
            showCorrespondence(static_cast<int>(wParam - '1'));
          }
          // The assisted mode's Ctrl shortcuts take no snapshot, whichever key comes with Ctrl.
          if (app->options().assist && isKeyDown(VK_CONTROL)) return 0;
          // Digits and every other key also ask for a snapshot.
          return LiveImageWnd::handleMessage(msg, wParam, lParam);
      }
    default:
      return LiveImageWnd::handleMessage(msg, wParam, lParam);
  }
}

}  // namespace epipolar
