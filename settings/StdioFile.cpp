#include "settings/StdioFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fileio/SaveFile.h"

namespace epipolar {

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

bool StdioFile::replaceContent(std::string_view text) {
  if (!writable()) {
    errno = EBADF;
    return false;
  }
  if (std::fflush(stream_) != 0) return false;
  SaveOptions options;
  options.create = false;
  options.openDescriptor = ::fileno(stream_);
  options.ops = &ops_;
  const bool saved = saveFile(path_, text, Sync::kYes, options);
  const int error = errno;
  // After a rename the stream still refers to the replaced file: continue on the new one. If
  // it cannot be opened, the old stream stays; a later save still goes to the path.
  struct stat held, named;
  if (saved && ::fstat(::fileno(stream_), &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
      (held.st_dev != named.st_dev || held.st_ino != named.st_ino)) {
    std::FILE* fresh = std::fopen(path_.c_str(), (mode_ + "e").c_str());
    if (fresh != nullptr) {
      std::fclose(stream_);
      stream_ = fresh;
    }
  }
  std::fseek(stream_, 0, SEEK_SET);
  errno = error;
  return saved;
}

}  // namespace epipolar
