// The program's options: what the command line chose, handed down once from main through
// runEpipolar and StereoApp to the windows and the algorithms.
//
// Default-constructed, every field selects the classic program: each log line, box, file and
// result exactly as without options. A mode or switch that later work adds goes here, as a
// field whose default keeps that behaviour, never as a global. The frame sources are not
// options of the run: main picks the camera list from the command line before the run starts.
//
// Built by app/CommandLine; declared in ui/ so that the camera windows can read it without
// including app/. Plain data, copied once into StereoApp and read only afterwards (any
// thread may read it).
#pragma once

#include <string>

namespace epipolar {

struct Options {
  // --assist: the assisted mode: key C calibrates with the accurate estimator; the camera
  // windows' searches are the accurate ones, marking clicks are refined and a loupe follows
  // the pointer (ui/CameraWnd.h, app/StereoApp.h).
  bool assist = false;
  // --pairs FILE (only with --assist): pairs appended at start, after the restore questions;
  // "" for none.
  std::string pairsFile;

  friend bool operator==(const Options&, const Options&) = default;
};

}  // namespace epipolar
