// Buffered stdio file access for the settings store, and the crash-safe way it rewrites a
// file.
//
// `File` is the abstract interface the store talks to; `StdioFile` implements it over one
// stdio stream. The store only needs construction, `atEnd`, `readLine`, `writable` and
// `replaceContent`; the other operations are the usual thin stream wrappers.
//
// Reading: `readLine` gives one line that always ends in a line feed. Carriage returns before
// the line feed (a file edited on another system) are dropped, as are carriage returns that
// end the file; so a text ending in a carriage return never reads back unchanged. NUL bytes are
// ordinary bytes. A line longer than kMaxLineLength bytes is read to its end but not kept:
// `readLine` then returns a lone line feed and `longLines` counts it, so a single huge line cannot
// exhaust memory. A read error ends reading as the end of the file would (`atEnd` turns true) and
// sets `readFailed`.
//
// Writing: `replaceContent` swaps the whole file for a new text so that a crash, a kill or a
// full disk leaves either the old or the new content, never a mix:
//   1. the path is resolved through symbolic links to the real file;
//   2. the new text goes to "<real file>.saving" beside it (a left-over file of that name is
//      removed first), created with the real file's mode, then flushed and fsync'ed;
//   3. it is renamed over the real file and the directory is fsync'ed; the stream then
//      continues on the new file, so later saves and reads see the saved content.
// When that temporary file cannot be created (for example a writable file in a read-only
// directory), the text is written through the open stream from byte 0, the file is cut to the
// new length and fsync'ed; if that fails part-way the old bytes are written back (this path
// cannot survive a crash in the middle, which is why it is only the fallback). A file deleted
// while open is neither written nor created again (ENOENT). Every failure leaves the old
// content and returns false with errno describing the cause.
//
// The system calls that can fail on purpose in tests (creating the temporary file, write,
// fsync, rename, ftruncate) go through a `FileOps` object.
//
// Threads: a file is used by one thread at a time; no locks.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace epipolar {

// Lines longer than this (in bytes, line end included) are dropped when read.
inline constexpr std::size_t kMaxLineLength = 1 << 20;

// The system calls of the save path. The default implementation calls the system; tests
// derive from it to inject failures. Each returns what the system call returns and sets errno.
class FileOps {
 public:
  virtual ~FileOps() = default;
  virtual int open(const char* path, int flags, mode_t mode);
  virtual ssize_t write(int fd, const void* data, std::size_t length);
  virtual int fsync(int fd);
  virtual int rename(const char* from, const char* to);
  virtual int ftruncate(int fd, off_t length);

  // The process-wide instance that only calls the system.
  static FileOps& system();
};

// The abstract file interface of the settings store.
class File {
 public:
  virtual ~File() = default;
  // Reads one item of `length` bytes; the number of whole items read, -1 when not open.
  virtual int read(void* buffer, std::size_t length) = 0;
  // Writes one item of `length` bytes; the number of items written, -1 when not open.
  virtual int write(const void* data, std::size_t length) = 0;
  virtual void seek(long offset, int origin) = 0;
  virtual void close() = 0;
  virtual void flush() = 0;
  // True at end of file, after a read error, and when no stream is open.
  virtual bool atEnd() const = 0;
  virtual std::string readLine() = 0;
  // With keep != 0 returns keep; otherwise deletes the file and reopens it, returning 1 when
  // that gave a stream.
  virtual int reset(int keep) = 0;

  // True when a stream is open for update, so that the content may be replaced.
  virtual bool writable() const = 0;
  // True when a read failed with an error (not the end of the file).
  virtual bool readFailed() const = 0;
  // Lines dropped by readLine for being longer than kMaxLineLength.
  virtual std::size_t longLines() const = 0;
  // Replaces the whole content crash-safely (see the top of this file). False, with errno
  // set and the old content kept, on failure or when the file is not writable.
  virtual bool replaceContent(std::string_view text) = 0;
  // The path the file was opened with.
  virtual const std::string& path() const = 0;
};

class StdioFile : public File {
 public:
  // Opens `path` with the stdio `mode`; a failure leaves no stream open and keeps the errno
  // in openError(). Nothing is reported.
  StdioFile(std::string path, std::string mode, FileOps& ops = FileOps::system());
  ~StdioFile() override;
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  int read(void* buffer, std::size_t length) override;
  int write(const void* data, std::size_t length) override;
  void seek(long offset, int origin) override;
  void close() override;
  void flush() override;
  bool atEnd() const override;
  std::string readLine() override;
  int reset(int keep) override;

  bool writable() const override;
  bool readFailed() const override { return readFailed_; }
  std::size_t longLines() const override { return longLines_; }
  bool replaceContent(std::string_view text) override;
  const std::string& path() const override { return path_; }

  // Closes any open stream and opens `path` with `mode`; true when a stream was obtained.
  bool open(const std::string& path, const std::string& mode);

  bool isOpen() const { return stream_ != nullptr; }
  // errno of the last failed open, 0 after a successful one.
  int openError() const { return openError_; }
  const std::string& mode() const { return mode_; }

 private:
  bool replaceThroughTemporary(const std::string& target, std::string_view text);
  bool rewriteInPlace(std::string_view text);
  bool writeAllTo(int fd, std::string_view text);

  std::string path_;
  std::string mode_;
  std::FILE* stream_ = nullptr;
  FileOps& ops_;
  int openError_ = 0;
  bool readFailed_ = false;
  std::size_t longLines_ = 0;
};

}  // namespace epipolar
