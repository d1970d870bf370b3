#include "fileio/FileOps.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>

namespace epipolar {

int FileOps::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileOps::write(int fd, const void* data, std::size_t length) {
  return ::write(fd, data, length);
}
int FileOps::fsync(int fd) { return ::fsync(fd); }
int FileOps::rename(const char* from, const char* to) { return std::rename(from, to); }
int FileOps::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int FileOps::fsetxattr(int fd, const char* name, const void* value, std::size_t size, int flags) {
  return ::fsetxattr(fd, name, value, size, flags);
}

FileOps& FileOps::system() {
  static FileOps ops;
  return ops;
}

}  // namespace epipolar
