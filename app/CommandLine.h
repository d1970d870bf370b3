// The program's command line.
//
// With no arguments the program uses the capture devices that the system lists. The options
// choose another frame source or print information and end:
//   --virtual               the built-in virtual stereo rig
//   --source PIPELINE       a GStreamer source description; give it once per camera
//   --images LEFT RIGHT     a still stereo pair shown as two live cameras
//   --print-rig             print the virtual rig's geometry and true F, then end
//   --list-devices          print the capture devices, then end
//   --version, --help       print and end; --help also lists every mouse button and key
// and the options of the run itself (ui/Options.h), which main hands to runEpipolar:
//   --assist                the assisted mode
//   --pairs FILE            with --assist: pairs to append at start
// A subcommand runs instead of the program's windows and takes none of the options above:
//   calibrate PAIRS ...     the fundamental matrix of a pairs file (app/CalibrateCommand.h)
//   pairs LEFT RIGHT ...    automatic pairs of two pictures (app/VisionCommands.h)
//   rectify LEFT RIGHT ...  rectification of two pictures by a calibration
//   disparity LEFT RIGHT .. the disparity map of two pictures
// and a subcommand's usage errors end with status 2
//
// Parsing never ends the process: the caller gets either the options or the exit status,
// with anything to print already written to the given streams.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/CalibrateCommand.h"
#include "app/VisionCommands.h"
#include "ui/Options.h"

namespace epipolar {

struct CommandLine {
  enum class Source { Devices, Virtual, Pipelines, Images };

  Source source = Source::Devices;
  std::vector<std::string> pipelines;  // Source::Pipelines, in camera order
  std::string leftImage;               // Source::Images
  std::string rightImage;
  bool printRig = false;
  bool listDevices = false;
  // Handed down once to the run: main -> runEpipolar -> StereoApp -> windows.
  Options options;
  // Set when the command line names the calibrate subcommand: main runs it and no window.
  std::optional<CalibrateArguments> calibrate;
  // Likewise for the picture subcommands.
  std::optional<PairsArguments> pairsCommand;
  std::optional<RectifyArguments> rectifyCommand;
  std::optional<DisparityArguments> disparityCommand;
};

struct CommandLineResult {
  std::optional<CommandLine> options;  // empty: end the program with `exitStatus`
  int exitStatus = 0;
};

// The text of the mouse and key bindings that --help prints after the options.
const char* bindingsHelp();

// Parses argv. --help and --version write to `out` and give status 0; a usage error writes
// the reason and a hint to `err` and gives a non-zero status.
CommandLineResult parseCommandLine(int argc,
                                   const char* const* argv,
                                   std::ostream& out,
                                   std::ostream& err);

}  // namespace epipolar
