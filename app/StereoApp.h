// The application object: the "Ball Display" view window, owner of the two camera windows and
// the "Edge Display" windows, and holder of the state the whole run shares (CameraWndOwner).
// The options (ui/Options.h) are fixed at construction; default options give the classic
// program described here.
//
// Construction, in order:
//   1. the view: "Ball Display", 400 x 400 client pixels at (700, 600);
//   2. the settings store over `settingsFileName` (read completely; never created);
//   3. camera window (0) at (100, 100), then (1) at (750, 100); each camera starts once its
//      window is complete. A missing camera logs "Camera was NULL, what are you trying to
//      pull here!", suggests --virtual on standard error, and ends the process with status 0;
//   4. the stored matrix, unless "configured" of Cam0 is set or "matrixStored" is not: the box
//      "Use the matrix restored from file?" (caption "Use data?", Yes/No/Cancel). F and the
//      epipoles take the stored matrix whatever the answer; Yes also sets `calibrated`;
//   5. the stored points, if "hasPoints" of Cam0 is set: a "Point i: (x0, y0) = (x1, y1)" line
//      each, then "Use the points restored from file?" (caption "Use data?"); Yes keeps them;
//   6. with --assist and --pairs FILE, the file's pairs (read by session/PairReader.h) appended
//      as one bulk step (addPairs); a bad file logs the reader's one-line message and adds
//      nothing, and the run goes on;
//   7. when calibrated, the "Instructions" box;
//   8. the camera window titles get "(0) " and "(1) " in front.
// Cancel on either question ends the process with status 0 and saves nothing.
//
// Every early end stops the cameras started so far first, so no capture thread delivers,
// logs or repaints while the process winds down.
//
// With --assist the searches and the marking clicks are the accurate ones: findMatch runs the
// ZNCC search (geometry/ZnccSearch.h) after the described "Line: " and end-point lines and
// logs its "Match in (w): ..." line; addClick refines each click (refineClick below).
//
// Destruction saves once: matrixStored, the mat keys when calibrated and the points (see
// settings/Calibration.h); with --assist, then the exit save of the edits not yet exported
// (saveUnexportedEdits); then it stops both cameras and deletes the windows.
//
// The assisted mode's files (app/SessionExport.h): Ctrl+S (exportSession) writes
// epipolar-session.json and epipolar-calibration.yaml with the careful save (fileio/SaveFile.h,
// synced), logging per file
//   "Exported 12 pairs with F to epipolar-session.json"  ("without F" while none is in use)
//   "Exported F to epipolar-calibration.yaml"
//   "epipolar-calibration.yaml not written: no F in use yet"
//   "Could not write <file>: <reason>"
// An edit is any change of the pairs (a completed click pair, a bulk addition, any later pair
// operation) and any calibration (C) since start or since the last export whose session file
// was written. At exit, edits not yet exported are saved to epipolar-session.json alone, logged
// "Saved the edits not yet exported to epipolar-session.json (12 pairs)"; without edits nothing
// is written. An epipolar-session.json this run did not export (an earlier run's) is first
// copied to epipolar-session.previous.json, logged
//   "Kept the earlier epipolar-session.json as epipolar-session.previous.json"
// and when it cannot be read or copied it stays as it is and the edits are not saved (the
// reason logged). What the start brought (restored points, the --pairs file) is no edit: it is in
// its files already.
//
// Threads: UI thread only, except what CameraWndOwner names.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/SessionExport.h"
#include "capture/Camera.h"
#include "settings/ConfigFile.h"
#include "ui/CameraWnd.h"
#include "ui/CameraWndOwner.h"
#include "ui/GLText.h"
#include "ui/GLWnd.h"
#include "ui/ImageWnd.h"
#include "ui/VisionViews.h"

namespace epipolar {

class StereoApp : public GLWnd, public CameraWndOwner {
 public:
  StereoApp(Camera* camera0,
            Camera* camera1,
            const std::string& settingsFileName,
            const Options& options = {});
  ~StereoApp() override;

  // Shows (or hides) the view, both camera windows and every edge window.
  bool show(bool visible) override;
  // Keys of the view: Left adds 0.005 to pointSize, Right subtracts it, P toggles paused.
  // kAutomaticPairsDone ends an automatic pairs search (VisionViews).
  LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  // The balls, nearest last (ui/BallView.h); with --assist fitted into the view and numbered.
  void drawScene() override;

  CameraWnd* cameraWindow(int side) const override;
  void addClick(CameraWnd* window, double x, double y) override;
  void addPairs(std::span<const Correspondence> pairs,
                const std::string& origin,
                const std::string& note) override;
  void calibrate() override;
  void exportSession() override;
  ImagePosition findMatch(CameraWnd* window, double x, double y) override;
  void detectEdges(const Image& frame, bool show, int index) override;
  void invalidateView() override { invalidate(); }
  // Keys A, R, D with --assist (ui/VisionViews.h); nothing without it.
  void automaticPairs() override;
  bool findingPairs() const override;
  void showRectified() override;
  void showDisparity() override;
  void cameraFrameShown() override;
  WindowHandle viewWindow() const override { return hwnd; }

  // Writes the calibration keys into `settings` and saves the file. Runs once; later calls do
  // nothing. The destructor calls it.
  void saveCalibration();
  // With --assist: writes epipolar-session.json when there are edits not yet exported. Runs
  // once; later calls do nothing. The destructor calls it.
  void saveUnexportedEdits();
  // The session as Ctrl+S would write it now.
  Session session() const;

  // Camera windows (0) and (1).
  std::unique_ptr<CameraWnd> cameraWnd0;
  std::unique_ptr<CameraWnd> cameraWnd1;
  static constexpr int kEdgeSlots = 6;
  std::array<std::unique_ptr<ImageWnd>, kEdgeSlots> edgeWnd;
  ConfigFile settings;
  // The assisted views (--assist only; null otherwise).
  std::unique_ptr<VisionViews> vision;

 private:
  std::unique_ptr<CameraWnd> makeCameraWindow(Camera* camera, int side, int x, int y);
  void restoreMatrix();
  void restorePoints();
  // --pairs: the file's pairs as one bulk addition.
  void importPairs(const std::string& path);
  // Records the present pairs and calibrations as exported.
  void markExported();
  // Stops every camera started so far and ends the process with `status`, saving nothing.
  [[noreturn]] void exitEarly(int status);
  void stopCameras();
  // With --assist, a marking click moved onto what it aimed at (geometry/PreciseClick.h): the
  // first click of a pair onto a corner of its frame, the second onto the match of the first
  // click's window in the other frame. A click that moved logs "Refined click in (w): ...";
  // without frames, or without structure near it, the click stays.
  ImagePosition refineClick(CameraWnd* window, ImagePosition click);
  // The accurate search's band across the line, pixels: znccBand of the RMS Sampson error of
  // the accurate calibration that gave the F in use, the wide band for any other F.
  double matchBand() const;

  bool saved_ = false;
  bool editsSaved_ = false;
  // Whether this run has written epipolar-session.json (an export).
  bool sessionFileWritten_ = false;
  // Calibrations run so far, and the counts of the last export (see saveUnexportedEdits).
  std::uint64_t calibrations_ = 0;
  std::uint64_t exportedPairsState_ = 0;
  std::uint64_t exportedCalibrations_ = 0;
  // The numbers of the assisted "Ball Display".
  GLText ballText_;
};

}  // namespace epipolar
