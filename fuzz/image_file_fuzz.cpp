// Fuzz target for the picture file reader: any bytes, written to a file and read with
// loadImageFile, give either a complete Image of a size within the limit or one line of
// error text naming the file, never both, never neither, and never a crash or a hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "capture/gstreamer/ImageFile.h"

namespace {

char scratchDirectory[4096];

const std::string& scratchPath() {
  static const std::string path = [] {
    const std::string pattern =
        (std::filesystem::temp_directory_path() / "image-file-fuzz-XXXXXX").string();
    if (pattern.size() >= sizeof scratchDirectory) std::abort();
    pattern.copy(scratchDirectory, pattern.size());
    if (::mkdtemp(scratchDirectory) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(scratchDirectory); });
    return std::string(scratchDirectory) + "/picture";
  }();
  return path;
}

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "image file fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = scratchPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // Well below libFuzzer's own timeout, so that a stuck decoder shows up as a broken
  // property rather than as a timeout.
  const epipolar::ImageFileResult result = epipolar::loadImageFile(path, std::chrono::seconds(3));
  if (result.image) {
    const epipolar::Image& image = *result.image;
    check(result.error.empty(), "a picture came with an error");
    check(image.width > 0 && image.height > 0 && image.width <= epipolar::kMaxImageFileSide &&
              image.height <= epipolar::kMaxImageFileSide,
          "picture size out of range");
    check(image.size == static_cast<std::uint32_t>(epipolar::kBmpHeaderSize) +
                            static_cast<std::uint32_t>(image.stride()) * image.height,
          "block size does not match the picture");
    check(std::memcmp(image.data.get(), "BM", 2) == 0, "block without its BMP header");
  } else {
    check(result.error.starts_with("Cannot read the picture '" + path + "': "),
          "an error that does not name the file");
    check(result.error.find('\n') == std::string::npos, "an error of more than one line");
  }
  return 0;
}
