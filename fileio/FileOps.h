// The system calls of the careful save (fileio/SaveFile.h) that can fail on purpose in tests.
//
// The default implementation calls the system; tests derive from it to inject failures (a full
// disk, a refused temporary file, an attribute that cannot be copied). Each member returns what
// the system call returns and sets errno as it does.
//
// Threads: the system instance holds no state and may be used from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace epipolar {

class FileOps {
 public:
  virtual ~FileOps() = default;
  // Only temporary files are created through this; the file being saved is opened directly.
  virtual int open(const char* path, int flags, mode_t mode);
  virtual ssize_t write(int fd, const void* data, std::size_t length);
  virtual int fsync(int fd);
  virtual int rename(const char* from, const char* to);
  virtual int ftruncate(int fd, off_t length);
  // Copies one extended attribute (an ACL among them) onto a temporary file.
  virtual int fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags);

  // The process-wide instance that only calls the system.
  static FileOps& system();
};

}  // namespace epipolar
