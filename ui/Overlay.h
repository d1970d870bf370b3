// The assisted mode's overlays over a camera picture: numbered pair markers, epipolar lines,
// labels, the status line, the help panel and the loupe. Built on ui/Canvas.h (its pixel
// format, coordinates, clipping and colour rules hold here too).
//
// Overlays go onto the window surface after the frame blit and never into the frame's
// `Image`: snapshots, X, E and the match searches read the Image. A camera window's paint
// draws them in this order (later ones cover earlier ones):
//
//   PaintSurface surface(hwnd);
//   const bool hasFrame = paintFrame(surface);        // the blit, under frameLock
//   Canvas canvas = canvasOf(surface);                // empty: draw no overlays
//   drawOutlinedLine(canvas, ends..., kEpipolarLineColour);  // ends from clipLineToImage
//   for each pair k (numbered from 1):
//     drawMarker(canvas, x, y, k, calibrated ? residualColour(r) : kMarkerUnrated, state);
//   drawMarker(canvas, px, py, next, kMarkerPending, MarkerState::pending);  // a first click
//   const int status = drawStatusLine(canvas, "12 pairs - ... - H for help");
//   if (helpShown) drawHelpPanel(canvas, helpText);
//   if (pointer over the window or a point is dragged) {
//     std::lock_guard lock(frameLock);                // the loupe reads the frame
//     if (frame) drawLoupe(canvas, *frame, x, y, loupePlace(canvas, px, py, status));
//   }
//
// Cost: a busy view (a line across the picture, 30 markers, the status line and the loupe)
// takes about five times the bare paint of a 640x480 frame, some 0.25 ms of CPU; the help
// panel adds about half as much again (bench/overlay_bench).
//
// Threads: as the canvas (the UI thread for window surfaces); drawLoupe reads `picture`, so
// the caller holds the frame's lock or has paused the cameras.
#pragma once

#include <string_view>

#include "imaging/Image.h"
#include "platform/PaintSurface.h"
#include "ui/Canvas.h"

namespace epipolar {

// A canvas over the surface's pixels (SurfacePixels); empty when the surface has none.
Canvas canvasOf(PaintSurface& surface);

inline constexpr Rgba kResidualGood{40, 220, 40, 255};    // residual under 1 px
inline constexpr Rgba kResidualFair{255, 215, 0, 255};    // under 3 px
inline constexpr Rgba kResidualBad{255, 50, 50, 255};     // 3 px and above
inline constexpr Rgba kMarkerUnrated{80, 170, 255, 255};  // pairs before a calibration
inline constexpr Rgba kMarkerPending{255, 60, 255, 255};  // the first click of a pair
inline constexpr Rgba kEpipolarLineColour{0, 240, 255, 255};
inline constexpr Rgba kPanelBackground{0, 0, 0, 170};  // behind labels and text boxes
inline constexpr Rgba kTextColour{255, 255, 255, 255};

// The marker colour of a pair whose residual is `pixels`: good under 1 px, fair under 3 px,
// bad otherwise (also for a residual that is not a number or infinite).
Rgba residualColour(double pixels);

enum class MarkerState {
  normal,       // a ring in the pair's colour
  highlighted,  // a thicker ring and a pale halo: the pair a press would select
  selected,     // a white outer ring, and the number on a box in the pair's colour
  pending,      // the ring with four ticks: a first click waiting for its partner
};

// Radius of a marker's ring, pixels; a press this close to a point picks its pair.
inline constexpr double kMarkerRadius = 6.0;

// A marker at picture point (x, y) with its number (none when `number` <= 0) at its upper
// right, or wherever the number's box stays on the canvas. Every part is drawn over a dark
// halo, so it shows on any picture.
void drawMarker(Canvas& canvas, double x, double y, int number, Rgba colour, MarkerState state);

// `text` on a box with two pixels of padding whose top-left is (x, y); returns the box.
PixelRect drawLabel(Canvas& canvas,
                    int x,
                    int y,
                    std::string_view text,
                    Rgba colour = kTextColour,
                    Rgba background = kPanelBackground);

// Height of the status line, pixels.
inline constexpr int kStatusLineHeight = 17;
// A bar across the bottom kStatusLineHeight rows with `text` at its left; text too long for
// the canvas is cut and ends in "...". Returns kStatusLineHeight (the rows it covers).
int drawStatusLine(Canvas& canvas, std::string_view text);

// A box centred on the canvas holding `text`, lines separated by '\n'; a panel larger than
// the canvas starts at its top-left corner and is cut off.
void drawHelpPanel(Canvas& canvas, std::string_view text);

// The loupe: the 41 x 41 picture pixels around a point, each shown as a 4 x 4 block.
inline constexpr int kLoupeRadius = 20;
inline constexpr int kLoupeZoom = 4;
inline constexpr int kLoupeSize = (2 * kLoupeRadius + 1) * kLoupeZoom;  // 164 pixels
inline constexpr int kLoupeMargin = 8;                                  // from the canvas border

// Where the loupe goes: the canvas corner diagonally away from the pointer (a pointer in the
// left half puts it at the right, in the upper half at the bottom), kLoupeMargin from the
// borders and above the bottom `bottomReserve` rows (the status line). Size kLoupeSize square.
PixelRect loupePlace(const Canvas& canvas, double pointerX, double pointerY, int bottomReserve = 0);

// Draws the loupe of `picture` around picture point (x, y) at `place` (its top-left; the size
// is always kLoupeSize), with a two-pixel frame around it. The block of pixel
// (round(x) + i, round(y) + j), -20 <= i, j <= 20, covers place.x + 4 (i + 20) .. + 3; pixels
// outside the picture show dark grey. A crosshair marks (x, y) itself, sub-pixel offsets
// included, and leaves the centre block and its eight neighbours uncovered. Non-finite (x, y) draws
// nothing.
void drawLoupe(Canvas& canvas, const Image& picture, double x, double y, const PixelRect& place);

}  // namespace epipolar
