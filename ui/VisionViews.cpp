#include "ui/VisionViews.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "log/DebugStream.h"
#include "platform/Platform.h"
#include "ui/CameraWnd.h"
#include "vision/Disparity.h"
#include "vision/OpenCvThreads.h"

namespace epipolar {
namespace {

constexpr int kViewX = 100;
constexpr int kViewY = 620;
constexpr double kSamePairPx = 1.0;
// The rectified view is shown at most this large (both pictures), so that it fits a
// 1920 x 1080 screen beside the camera windows; the disparity view at its top right.
constexpr double kMaxShownWidth = 1600.0;
constexpr double kMaxShownHeight = 500.0;
constexpr int kScreenRight = 1900;
constexpr int kDisparityY = 40;

Matrix3x3 rowMajor(const Matrix& F) {
  Matrix3x3 out{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out[static_cast<size_t>(3 * r + c)] = F(r, c);
  }
  return out;
}

}  // namespace

Rectification shownScale(const Rectification& r) {
  const double scale =
      std::min({1.0, kMaxShownWidth / (2.0 * r.width), kMaxShownHeight / r.height});
  if (scale >= 1.0) return r;
  // S * H with S = diag(scale, scale, 1): the rows of the rectified pictures stay rows.
  Rectification shown = r;
  for (int k = 0; k < 6; ++k) {
    shown.H0[static_cast<size_t>(k)] *= scale;
    shown.H1[static_cast<size_t>(k)] *= scale;
  }
  shown.width = std::max(1, static_cast<int>(std::lround(r.width * scale)));
  shown.height = std::max(1, static_cast<int>(std::lround(r.height * scale)));
  shown.scale = r.scale * scale;
  shown.minDisparity = r.minDisparity * scale;
  shown.maxDisparity = r.maxDisparity * scale;
  return shown;
}

LiveViewWnd::LiveViewWnd(
    const std::string& title, int x, int y, int width, int height, LatestPairWorker::Render render)
    : ImageWnd(Image::blank(width, height).release(), title, x, y), handle_(hwnd) {
  worker_ = std::make_unique<LatestPairWorker>(
      std::move(render),
      [this](std::unique_ptr<Image> picture) { showPicture(std::move(picture)); });
  show(true);
}

LiveViewWnd::~LiveViewWnd() { worker_->stop(); }

void LiveViewWnd::submit(std::unique_ptr<Image> frame0, std::unique_ptr<Image> frame1) {
  worker_->submit(std::move(frame0), std::move(frame1));
}

void LiveViewWnd::showPicture(std::unique_ptr<Image> picture) {
  Image* previous = nullptr;
  {
    std::lock_guard lock(frameLock);
    previous = frame;
    frame = picture.release();
  }
  delete previous;
  ::epipolar::invalidate(handle_);  // any thread; ignored once the window is gone
}

LRESULT LiveViewWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY) {
    open_.store(false);
    worker_->stop();
  }
  return ImageWnd::handleMessage(msg, wParam, lParam);
}

std::unique_ptr<Image> sideBySide(const RectifyingWarp& warp0,
                                  const RectifyingWarp& warp1,
                                  const Image& frame0,
                                  const Image& frame1) {
  const std::unique_ptr<Image> left = warp0.apply(frame0);
  const std::unique_ptr<Image> right = warp1.apply(frame1);
  if (!left || !right || left->height != right->height) return nullptr;
  const int width = left->width + right->width;
  std::unique_ptr<Image> both = Image::blank(width, left->height);
  for (int y = 0; y < both->height; ++y) {
    std::uint8_t* row = both->row(y);
    std::memcpy(row, left->row(y), static_cast<size_t>(left->width) * 3);
    std::memcpy(row + static_cast<size_t>(left->width) * 3,
                right->row(y),
                static_cast<size_t>(right->width) * 3);
    if (y % kGuideSpacing == kGuideSpacing / 2) {
      // A thin green row: bright on dark scenes, apart from the picture's own colours.
      for (int x = 0; x < width; x += 1) {
        row[3 * x] = 0;
        row[3 * x + 1] = 255;
        row[3 * x + 2] = 0;
      }
    }
  }
  return both;
}

VisionViews::VisionViews(CameraWndOwner& owner) : owner_(owner) { prepareOpenCvThreads(); }

VisionViews::~VisionViews() {
  {
    std::lock_guard lock(liveMutex_);
    rectifiedWnd_.reset();
    disparityWnd_.reset();
  }
  if (search_.joinable()) search_.join();
}

bool VisionViews::copyFrames(std::unique_ptr<Image>& frame0, std::unique_ptr<Image>& frame1) const {
  std::unique_ptr<Image> copies[2];
  for (int side = 0; side < 2; ++side) {
    CameraWnd* window = owner_.cameraWindow(side);
    if (window == nullptr) return false;
    std::lock_guard lock(window->frameLock);
    if (window->frame == nullptr) return false;
    copies[side] = std::make_unique<Image>(*window->frame);
  }
  frame0 = std::move(copies[0]);
  frame1 = std::move(copies[1]);
  return true;
}

void VisionViews::startAutomaticPairs() {
  if (search_.joinable()) {
    logLine("Automatic pairs: a search is still running");
    return;
  }
  std::unique_ptr<Image> frame0;
  std::unique_ptr<Image> frame1;
  if (!copyFrames(frame0, frame1)) {
    logLine("Automatic pairs: both windows need a frame");
    return;
  }
  logLine("Automatic pairs: searching the two frames");
  const WindowHandle view = owner_.viewWindow();
  search_ = std::thread([this, view, f0 = std::move(frame0), f1 = std::move(frame1)] {
    found_ = findAutomaticPairs(*f0, *f1);
    postMessage(view, kAutomaticPairsDone, 0, 0);
  });
  repaintCameraWindows();  // their status lines say a search runs
}

