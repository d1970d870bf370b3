#include "app/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>

namespace epipolar {

#ifndef EPIPOLAR_VERSION
#define EPIPOLAR_VERSION "unknown"
#endif

const char* bindingsHelp() {
  return R"help(Camera windows "(0)" and "(1)":
  left click     before calibration: mark a point; a click in (0) and one in (1) make a
                 pair (a second click in the same window replaces the first)
                 after calibration: show the point's epipolar line in the other window
  right click    search the matching point along the epipolar line and mark it in the
                 other window
  middle click   in (0) only: set a ball, orange then green; its match in (1) gives its
                 depth in "Ball Display"
  C              calibrate: estimate F from the marked pairs (at least 8); with --assist
                 the accurate estimator, which logs each pair's residual
  Left, Right    step back and forth through the marked pairs with their epipolar lines
  1 ... 9        show pair 1 ... 9 (also writes a snapshot, like any other key)
  E              pause both cameras and show this camera's colour edge picture
  P              pause or resume both cameras
  X              log the colours under the two markers and their difference
  any other key  write this camera's next frame to pic<id>.bmp
                 (not keys pressed with Alt, Alt itself or F10: these do nothing;
                 Alt+F4 closes the window; Ctrl+Alt and AltGr keys are ordinary keys)

With --assist the camera windows also draw the pairs as numbered rings (coloured by residual
after calibration), a status line and, on H, a help panel; and:
  left press on a ring   select its pair; drag it (3 px on) to move that point
  Shift+left click       mark a point even after calibration
  Delete, Backspace      delete the selected pair
  Escape                 drop the waiting first click
  Ctrl+Z                 undo a pair edit; Ctrl+Shift+Z or Ctrl+Y redo it
  H                      show or hide the help panel
  (no snapshot for these keys, for A, R, D, for Shift or Ctrl, or for keys held with Ctrl)

"Ball Display" window:
  Left, Right    make the squares bigger or smaller
  P              pause or resume both cameras

Closing any camera window or "Ball Display" (or Ctrl+C) ends the program and saves the
calibration and the marked pairs to cams.conf, if that file exists in the working directory.

With --assist, in the camera windows:
  Ctrl+S         export the pairs and F to epipolar-session.json and
                 epipolar-calibration.yaml in the working directory (no snapshot;
                 nor for Shift, Ctrl or any key pressed with Ctrl)
At the end, pairs and calibrations not yet exported are saved to epipolar-session.json.
"Ball Display" fits the balls' depths into the view and numbers them.
)help";
}

CommandLineResult parseCommandLine(int argc,
                                   const char* const* argv,
                                   std::ostream& out,
                                   std::ostream& err) {
  CLI::App app{
      "epipolar: mark matching points in two camera pictures, estimate the fundamental "
      "matrix, and see epipolar lines, matches and depth.\n"
      "Without options the first two capture devices are used.",
      "epipolar"};
  app.footer(bindingsHelp());
  app.set_version_flag("--version", std::string("epipolar ") + EPIPOLAR_VERSION);

  CommandLine line;
  bool useVirtual = false;
  std::vector<std::string> images;
  CLI::Option* virtualOption =
      app.add_flag("--virtual", useVirtual, "use the built-in virtual stereo rig as the cameras");
  CLI::Option* sourceOption = app.add_option(
      "--source",
      line.pipelines,
      "a GStreamer source pipeline, such as 'filesrc location=left.mp4 ! decodebin'; give it "
      "once for each camera, (0) first");
  CLI::Option* imagesOption =
      app.add_option("--images",
                     images,
                     "a still stereo pair, LEFT for (0) and RIGHT for (1), shown as two live "
                     "cameras")
          ->expected(2)
          ->type_name("FILE");
  CLI::Option* printRigOption = app.add_flag(
      "--print-rig", line.printRig, "print the virtual rig's geometry and true F and end");
  CLI::Option* listDevicesOption =
      app.add_flag("--list-devices", line.listDevices, "print the capture devices and end");
  CLI::Option* assistOption =
      app.add_flag("--assist",
                   line.options.assist,
                   "assisted mode: aids to marking, calibrating and matching (without it, the "
                   "classic program)");
  CLI::Option* pairsOption =
      app.add_option("--pairs",
                     line.options.pairsFile,
                     "with --assist: append the pairs of FILE after the start-up questions (pair "
                     "text 'x0 y0 x1 y1', a session JSON, or a cams.conf); its F is not used")
          ->type_name("FILE")
          ->needs(assistOption);
  virtualOption->excludes(sourceOption)->excludes(imagesOption);
  sourceOption->excludes(imagesOption);

  CalibrateArguments calibrateArguments;
  CLI::App* calibrateCommand = addCalibrateCommand(app, calibrateArguments);
  PairsArguments pairsArguments;
  CLI::App* pairsCommand = addPairsCommand(app, pairsArguments);
  RectifyArguments rectifyArguments;
  CLI::App* rectifyCommand = addRectifyCommand(app, rectifyArguments);
  DisparityArguments disparityArguments;
  CLI::App* disparityCommand = addDisparityCommand(app, disparityArguments);
  const std::array<CLI::App*, 4> commands{
      calibrateCommand, pairsCommand, rectifyCommand, disparityCommand};
  for (CLI::App* command : commands) {
    for (CLI::Option* option : {virtualOption,
                                sourceOption,
                                imagesOption,
                                printRigOption,
                                listDevicesOption,
                                assistOption,
                                pairsOption}) {
      command->excludes(option);
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error, out, err);
    // Scripts tell a usage error by status 2, whatever CLI11's own code; help stays 0.
    const bool inCommand = std::any_of(
        commands.begin(), commands.end(), [](CLI::App* command) { return command->parsed(); });
    if (status != 0 && inCommand) return {std::nullopt, kExitBadInput};
    return {std::nullopt, status};
  }
  if (calibrateCommand->parsed()) {
    line.calibrate = calibrateArguments;
    return {line, 0};
  }
  if (pairsCommand->parsed()) {
    line.pairsCommand = pairsArguments;
    return {line, 0};
  }
  if (rectifyCommand->parsed()) {
    line.rectifyCommand = rectifyArguments;
    return {line, 0};
  }
  if (disparityCommand->parsed()) {
    line.disparityCommand = disparityArguments;
    return {line, 0};
  }

  if (useVirtual) {
    line.source = CommandLine::Source::Virtual;
  } else if (!line.pipelines.empty()) {
    line.source = CommandLine::Source::Pipelines;
  } else if (images.size() == 2) {
    line.source = CommandLine::Source::Images;
    line.leftImage = images[0];
    line.rightImage = images[1];
  }
  return {line, 0};
}

}  // namespace epipolar
