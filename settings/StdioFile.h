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
// Writing: `replaceContent` swaps the whole content for a new text with the careful save of
// fileio/SaveFile.h (fsync'ed, never creating a missing file): normally a temporary file renamed
// over the path, so that a crash, a kill or a full disk leaves either the old or the new
// content; the file is rewritten in place instead where a rename would lose its identity (a
// symbolic link, a second hard link, an owner, group, ACL or extended attribute that the new file
// could not be given) or where no temporary file can be created. The in-place rewrite goes
// through the open stream's descriptor when that is still the file at the path, so a file made
// read-only after it was opened can still be saved; when it fails part-way the old bytes are
// written back. After a rename the stream continues on the new file, so later saves and reads
// see the saved content. A file deleted while open is neither written nor created again
// (ENOENT). Every failure leaves the old content and returns false with errno describing the
// cause.
//
// The system calls that can fail on purpose in tests go through a `FileOps` object.
//
// Threads: a file is used by one thread at a time; no locks.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "fileio/FileOps.h"

namespace epipolar {

// Lines longer than this (in bytes, line end included) are dropped when read.
inline constexpr std::size_t kMaxLineLength = 1 << 20;

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
  std::string path_;
  std::string mode_;
  std::FILE* stream_ = nullptr;
  FileOps& ops_;
  int openError_ = 0;
  bool readFailed_ = false;
  std::size_t longLines_ = 0;
};

}  // namespace epipolar
