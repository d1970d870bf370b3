#include "settings/StdioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace epipolar {

int FileOps::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileOps::write(int fd, const void* data, std::size_t length) {
  return ::write(fd, data, length);
}
int FileOps::fsync(int fd) { return ::fsync(fd); }
int FileOps::rename(const char* from, const char* to) { return ::rename(from, to); }
int FileOps::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }

FileOps& FileOps::system() {
  static FileOps ops;
  return ops;
}

StdioFile::StdioFile(std::string path, std::string mode, FileOps& ops) : ops_(ops) {
  open(path, mode);
}

StdioFile::~StdioFile() { close(); }

int StdioFile::read(void* buffer, std::size_t length) {
  if (stream_ == nullptr) return -1;
  return static_cast<int>(std::fread(buffer, length, 1, stream_));
}

int StdioFile::write(const void* data, std::size_t length) {
  if (stream_ == nullptr) return -1;
  if (length == 0) return 0;
  return static_cast<int>(std::fwrite(data, length, 1, stream_));
}

void StdioFile::seek(long offset, int origin) {
  if (stream_ != nullptr) std::fseek(stream_, offset, origin);
}

void StdioFile::close() {
  flush();
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
}

void StdioFile::flush() {
  if (stream_ != nullptr) std::fflush(stream_);
}

bool StdioFile::atEnd() const {
  return stream_ == nullptr || std::feof(stream_) != 0 || std::ferror(stream_) != 0;
}

std::string StdioFile::readLine() {
  if (stream_ == nullptr) return std::string();
  std::string line;
  for (;;) {
    line.clear();
    bool tooLong = false;
    int c;
    while ((c = getc_unlocked(stream_)) != EOF) {
      if (!tooLong) {
        if (line.size() < kMaxLineLength) {
          line.push_back(static_cast<char>(c));
        } else {
          tooLong = true;
          std::string().swap(line);
        }
      }
      if (c == '\n') break;
    }
    if (c == EOF && std::ferror(stream_) != 0) readFailed_ = true;
    if (!tooLong) break;
    // Skip the whole over-long line as if it were not there.
    ++longLines_;
    if (c == EOF) break;
  }
  // The line end: "\n" or nothing at the end of the file, with any carriage returns before it.
  if (!line.empty() && line.back() == '\n') line.pop_back();
  while (!line.empty() && line.back() == '\r') line.pop_back();
  line.push_back('\n');
  return line;
}

int StdioFile::reset(int keep) {
  if (keep != 0) return keep;
  close();
  ::unlink(path_.c_str());
  const std::string path = path_;
  const std::string mode = mode_;
  return open(path, mode) ? 1 : 0;
}

bool StdioFile::open(const std::string& path, const std::string& mode) {
  close();
  path_ = path;
  mode_ = mode;
  readFailed_ = false;
  longLines_ = 0;
  // "e": the descriptor is not inherited by child processes.
  stream_ = std::fopen(path_.c_str(), (mode_ + "e").c_str());
  openError_ = stream_ == nullptr ? errno : 0;
  return stream_ != nullptr;
}

bool StdioFile::writable() const {
  return stream_ != nullptr && mode_.find_first_of("+wa") != std::string::npos;
}

bool StdioFile::writeAllTo(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ops_.write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool StdioFile::replaceContent(std::string_view text) {
  if (!writable()) {
    errno = EBADF;
    return false;
  }
  if (std::fflush(stream_) != 0) return false;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path_.c_str(), nullptr), &std::free);
  struct stat status;
  if (real != nullptr && ::stat(real.get(), &status) == 0 && S_ISREG(status.st_mode)) {
    const std::string target(real.get());
    const std::string temporary = target + ".saving";
    ::unlink(temporary.c_str());  // left over from a save that was cut short
    const int fd =
        ops_.open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 07777);
    if (fd >= 0) {
      // Keep the owner and mode of the file being replaced (open applied the umask).
      if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
        // Only the owner or root may change it; a file of our own needs no change.
      }
      ::fchmod(fd, status.st_mode & 07777);
      if (!writeAllTo(fd, text) || ops_.fsync(fd) != 0 ||
          ops_.rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        errno = error;
        return false;
      }
      // Make the rename itself durable.
      const std::string directory = target.substr(0, target.find_last_of('/') + 1);
      const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (directoryFd >= 0) {
        ops_.fsync(directoryFd);
        ::close(directoryFd);
      }
      // Continue on the new file: the old stream refers to the replaced one.
      std::FILE* fresh = ::fdopen(fd, "r+");
      if (fresh != nullptr) {
        std::fclose(stream_);
        stream_ = fresh;
        std::rewind(stream_);
      } else {
        ::close(fd);
        const std::string path = path_;
        const std::string mode = mode_;
        open(path, mode);
      }
      return true;
    }
  }
  return rewriteInPlace(text);
}

bool StdioFile::rewriteInPlace(std::string_view text) {
  const int fd = ::fileno(stream_);
  struct stat status;
  if (::fstat(fd, &status) != 0) return false;
  if (status.st_nlink == 0) {
    // The file was deleted while open: writing into it would keep nothing.
    errno = ENOENT;
    return false;
  }
  const bool regular = S_ISREG(status.st_mode);
  // Keep the old bytes, to write them back if the rewrite fails part-way.
  std::string old;
  if (regular) {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(old.size()));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) break;
      old.append(buffer, static_cast<std::size_t>(got));
    }
  }
  auto put = [&](std::string_view content) {
    if (::lseek(fd, 0, SEEK_SET) < 0 && regular) return false;
    if (!writeAllTo(fd, content)) return false;
    if (regular && ops_.ftruncate(fd, static_cast<off_t>(content.size())) != 0) return false;
    return ops_.fsync(fd) == 0 || !regular;
  };
  const bool saved = put(text);
  if (!saved) {
    const int error = errno;
    if (regular) put(old);
    errno = error;
  }
  std::fseek(stream_, 0, SEEK_SET);
  return saved;
}

}  // namespace epipolar
