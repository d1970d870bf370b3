// The virtual rig's frames pinned byte for byte: ten seconds of both cameras with fixed noise
// seeds, and the printed rig description. The renderer may be reorganised or sped up, but a
// user's pictures, snapshots and printed calibration must not change; a changed hash says
// which camera and which second differ.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "capture/VirtualView.h"

namespace epipolar {
namespace {

// 64-bit FNV-1a, continued from `hash`.
std::uint64_t fnv1a(const std::uint8_t* bytes, std::size_t count, std::uint64_t hash) {
  for (std::size_t i = 0; i < count; ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001B3ull;
  }
  return hash;
}
constexpr std::uint64_t kFnvOffset = 0xCBF29CE484222325ull;

constexpr int kSeconds = 10;
// FNV-1a of the 30 whole frame blocks (header included) of each second: frames 30 s .. 30 s + 29
// of a view with noise seed 0x5eed0000 + camera, rendered in order at k / 30 seconds.
constexpr std::uint64_t kSecondHashes[2][kSeconds] = {
    {0xd80e3079f5a29b8full,
     0xfea234666d6c98d6ull,
     0x5d1e4a67d5313ae6ull,
     0xea8f6c1b343a82fcull,
     0xe5f05a9e4db840d8ull,
     0xb71073059ad2afaeull,
     0x679706886b91fe52ull,
     0xd36d136817e88d06ull,
     0xad016218a87c8fbcull,
     0x3d1dcb3633907457ull},
    {0xa370213ad8ab3a3bull,
     0x057dc56cb3e403fcull,
     0xd24c83d3985a98dfull,
     0x6913428390eb4d4dull,
     0x50d86f73dcc9a708ull,
     0xa55e61bae31d1f33ull,
     0x39e84299928665ffull,
     0x6e8d229315c92b06ull,
     0x0141ae0b7ee68533ull,
     0x305aa96ba70ee212ull},
};
// FNV-1a of printVirtualRig's text.
constexpr std::uint64_t kPrintedRigHash = 0x7c2e4f5fe6e3856cull;

TEST(VirtualFrames, TenSecondsOfBothCamerasAreByteIdentical) {
  const auto scene = std::make_shared<const VirtualScene>();
  for (int camera = 0; camera < VirtualScene::kCameraCount; ++camera) {
    VirtualView view(scene, camera, 0x5eed0000u + static_cast<std::uint64_t>(camera));
    for (int second = 0; second < kSeconds; ++second) {
      std::uint64_t hash = kFnvOffset;
      for (int k = 0; k < VirtualScene::kFramesPerSecond; ++k) {
        const int frame = second * VirtualScene::kFramesPerSecond + k;
        const auto image =
            view.renderFrame(static_cast<double>(frame) / VirtualScene::kFramesPerSecond);
        hash = fnv1a(image->data.get(), image->size, hash);
      }
      EXPECT_EQ(hash, kSecondHashes[camera][second])
          << "camera " << camera << ", frames " << second * VirtualScene::kFramesPerSecond << " to "
          << (second + 1) * VirtualScene::kFramesPerSecond - 1 << ": 0x" << std::hex << hash;
    }
  }
}

TEST(VirtualFrames, PrintedRigIsByteIdentical) {
  std::ostringstream out;
  printVirtualRig(out);
  const std::string text = out.str();
  const std::uint64_t hash =
      fnv1a(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), kFnvOffset);
  EXPECT_EQ(hash, kPrintedRigHash) << "0x" << std::hex << hash;
}

}  // namespace
}  // namespace epipolar
