#include "app/StereoApp.h"

#include <unistd.h>

#include <cstdlib>

#include "geometry/Calibration.h"
#include "geometry/Epipolar.h"
#include "geometry/MatchSearch.h"
#include "imaging/EdgePicture.h"
#include "log/DebugStream.h"
#include "settings/Calibration.h"
#include "ui/BallView.h"

namespace epipolar {
namespace {

constexpr const char* kUseData = "Use data?";

void logPoint(std::size_t i, const Correspondence& point) {
  DebugStream << "Point " << i << ": (" << point.x0 << ", " << point.y0 << ") = (" << point.x1
              << ", " << point.y1 << ")";
  DebugStream.put('\n');
  DebugStream.flush();
}

}  // namespace

StereoApp::StereoApp(Camera* camera0, Camera* camera1, const std::string& settingsFileName)
    : GLWnd("Ball Display", 700, 600, 400, 400), settings(settingsFileName) {
  cameraWnd0 = makeCameraWindow(camera0, 100, 100);
  cameraWnd1 = makeCameraWindow(camera1, 750, 100);

  restoreMatrix();
  restorePoints();
  if (calibrated) {
    messageBox(hwnd,
               "Use middle click to set the balls, orange then green.\n"
               "Click in the window with the (0) in the label.",
               "Instructions",
               MB_OK);
  }

  cameraWnd0->setTitle("(0) " + cameraWnd0->getTitle());
  cameraWnd1->setTitle("(1) " + cameraWnd1->getTitle());
}

CameraWnd* StereoApp::makeCameraWindow(Camera* camera, int x, int y) {
  if (camera == nullptr) {
    DebugStream << "Camera was NULL, what are you trying to pull here!";
    DebugStream.put('\n');
    DebugStream.flush();
    // One write: camera 0's capture thread is already running and may be reporting too.
    writeAll(STDERR_FILENO,
             "epipolar needs two cameras. To try it without any, run: epipolar --virtual\n");
    exitEarly(0);
  }
  auto* window = new CameraWnd(this, camera, x, y);
  window->startCamera();
  return window;
}

void StereoApp::restoreMatrix() {
  if (!storedMatrixOffered(settings)) return;
  const Matrix stored = readStoredMatrix(settings);
  const int answer = messageBox(
      hwnd, "Use the matrix restored from file?", kUseData, MB_YESNOCANCEL | MB_ICONQUESTION);
  fundamental = stored;
  if (answer == IDCANCEL) exitEarly(0);
  computeEpipoles();
  calibrated = answer == IDYES;
}

void StereoApp::restorePoints() {
  if (!storedPointsOffered(settings)) return;
  const std::vector<Correspondence> stored = readStoredPoints(settings);
  for (std::size_t i = 0; i < stored.size(); ++i) logPoint(i, stored[i]);
  const int answer = messageBox(
      hwnd, "Use the points restored from file?", kUseData, MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) exitEarly(0);
  if (answer == IDYES) {
    correspondences.insert(correspondences.end(), stored.begin(), stored.end());
  }
}

void StereoApp::stopCameras() {
  for (CameraWnd* window : {cameraWnd0, cameraWnd1}) {
    if (window != nullptr) window->stopCamera();
  }
}

void StereoApp::exitEarly(int status) {
  stopCameras();
  std::exit(status);
}

StereoApp::~StereoApp() {
  saveCalibration();
  // No frame may arrive while, or after, a window is deleted.
  stopCameras();
  delete cameraWnd0;
  cameraWnd0 = nullptr;
  delete cameraWnd1;
  cameraWnd1 = nullptr;
  for (std::unique_ptr<ImageWnd>& slot : edgeWnd) slot.reset();
  trackedPoints.clear();
}

void StereoApp::saveCalibration() {
  if (saved_) return;
  saved_ = true;
  writeCalibration(settings, calibrated, fundamental, correspondences);
  settings.save();
}

bool StereoApp::show(bool visible) {
  const bool wasVisible = GLWnd::show(visible);
  cameraWnd0->show(visible);
  cameraWnd1->show(visible);
  for (std::unique_ptr<ImageWnd>& slot : edgeWnd) {
    if (slot) slot->show(visible);
  }
  return wasVisible;
}

LRESULT StereoApp::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN) {
    switch (wParam) {
      case VK_LEFT:
        pointSize = static_cast<float>(pointSize + kPointSizeStep);
        invalidate();
        return 0;
      case VK_RIGHT:
        pointSize = static_cast<float>(pointSize - kPointSizeStep);
        invalidate();
        return 0;
      case 'P':
        paused.store(!paused.load());
        return 0;
      default:
        break;
    }
  }
  return GLWnd::handleMessage(msg, wParam, lParam);
}

void StereoApp::drawScene() { drawBallScene(trackedPoints, pointSize); }

void StereoApp::addClick(CameraWnd* window, double x, double y) {
  const int side = window == cameraWnd1 ? 1 : 0;
  if (pendingSource == -1 || pendingSource == side) {
    pendingSource = side;
    pendingPoint = {x, y};
    return;
  }
  Correspondence pair;
  if (side == 1) {
    pair = {pendingPoint.x, pendingPoint.y, x, y};
  } else {
    pair = {x, y, pendingPoint.x, pendingPoint.y};
  }
  correspondences.push_back(pair);
  pendingSource = -1;

  const std::size_t count = correspondences.size();
  DebugStream << count << " points reached";
  DebugStream.put('\n');
  DebugStream.flush();
  if (count == 9 || count % 10 == 0) {
    messageBox(hwnd,
               "9 point correspondances marked.  Calibration can now begin.",
               "Calibration ready",
               MB_OK);
  }
}

void StereoApp::calibrate() {
  if (epipolar::calibrate(correspondences, fundamental, epipole0, epipole1)) calibrated = true;
}

MatchPoint StereoApp::findMatch(CameraWnd* window, double x, double y) {
  CameraWnd* other = window == cameraWnd0 ? cameraWnd1 : cameraWnd0;
  const bool wasPaused = paused.load();
  // Paused and settled: neither frame is replaced or deleted until `paused` is restored.
  window->pauseAndSettle();
  MatchPoint result;
  if (window->frame != nullptr && other->frame != nullptr) {
    const ImagePosition found = searchAlongLine(*window->frame,
                                                *other->frame,
                                                ImagePosition{x, y},
                                                epipolarMatrix(window != cameraWnd0),
                                                kMatchWindowSize,
                                                kMatchBand,
                                                matchThreshold);
    result = {found.x, found.y};
  }
  paused.store(wasPaused);
  return result;
}

void StereoApp::detectEdges(const Image& frame, bool show, int index) {
  std::unique_ptr<Image> edges = edgePicture(frame);
  if (!show || index < 0 || index >= kEdgeSlots) return;
  edgeWnd[static_cast<size_t>(index)].reset();
  edgeWnd[static_cast<size_t>(index)] =
      std::make_unique<ImageWnd>(edges.release(), "Edge Display", 0, 0);
  edgeWnd[static_cast<size_t>(index)]->show(true);
}

void StereoApp::computeEpipoles() { epipolar::computeEpipoles(fundamental, epipole0, epipole1); }

Matrix StereoApp::epipolarMatrix(bool forCamera1) const {
  return epipolar::epipolarMatrix(fundamental, forCamera1);
}

VectorPair StereoApp::clipLineToImage(const Vector& line, int width, int height) const {
  return epipolar::clipLineToImage(line, width, height);
}

}  // namespace epipolar
