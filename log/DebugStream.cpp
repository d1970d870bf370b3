#include "log/DebugStream.h"

#include <gsl/gsl_errno.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <mutex>

namespace epipolar {
namespace {

// The sink is read on every flush from any thread, so it lives behind a mutex. The default
// (empty) sink means standard error.
// Both are leaked on purpose: threads may still log while static objects are destroyed.
std::mutex& sinkMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

LogSink& sinkSlot() {
  static auto* sink = new LogSink;
  return *sink;
}

void emit(std::string_view unit) {
  std::lock_guard<std::mutex> lock(sinkMutex());
  LogSink& sink = sinkSlot();
  if (sink) {
    sink(unit);
  } else {
    writeAll(STDERR_FILENO, unit);
  }
}

// A writer to a closed pipe on standard error must never kill the process and lose the
// calibration, so SIGPIPE is ignored as soon as the log library is loaded.
const bool sigpipeIgnored = [] {
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();

struct ThreadStream {
  DebugStringBuf buffer;
  std::ostream stream{&buffer};
};

}  // namespace

LogSink setLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex());
  LogSink previous = std::move(sinkSlot());
  sinkSlot() = std::move(sink);
  return previous;
}

bool writeAll(int fd, std::string_view text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

DebugStringBuf::DebugStringBuf() : std::stringbuf(std::ios::in | std::ios::out) {}

// Pending text goes out exactly once; a thread that flushed everything adds no empty unit.
DebugStringBuf::~DebugStringBuf() {
  if (pptr() != pbase()) sync();
}

int DebugStringBuf::sync() {
  const std::string text = str();
  str(std::string());
  emit(text);
  return 0;
}

std::ostream& threadDebugStream() {
  (void)sigpipeIgnored;
  thread_local ThreadStream threadStream;
  return threadStream.stream;
}

void reportError(std::string_view text) {
  std::string line = singleLine(text);
  line.push_back('\n');
  writeAll(STDERR_FILENO, line);
}

std::string singleLine(std::string_view text) {
  std::string line(text);
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return line;
}

void logGslError(const char* reason, const char* file, int line, int gsl_errno) {
  logLine("ERROR: ", reason ? reason : "", " ", file ? file : "", ":", line, "(", gsl_errno, ")");
}

void installGslErrorHandler() { gsl_set_error_handler(&logGslError); }

}  // namespace epipolar
