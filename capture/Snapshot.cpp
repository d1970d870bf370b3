#include "capture/Snapshot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "fileio/SaveFile.h"
#include "log/DebugStream.h"

namespace epipolar {

std::string snapshotFileName(int cameraId) {
  char name[32];
  std::snprintf(name, sizeof name, "pic%i.bmp", cameraId);
  return name;
}

bool Snapshot::writeIfRequested(const std::uint8_t* block, std::size_t size, int cameraId) {
  if (!requested_.load(std::memory_order_relaxed)) return false;
  // Taking the request before writing means several requests make one file, and a request
  // that arrives during the write asks for a newer frame.
  if (!requested_.exchange(false, std::memory_order_relaxed)) return false;

  const std::string name = snapshotFileName(cameraId);
  logLine("Writing image ", name);

  if (saveFile(name, std::string_view(reinterpret_cast<const char*>(block), size), Sync::kNo)) {
    return true;
  }
  reportError("Could not write snapshot " + name + ": " + std::strerror(errno));
  return false;
}

}  // namespace epipolar
