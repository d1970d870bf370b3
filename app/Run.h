// The program's run over a list of cameras, from the device lines to the end of the loop.
//
// In order: GSL errors become "ERROR: " log lines; every entry i of the list is logged as
// "Camera " i " is " name, and entries 0 and 1 are opened, each right after its line;
// "Total count: " n; then the StereoApp over the two cameras, `options` and `settingsFileName`
// is built and shown, the message loop runs until a window that ends the program is closed (or
// SIGINT/SIGTERM arrives), and the StereoApp is destroyed, which saves the calibration.
// Returns 0.
//
// With fewer than two entries the StereoApp ends the process with status 0 while building
// its camera windows, saving nothing.
//
// The list is injected so that tests can run the whole sequence over fake cameras. Cameras
// live until after the StereoApp is gone; it stops them before deleting its windows.
#pragma once

#include <string>

#include "capture/Camera.h"
#include "ui/Options.h"

namespace epipolar {

inline constexpr const char* kSettingsFileName = "cams.conf";

int runEpipolar(CameraList& cameras,
                const Options& options = {},
                const std::string& settingsFileName = kSettingsFileName);

}  // namespace epipolar
