// Fuzz target for the settings file: any bytes must load without crashing, and saving must
// reach a fixed point. Loading a file, saving it, loading and saving again gives the text of
// the first save, except that a store whose last section is empty ends in an empty line
// that the reloaded store, without that section, no longer writes. One more round must then
// change nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/ConfigFile.h"

namespace {

using epipolar::ConfigFile;

// Durability is not under test here; skipping fsync keeps the fuzzer fast.
class NoSyncOps : public epipolar::FileOps {
 public:
  int fsync(int) override { return 0; }
};

// The scratch directory, kept in static storage so that the exit handler can still use it.
char scratchDirectory[4096];

const std::string& scratchPath() {
  static const std::string path = [] {
    const std::string pattern =
        (std::filesystem::temp_directory_path() / "settings-fuzz-XXXXXX").string();
    if (pattern.size() >= sizeof scratchDirectory) std::abort();
    pattern.copy(scratchDirectory, pattern.size());
    if (::mkdtemp(scratchDirectory) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(scratchDirectory); });
    return std::string(scratchDirectory) + "/cams.conf";
  }();
  return path;
}

std::string fileContent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "settings fuzz: %s\n", what);
    std::abort();
  }
}

// Loads the file, saves it and returns the saved text.
std::string loadAndSave(const std::string& path, epipolar::FileOps& ops) {
  ConfigFile config(path, ops);
  const std::string text = config.text();
  check(config.save(), "save failed");
  check(fileContent(path) == text, "the file does not hold the saved text");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static NoSyncOps ops;
  const std::string& path = scratchPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::string first = loadAndSave(path, ops);
  const std::string second = loadAndSave(path, ops);
  check(second == first || second + "\n" == first,
        "a saved file did not load back to the same text");
  check(loadAndSave(path, ops) == second, "saving did not reach a fixed point");
  return 0;
}
