#include "app/StereoApp.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

#include "fileio/SaveFile.h"
#include "geometry/MatchSearch.h"
#include "geometry/PreciseClick.h"
#include "geometry/ZnccSearch.h"
#include "imaging/EdgePicture.h"
#include "log/DebugStream.h"
#include "session/CalibrationYaml.h"
#include "session/PairReader.h"
#include "settings/Calibration.h"
#include "ui/BallView.h"

namespace epipolar {
namespace {

constexpr const char* kUseData = "Use data?";

void logPoint(std::size_t i, const Correspondence& point) {
  logLine("Point ", i, ": (", point.x0, ", ", point.y0, ") = (", point.x1, ", ", point.y1, ")");
}

// F as the session files hold it; an F that is not 3 x 3 (never kept by the calibration owner)
// reads as zeros.
Matrix3x3 matrix3x3(const Matrix& F) {
  Matrix3x3 values{};
  if (F.rows() == 3 && F.cols() == 3) std::copy(F.data(), F.data() + values.size(), values.begin());
  return values;
}

std::string pairCount(std::size_t count) {
  if (count == 0) return "no pairs";
  return std::to_string(count) + (count == 1 ? " pair" : " pairs");
}

// Saves a whole file of the assisted mode as cams.conf is saved, waiting for the disk; false
// and the reason logged when it fails.
bool writeSessionFile(const char* name, const std::string& bytes) {
  if (saveFile(name, bytes, Sync::kYes)) return true;
  logLine("Could not write ", name, ": ", std::strerror(errno));
  return false;
}

// The exit save is not asked for and may hold less than an epipolar-session.json it did not
// write (an earlier run's export with more pairs, or its F): that file's bytes go to
// epipolar-session.previous.json first. False, with the reason logged, when they cannot be
// read or kept; the caller then leaves the file alone.
bool keepEarlierSessionFile() {
  std::error_code error;
  if (!std::filesystem::exists(kSessionFileName, error)) return true;
  errno = 0;
  std::ifstream in(kSessionFileName, std::ios::binary);
  std::ostringstream bytes;
  if (!in || !(bytes << in.rdbuf()) || in.bad()) {
    logLine("Could not read ",
            kSessionFileName,
            ": ",
            errno != 0 ? std::strerror(errno) : "read error",
            "; the edits are not saved");
    return false;
  }
  if (!writeSessionFile(kSessionBackupFileName, bytes.str())) return false;
  logLine("Kept the earlier ", kSessionFileName, " as ", kSessionBackupFileName);
  return true;
}

}  // namespace

StereoApp::StereoApp(Camera* camera0,
                     Camera* camera1,
                     const std::string& settingsFileName,
                     const Options& options)
    : GLWnd("Ball Display", 700, 600, 400, 400),
      CameraWndOwner(options),
      settings(settingsFileName) {
  if (options.assist) vision = std::make_unique<VisionViews>(*this);
  cameraWnd0 = makeCameraWindow(camera0, 0, 100, 100);
  cameraWnd1 = makeCameraWindow(camera1, 1, 750, 100);

  restoreMatrix();
  restorePoints();
  // What the start restored is no edit: a restored F is as up to date as the pairs with it.
  markFitted();
  if (options.assist && !options.pairsFile.empty()) importPairs(options.pairsFile);
  markExported();
  if (calibration().calibrated()) {
    messageBox(hwnd,
               "Use middle click to set the balls, orange then green.\n"
               "Click in the window with the (0) in the label.",
               "Instructions",
               MB_OK);
  }

  cameraWnd0->setTitle("(0) " + cameraWnd0->getTitle());
  cameraWnd1->setTitle("(1) " + cameraWnd1->getTitle());
}

std::unique_ptr<CameraWnd> StereoApp::makeCameraWindow(Camera* camera, int side, int x, int y) {
  if (camera == nullptr) {
    logLine("Camera was NULL, what are you trying to pull here!");
    reportError("epipolar needs two cameras. To try it without any, run: epipolar --virtual");
    exitEarly(0);
  }
  auto window = std::make_unique<CameraWnd>(this, camera, side, x, y);
  window->startCamera();
  return window;
}

CameraWnd* StereoApp::cameraWindow(int side) const {
  return side == 1 ? cameraWnd1.get() : cameraWnd0.get();
}

void StereoApp::restoreMatrix() {
  if (!storedMatrixOffered(settings)) return;
  const Matrix stored = readStoredMatrix(settings);
  const int answer = messageBox(
      hwnd, "Use the matrix restored from file?", kUseData, MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) exitEarly(0);
  // No keeps the stored F and its epipoles, unused (Yes puts them to use).
  calibration().restore(stored, answer == IDYES);
}

void StereoApp::restorePoints() {
  if (!storedPointsOffered(settings)) return;
  const std::vector<Correspondence> stored = readStoredPoints(settings);
  for (std::size_t i = 0; i < stored.size(); ++i) logPoint(i, stored[i]);
  const int answer = messageBox(
      hwnd, "Use the points restored from file?", kUseData, MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) exitEarly(0);
  if (answer == IDYES) pairs().append(stored);
}

void StereoApp::importPairs(const std::string& path) {
  const PairFile file = readPairFile(path);
  if (!file.ok()) {
    logLine(file.error);
    return;
  }
  // F is estimated again from the pairs by C: an F in the file may belong to other pairs.
  addPairs(file.session.pairs,
           path,
           file.session.F ? "its F is not used: press C to calibrate" : std::string());
}

void StereoApp::stopCameras() {
  for (CameraWnd* window : {cameraWnd0.get(), cameraWnd1.get()}) {
    if (window != nullptr) window->stopCamera();
  }
}

void StereoApp::exitEarly(int status) {
  stopCameras();
  std::exit(status);
}

StereoApp::~StereoApp() {
  saveCalibration();
  saveUnexportedEdits();
  // No frame may arrive while, or after, a window is deleted.
  stopCameras();
  vision.reset();  // stops the live views' workers and waits for a running search
  cameraWnd0.reset();
  cameraWnd1.reset();
  for (std::unique_ptr<ImageWnd>& slot : edgeWnd) slot.reset();
  balls().clear();
}

void StereoApp::saveCalibration() {
  if (saved_) return;
  saved_ = true;
  writeCalibration(
      settings, calibration().calibrated(), calibration().fundamental(), pairs().correspondences());
  settings.save();
}

void StereoApp::markExported() {
  exportedPairsState_ = pairs().state();
  exportedCalibrations_ = calibrations_;
}

Session StereoApp::session() const {
  std::optional<Matrix3x3> F;
  if (calibration().calibrated()) F = matrix3x3(calibration().fundamental());
  std::array<SessionCamera, 2> cameras;
  for (int side : {0, 1}) {
    CameraWnd* window = cameraWindow(side);
    if (window == nullptr) continue;
    SessionCamera& camera = cameras[static_cast<std::size_t>(side)];
    if (window->camera->deviceEntry != nullptr) camera.name = window->camera->deviceEntry->name;
    window->frameSize(camera.width, camera.height);
  }
  const std::optional<Session>& fitted = calibration().lastAccurate();
  return sessionSnapshot(pairs().correspondences(), F, fitted ? &*fitted : nullptr, cameras);
}

void StereoApp::exportSession() {
  const Session now = session();
  const bool written = writeSessionFile(kSessionFileName, sessionJson(now));
  if (written) {
    sessionFileWritten_ = true;
    logLine("Exported ",
            pairCount(now.pairs.size()),
            now.F ? " with F" : " without F",
            " to ",
            kSessionFileName);
    markExported();
  }
  if (!now.F) {
    logLine(kCalibrationFileName, " not written: no F in use yet");
  } else if (writeSessionFile(kCalibrationFileName, calibrationYaml(*now.F))) {
    logLine("Exported F to ", kCalibrationFileName);
  }
}

void StereoApp::saveUnexportedEdits() {
  if (editsSaved_ || !options().assist) return;
  editsSaved_ = true;
  if (pairs().state() == exportedPairsState_ && calibrations_ == exportedCalibrations_) {
    return;
  }
  if (!sessionFileWritten_ && !keepEarlierSessionFile()) return;
  const Session now = session();
  if (writeSessionFile(kSessionFileName, sessionJson(now))) {
    logLine("Saved the edits not yet exported to ",
            kSessionFileName,
            " (",
            pairCount(now.pairs.size()),
            ")");
  }
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
  if (msg == kAutomaticPairsDone) {
    if (vision) vision->finishAutomaticPairs();
    return 0;
  }
  if (msg == WM_KEYDOWN) {
    switch (wParam) {
      case VK_LEFT:
        balls().enlarge();
        invalidate();
        return 0;
      case VK_RIGHT:
        balls().shrink();
        invalidate();
        return 0;
      case 'P':
        togglePaused();
        return 0;
      default:
        break;
    }
  }
  return GLWnd::handleMessage(msg, wParam, lParam);
}

void StereoApp::automaticPairs() {
  if (vision) vision->startAutomaticPairs();
}

bool StereoApp::findingPairs() const { return vision && vision->searching(); }

void StereoApp::showRectified() {
  if (vision) vision->showRectified();
}

void StereoApp::showDisparity() {
  if (vision) vision->showDisparity();
}

void StereoApp::cameraFrameShown() {
  if (vision) vision->frameShown();
}

void StereoApp::drawScene() {
  if (options().assist) {
    drawFittedBallScene(balls().trackedPoints(), balls().pointSize(), ballText_);
  } else {
    drawBallScene(balls().trackedPoints(), balls().pointSize());
  }
}

void StereoApp::addClick(CameraWnd* window, double x, double y) {
  ImagePosition point{x, y};
  if (options().assist) point = refineClick(window, point);
  if (!pairs().click(window->side(), point)) return;

  const std::size_t count = pairs().correspondences().size();
  logLine(count, " points reached");
  if (count == 9 || count % 10 == 0) {
    messageBox(hwnd,
               "9 point correspondances marked.  Calibration can now begin.",
               "Calibration ready",
               MB_OK);
  }
}

void StereoApp::addPairs(std::span<const Correspondence> added,
                         const std::string& origin,
                         const std::string& note) {
  pairs().append(added);
  logLine("Added ",
          pairCount(added.size()),
          " from ",
          origin,
          " (",
          pairs().correspondences().size(),
          " in all)",
          note.empty() ? "" : "; ",
          note);
}

void StereoApp::calibrate() {
  if (calibration().calibrate(
          pairs().correspondences(),
          options().assist ? FundamentalMethod::kAccurate : FundamentalMethod::kClassic)) {
    ++calibrations_;
    markFitted();
  }
}

ImagePosition StereoApp::refineClick(CameraWnd* window, ImagePosition click) {
  const int side = window->side();
  const bool completesPair = pairs().pendingSource() != -1 && pairs().pendingSource() != side;
  CameraWnd* other = window->otherWindow();
  const bool wasPaused = paused();
  // Paused and settled: neither frame is replaced or deleted until `paused` is restored.
  window->pauseAndSettle();
  RefinedClick refined{click, false};
  if (window->frame != nullptr) {
    if (!completesPair) {
      refined = snapToCorner(*window->frame, click);
    } else if (other->frame != nullptr) {
      refined = refineMatchingClick(*other->frame, pairs().pendingPoint(), *window->frame, click);
    }
  }
  setPaused(wasPaused);
  if (refined.refined) logLine(formatRefinedClickLine(side, click, refined.position));
  return refined.position;
}

double StereoApp::matchBand() const {
  // An F from the described estimator or from cams.conf has no measured accuracy: the match
  // may lie anywhere within the wide band (znccBand of NaN).
  const std::optional<Session>& accurate = calibration().lastAccurate();
  const double rms = accurate && accurate->rmsSampsonPx ? *accurate->rmsSampsonPx
                                                        : std::numeric_limits<double>::quiet_NaN();
  return znccBand(rms);
}

ImagePosition StereoApp::findMatch(CameraWnd* window, double x, double y) {
  CameraWnd* other = window->otherWindow();
  const bool wasPaused = paused();
  // Paused and settled: neither frame is replaced or deleted until `paused` is restored.
  window->pauseAndSettle();
  ImagePosition result;
  if (window->frame != nullptr && other->frame != nullptr) {
    const Matrix M = calibration().epipolarMatrix(window->side());
    const ImagePosition source{x, y};
    if (options().assist) {
      logSearchLine(*other->frame, source, M);
      Matrix3x3 m{};
      std::copy_n(M.data(), m.size(), m.begin());
      const ZnccMatch match =
          searchZnccAlongLine(*window->frame, *other->frame, source, m, matchBand());
      logLine(formatMatchLine(other->side(), match));
      result = match.position;
    } else {
      result = searchAlongLine(
          *window->frame, *other->frame, source, M, kMatchWindowSize, kMatchBand, matchThreshold);
    }
  }
  setPaused(wasPaused);
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

}  // namespace epipolar
