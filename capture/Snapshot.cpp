#include "capture/Snapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "log/DebugStream.h"

namespace epipolar {

std::string snapshotFileName(int cameraId) {
  char name[32];
  std::snprintf(name, sizeof name, "pic%i.bmp", cameraId);
  return name;
}

bool writeFileReplacing(const std::string& path,
                        const std::uint8_t* bytes,
                        std::size_t size,
                        std::string& error) {
  const std::string temporary = path + ".part";
  // Created as fopen(path, "wb") would: mode 0666 less the umask.
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = writeAll(fd, std::string_view(reinterpret_cast<const char*>(bytes), size));
  if (!ok) error = std::strerror(errno);
  // close() reports delayed write errors (full disk on some file systems).
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = std::strerror(errno);
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    error = std::strerror(errno);
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

bool Snapshot::writeIfRequested(const std::uint8_t* block, std::size_t size, int cameraId) {
  if (!requested_.load(std::memory_order_relaxed)) return false;
  // Taking the request before writing means several requests make one file, and a request
  // that arrives during the write asks for a newer frame.
  if (!requested_.exchange(false, std::memory_order_relaxed)) return false;

  const std::string name = snapshotFileName(cameraId);
  DebugStream << "Writing image " << name;
  DebugStream.put('\n');
  DebugStream.flush();

  std::string error;
  if (writeFileReplacing(name, block, size, error)) return true;
  writeAll(STDERR_FILENO, "Could not write snapshot " + name + ": " + error + "\n");
  return false;
}

}  // namespace epipolar
