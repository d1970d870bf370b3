// The epipolar program: parses the command line, then runs a subcommand, or picks the camera
// list and runs the windows.
#include <iostream>
#include <memory>

#include "app/CommandLine.h"
#include "app/Run.h"
#include "capture/VirtualRig.h"
#include "capture/VirtualScene.h"
#include "capture/gstreamer/GstCameraLists.h"

int main(int argc, char** argv) {
  using namespace epipolar;
  const CommandLineResult parsed = parseCommandLine(argc, argv, std::cout, std::cerr);
  if (!parsed.options) return parsed.exitStatus;
  const CommandLine& line = *parsed.options;
  if (line.calibrate) return runCalibrateCommand(*line.calibrate, std::cin, std::cout, std::cerr);
  if (line.pairsCommand) return runPairsCommand(*line.pairsCommand, std::cout, std::cerr);
  if (line.rectifyCommand) return runRectifyCommand(*line.rectifyCommand, std::cout, std::cerr);
  if (line.disparityCommand) {
    return runDisparityCommand(*line.disparityCommand, std::cout, std::cerr);
  }

  if (line.printRig || line.listDevices) {
    if (line.printRig) printVirtualRig(std::cout);
    if (line.listDevices) printDeviceList(std::cout);
    return 0;
  }

  // Start-up builds the list first; it lives to the end of the process.
  std::unique_ptr<CameraList> cameras;
  switch (line.source) {
    case CommandLine::Source::Devices:
      cameras = openDeviceCameraList();
      break;
    case CommandLine::Source::Virtual:
      cameras = std::make_unique<VirtualRigList>();
      break;
    case CommandLine::Source::Pipelines:
      cameras = openPipelineCameraList(line.pipelines);
      break;
    case CommandLine::Source::Images:
      cameras = openStillPairCameraList(line.leftImage, line.rightImage);
      break;
  }
  return runEpipolar(*cameras, line.options);
}
