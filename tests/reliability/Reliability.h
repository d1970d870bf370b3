// Helpers shared by the reliability tests: a scratch directory per test, whole-file reads and
// writes, the peak resident memory of the process, and the switch between the short counts
// that CI runs and the full counts of the documented long run.
//
// Long run: EPIPOLAR_FULL_RUNS=1 in the environment (see docs/reliability.md).
// Threads: the test's own thread only.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace epipolar::reliability {

// True when the full counts were asked for.
inline bool fullRuns() {
  const char* value = std::getenv("EPIPOLAR_FULL_RUNS");
  return value != nullptr && value[0] != '\0' && value[0] != '0';
}

// `full` in the long run, `shortened` otherwise.
inline long count(long shortened, long full) { return fullRuns() ? full : shortened; }

// A fresh directory, removed with everything in it when the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const char* name = "epipolar-reliability") {
    std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Resets the peak resident set size of this process to the current one (Linux
// /proc/self/clear_refs); false when the kernel does not offer that.
inline bool resetPeakMemory() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

// A line of /proc/self/status in kilobytes ("VmHWM" peak, "VmRSS" current); -1 if missing.
inline long statusKilobytes(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return -1;
}

}  // namespace epipolar::reliability
