// Test helper: writes one frame pair of the virtual rig (time 0, the noise seeds of the vision
// tests) as LEFT.png and RIGHT.png, so the picture subcommands can be run on files.
// Usage: epipolar_rig_pictures LEFT.png RIGHT.png; exit status 0, or 1 with a message.
#include <iostream>
#include <memory>
#include <string>

#include "capture/VirtualScene.h"
#include "capture/VirtualView.h"
#include "capture/gstreamer/PngFile.h"

int main(int argc, char** argv) {
  using namespace epipolar;
  if (argc != 3) {
    std::cerr << "usage: epipolar_rig_pictures LEFT.png RIGHT.png\n";
    return 1;
  }
  const auto scene = std::make_shared<const VirtualScene>();
  for (int index = 0; index < 2; ++index) {
    VirtualView view(scene, index, 11 + static_cast<std::uint64_t>(index));
    const std::unique_ptr<Image> frame = view.renderFrame(0.0);
    std::string error;
    if (!writePngFile(argv[1 + index], *frame, error)) {
      std::cerr << error << '\n';
      return 1;
    }
  }
  return 0;
}