void VisionViews::finishAutomaticPairs() {
  if (!search_.joinable()) return;
  search_.join();
  repaintCameraWindows();  // new pairs, and the status lines without the search
  AutomaticPairsResult result = std::move(found_);
  found_ = {};
  for (const std::string& warning : result.warnings) logLine("Warning: ", warning);
  if (result.outcome != AutomaticPairsOutcome::kFound) {
    logLine("Automatic pairs: ", result.message);
    return;
  }
  // A second A on the same view finds the same pairs again: those already in the list (both
  // points within kSamePairPx) are not added twice.
  const std::span<const Correspondence> marked = owner_.pairs().correspondences();
  std::vector<Correspondence> fresh;
  for (const Correspondence& pair : result.pairs) {
    const bool known = std::any_of(marked.begin(), marked.end(), [&](const Correspondence& m) {
      return std::abs(m.x0 - pair.x0) <= kSamePairPx && std::abs(m.y0 - pair.y0) <= kSamePairPx &&
             std::abs(m.x1 - pair.x1) <= kSamePairPx && std::abs(m.y1 - pair.y1) <= kSamePairPx;
    });
    if (!known) fresh.push_back(pair);
  }
  owner_.pairs().append(fresh);
  logLine(
      automaticPairsLogText(static_cast<int>(fresh.size()), result.matches, result.milliseconds));
}

void VisionViews::repaintCameraWindows() const {
  for (int side = 0; side < 2; ++side) {
    if (CameraWnd* window = owner_.cameraWindow(side)) window->invalidate();
  }
}

void VisionViews::showRectified() {
  const StereoCalibration& calibration = owner_.calibration();
  if (!calibration.calibrated()) {
    logLine("Rectified view: no F yet; mark pairs (or press A) and calibrate with C");
    return;
  }
  CameraWnd* window0 = owner_.cameraWindow(0);
  CameraWnd* window1 = owner_.cameraWindow(1);
  if (window0 == nullptr || window1 == nullptr) return;
  PictureSize size0;
  PictureSize size1;
  window0->frameSize(size0.width, size0.height);
  window1->frameSize(size1.width, size1.height);

  const Matrix3x3 F = rowMajor(calibration.fundamental());
  const std::span<const Correspondence> pairs = owner_.pairs().correspondences();
  std::vector<Correspondence> inliers;
  const std::optional<Session>& fitted = calibration.lastAccurate();
  if (fitted && fitted->F == F && fitted->pairs.size() == pairs.size() &&
      fitted->fits.size() == pairs.size() &&
      std::equal(pairs.begin(), pairs.end(), fitted->pairs.begin(), [](auto& a, auto& b) {
        return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1;
      })) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      if (fitted->fits[i] && fitted->fits[i]->inlier) inliers.push_back(pairs[i]);
    }
  } else {
    inliers = inliersOf(F, pairs, 1.0);
  }
  const RectificationResult result = rectify(F, inliers, size0, size1);
  if (result.outcome != RectificationOutcome::kRectified) {
    logLine("Rectified view: ", result.message);
    return;
  }
  rectification_ = result.rectification;
  const Rectification r = shownScale(result.rectification);
  shown_ = r;
  size0_ = size0;
  size1_ = size1;
  auto warp0 = std::make_shared<const RectifyingWarp>(r, 0, size0);
  auto warp1 = std::make_shared<const RectifyingWarp>(r, 1, size1);
  auto window =
      std::make_unique<LiveViewWnd>("Rectified Display",
                                    kViewX,
                                    kViewY,
                                    2 * r.width,
                                    r.height,
                                    [warp0, warp1](const Image& frame0, const Image& frame1) {
                                      return sideBySide(*warp0, *warp1, frame0, frame1);
                                    });
  {
    std::lock_guard lock(liveMutex_);
    rectifiedWnd_ = std::move(window);
  }
  char text[160];
  std::snprintf(text,
                sizeof text,
                "Rectified view: %d x %d from %zu inlier pairs, disparities %.1f to %.1f px, "
                "shown at %.2f",
                rectification_->width,
                rectification_->height,
                inliers.size(),
                rectification_->minDisparity,
                rectification_->maxDisparity,
                static_cast<double>(r.width) / rectification_->width);
  logLine(text);
  frameShown();  // the first picture at once, also while the cameras are paused
}

void VisionViews::showDisparity() {
  if (!rectification_) {
    logLine("Disparity view: rectify first with R");
    return;
  }
  // Matched at the size shown: the map lines up with the rectified view, and fewer pixels
  // keep it live.
  const Rectification& r = shown_;
  auto matcher = std::make_shared<DisparityMatcher>(r, size0_, size1_);
  auto window =
      std::make_unique<LiveViewWnd>("Disparity Display",
                                    std::max(0, kScreenRight - r.width),
                                    kDisparityY,
                                    r.width,
                                    r.height,
                                    [matcher](const Image& frame0, const Image& frame1) {
                                      return colourDisparity(matcher->compute(frame0, frame1));
                                    });
  {
    std::lock_guard lock(liveMutex_);
    disparityWnd_ = std::move(window);
  }
  logLine("Disparity view: semi-global matching of the live frames");
  frameShown();
}

void VisionViews::frameShown() {
  std::lock_guard lock(liveMutex_);
  for (LiveViewWnd* window : {rectifiedWnd_.get(), disparityWnd_.get()}) {
    if (window == nullptr || !window->open()) continue;
    std::unique_ptr<Image> frame0;
    std::unique_ptr<Image> frame1;
    if (copyFrames(frame0, frame1)) window->submit(std::move(frame0), std::move(frame1));
  }
}

}  // namespace epipolar
