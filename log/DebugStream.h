// The process-wide diagnostic log stream.
//
// Writers build a line with ordinary stream insertions, then put('\n') and flush():
//
//   DebugStream << "Total count: " << n;
//   DebugStream.put('\n');
//   DebugStream.flush();
//
// Each flush hands everything written since the previous flush *by the same thread* to the
// log sink as one unit. The default sink is standard error, written with a single write(2)
// per unit (short and interrupted writes are finished). Text left unflushed when a thread
// ends, or when the process exits, is sent once by the buffer's destructor.
//
// Threads: every thread gets its own stream and buffer behind the one `DebugStream` name,
// so formatting state and partial lines are never shared and a line is never torn. This is
// what makes logging from capture threads race-free; the standard streams take no lock.
//
// Integers are written in decimal and doubles in the default format (six significant digits);
// no writer changes the format flags or precision.
#pragma once

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace epipolar {

// Receives one flushed unit of log text. Called from whichever thread flushed.
using LogSink = std::function<void(std::string_view unit)>;

// Replaces the log sink; an empty function restores standard error. Returns the previous
// sink. Safe to call from any thread; units being written concurrently go to one sink or
// the other, never half to each.
LogSink setLogSink(LogSink sink);

// Writes `text` to file descriptor `fd` with one write(2) where possible, finishing short
// and EINTR-interrupted writes. Returns false on any other error. SIGPIPE is ignored by the
// log library, so a closed pipe gives an error here rather than ending the process.
bool writeAll(int fd, std::string_view text);

// A string buffer whose sync() sends the gathered text to the log sink as one unit and
// empties itself. Sync never fails.
class DebugStringBuf : public std::stringbuf {
 public:
  DebugStringBuf();
  ~DebugStringBuf() override;

 protected:
  int sync() override;
};

// The calling thread's log stream.
std::ostream& threadDebugStream();

// Stand-in object for the one process-wide stream: every operation forwards to the calling
// thread's own std::ostream, so chained insertions continue on a real ostream.
class DebugStreamHandle {
 public:
  template <typename T>
  std::ostream& operator<<(const T& value) const {
    return threadDebugStream() << value;
  }
  std::ostream& operator<<(std::ostream& (*manipulator)(std::ostream&)) const {
    return threadDebugStream() << manipulator;
  }
  std::ostream& put(char c) const { return threadDebugStream().put(c); }
  std::ostream& flush() const { return threadDebugStream().flush(); }
  std::ostream& stream() const { return threadDebugStream(); }
};

inline constexpr DebugStreamHandle DebugStream{};

// Writes `DebugStream` line and flushes: the writer convention in one call, for code that
// logs a ready-made string.
void logLine(std::string_view text);

// GSL error handler: logs "ERROR: " reason " " file ":" line "(" gsl_errno ")" and returns,
// so GSL hands its error code back to the caller instead of aborting the process.
void logGslError(const char* reason, const char* file, int line, int gsl_errno);

// Installs logGslError as GSL's error handler.
void installGslErrorHandler();

}  // namespace epipolar
