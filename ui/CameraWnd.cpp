#include "ui/CameraWnd.h"

#include <cmath>
#include <mutex>
#include <string>

#include "geometry/Epipolar.h"
#include "log/DebugStream.h"
#include "platform/PaintSurface.h"
#include "platform/Platform.h"
#include "ui/AssistedView.h"
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
  logLine("y0 = ", -c / b, ", y1 = ", -(c + width * a) / b);
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
  if (app->options().assist) {
    paintAssisted(surface);
    return;
  }
  const bool hasFrame = paintFrame(surface);

  if (marker[0] != 0.0) {
    const double x = marker[0];
    const double y = marker[1];
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
}

void CameraWnd::paintLoupe(Canvas& canvas, double x, double y, int bottomReserve) {
  if (!(x >= 0.0 && y >= 0.0 && x < canvas.width && y < canvas.height)) return;
  const PixelRect place = loupePlace(canvas, x, y, bottomReserve);
  std::lock_guard lock(frameLock);
  if (frame != nullptr) drawLoupe(canvas, *frame, x, y, place);
}

void CameraWnd::leftClickCalibrated(double x, double y) {
  marker = point3(x, y, 1.0);
  const Vector line = epipolarLineFor(marker, this);
  logLine("Point: ", marker, " = ", line);
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
  logLine(position);

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
  logLine(colours[0], " - ", colours[1], " = ", colours[0].difference(colours[1]));
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

bool CameraWnd::describedKey(WPARAM key) {
  switch (key) {
    case VK_LEFT:
      showCorrespondence(app->pairs().currentCorrespondence() - 1);
      return false;
    case VK_RIGHT:
      showCorrespondence(app->pairs().currentCorrespondence() + 1);
      return false;
    case 'C':
      app->calibrate();
      return false;
    case 'E':
      showEdges();
      return false;
    case 'P':
      app->togglePaused();
      return false;
    case 'X':
      compareColours();
      return false;
    default:
      if (key >= '1' && key <= '9') showCorrespondence(static_cast<int>(key - '1'));
      return true;
  }
}

bool CameraWnd::assistedKey(WPARAM key) {
  const bool ctrl = isKeyDown(VK_CONTROL);
  PairList& pairs = app->pairs();
  if (ctrl && key == 'S') {
    app->exportSession();
    return false;
  }
  if (ctrl && (key == 'Z' || key == 'Y')) {
    const bool redo = key == 'Y' || isKeyDown(VK_SHIFT);
    if (redo ? pairs.redo() : pairs.undo()) {
      // One line for the whole step, however many pairs it brings back or takes away.
      const std::size_t count = pairs.correspondences().size();
      logLine(redo ? "Redo: " : "Undo: ", count, count == 1 ? " pair" : " pairs", " now");
      pairsChanged();
    }
    return false;
  }
  switch (key) {
    case VK_DELETE:
    case VK_BACK:
      if (pairs.remove(pairs.currentCorrespondence())) showCorrespondence(-1);
      break;
    case VK_ESCAPE:
      if (pairs.dropPending()) invalidateBoth();
      break;
    case 'H':
      app->toggleHelp();
      invalidateBoth();
      break;
    case 'A':
      app->automaticPairs();
      break;
    case 'R':
      app->showRectified();
      break;
    case 'D':
      app->showDisparity();
      break;
    default:
      describedKey(key);
      // The status line and the markers follow a calibration or a selection at once, also
      // while the cameras are paused.
      invalidateBoth();
      break;
  }
  return assistedKeyWritesSnapshot(key, ctrl);
}

void CameraWnd::invalidateBoth() {
  invalidate();
  if (CameraWnd* other = otherWindow()) other->invalidate();
}

void CameraWnd::selectPair(int index) {
  if (app->calibration().calibrated()) {
    showCorrespondence(index);
  } else {
    app->pairs().setCurrentCorrespondence(index);
    invalidateBoth();
  }
}

void CameraWnd::pairsChanged() {
  const int current = app->pairs().currentCorrespondence();
  if (app->pairs().find(current) == nullptr) {
    // The pair shown is gone: nothing is shown, and the keys start again from the first pair.
    showCorrespondence(-1);
  } else {
    selectPair(current);
  }
}

void CameraWnd::leftPress(WPARAM flags, double x, double y) {
  pressIndex_ = -1;
  dragging_ = false;
  const int hit = pairNear(app->pairs().correspondences(), side_, x, y, kSelectRadius);
  if (hit >= 0) {
    pressIndex_ = hit;
    pressX_ = x;
    pressY_ = y;
    selectPair(hit);
    return;
  }
  const bool shift = (flags & MK_SHIFT) != 0 || isKeyDown(VK_SHIFT);
  if (shift || !app->calibration().calibrated()) {
    app->addClick(this, x, y);
  } else {
    leftClickCalibrated(x, y);
  }
  invalidateBoth();
}

void CameraWnd::pointerMoved(WPARAM flags) {
  if (pressIndex_ < 0) return;
  const Correspondence* pair = app->pairs().find(pressIndex_);
  if ((flags & MK_LBUTTON) == 0 || pair == nullptr) {
    // The release went elsewhere (or the pair did): the point stays where it was.
    pressIndex_ = -1;
    dragging_ = false;
    return;
  }
  if (!dragging_) {
    if (std::hypot(pointerX_ - pressX_, pointerY_ - pressY_) < kDragStart) return;
    dragging_ = true;
    grabDx_ = (side_ == 1 ? pair->x1 : pair->x0) - pressX_;
    grabDy_ = (side_ == 1 ? pair->y1 : pair->y0) - pressY_;
  }
  dragX_ = pointerX_ + grabDx_;
  dragY_ = pointerY_ + grabDy_;
}

void CameraWnd::leftRelease(double x, double y) {
  if (dragging_) {
    dragX_ = x + grabDx_;
    dragY_ = y + grabDy_;
    bool inside = false;
    {
      std::lock_guard lock(frameLock);
      inside = frame != nullptr && frame->containsPoint(dragX_, dragY_);
    }
    if (inside && app->pairs().movePoint(pressIndex_, side_, {dragX_, dragY_})) pairsChanged();
  }
  pressIndex_ = -1;
  dragging_ = false;
  invalidateBoth();
}

void CameraWnd::paintAssisted(PaintSurface& surface) {
  const bool hasFrame = paintFrame(surface);
  Canvas canvas = canvasOf(surface);
  if (canvas.empty()) return;

  const PairList& pairs = app->pairs();
  const StereoCalibration& calibration = app->calibration();
  StatusFacts facts;
  facts.pairs = pairs.correspondences().size();
  facts.pendingSource = pairs.pendingSource();
  facts.calibrated = calibration.calibrated();
  facts.outOfDate = app->calibrationOutOfDate();
  facts.helpShown = app->helpShown();
  facts.findingPairs = app->findingPairs();
  if (facts.calibrated) {
    facts.residuals = pairResiduals(calibration.fundamental(), pairs.correspondences());
    if (const std::optional<Session>& fit = calibration.lastAccurate()) {
      facts.method = fit->method;
      facts.inliers = fit->inlierCount();
      facts.rmsPx = fit->rmsSampsonPx;
    }
  }
  const std::string status = statusLineText(facts);

  AssistedOverlay overlay;
  overlay.side = side_;
  overlay.pairs = pairs.correspondences();
  overlay.residuals = facts.residuals;
  overlay.selected = pairs.currentCorrespondence();
  if (pointerInside_ && pressIndex_ < 0) {
    overlay.hovered = pairNear(overlay.pairs, side_, pointerX_, pointerY_, kSelectRadius);
  }
  if (dragging_) {
    overlay.dragged = pressIndex_;
    overlay.dragPoint = {dragX_, dragY_};
  }
  overlay.pending = pairs.pendingSource() == side_;
  overlay.pendingPoint = pairs.pendingPoint();
  if (showLine && hasFrame) {
    int width = 0;
    int height = 0;
    frameSize(width, height);
    // Ends that are not finite (a line missing the picture, the zero F) draw nothing.
    const VectorPair ends = clipLineToImage(epipolarLine, width, height);
    overlay.line = true;
    overlay.lineFrom = {ends.first[0], ends.first[1]};
    overlay.lineTo = {ends.second[0], ends.second[1]};
  }
  // The cross of a match or a clicked point, unless it only repeats the selected pair's ring.
  const Correspondence* shown = pairs.find(overlay.selected);
  const bool repeatsSelection = shown != nullptr &&
                                marker[0] == (side_ == 1 ? shown->x1 : shown->x0) &&
                                marker[1] == (side_ == 1 ? shown->y1 : shown->y0);
  overlay.cross = marker[0] != 0.0 && !repeatsSelection;
  overlay.crossPoint = {marker[0], marker[1]};
  overlay.status = status;
  overlay.help = facts.helpShown;

  const int statusHeight = drawAssistedOverlay(canvas, overlay);
  if (dragging_) {
    paintLoupe(canvas, dragX_, dragY_, statusHeight);
  } else if (pointerInside_ && hasFrame) {
    paintLoupe(canvas, pointerX_, pointerY_, statusHeight);
  }
}

LRESULT CameraWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const double x = loWord(lParam);
  const double y = hiWord(lParam);
  switch (msg) {
    case WM_PAINT:
      paint();
      return 0;
    case WM_LBUTTONDOWN:
      if (app->options().assist) {
        leftPress(wParam, xFromLParam(lParam), yFromLParam(lParam));
      } else if (app->calibration().calibrated()) {
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
      pointerMoved(wParam);
      invalidate();
      return 0;
    case WM_MOUSELEAVE:
      if (!app->options().assist) return LiveImageWnd::handleMessage(msg, wParam, lParam);
      pointerInside_ = false;
      invalidate();
      return 0;
    case WM_LBUTTONUP:
      if (!app->options().assist) return LiveImageWnd::handleMessage(msg, wParam, lParam);
      leftRelease(xFromLParam(lParam), yFromLParam(lParam));
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
      if (!(app->options().assist ? assistedKey(wParam) : describedKey(wParam))) return 0;
      // Digits and every other key also ask for a snapshot.
      return LiveImageWnd::handleMessage(msg, wParam, lParam);
    default:
      return LiveImageWnd::handleMessage(msg, wParam, lParam);
  }
}

}  // namespace epipolar
