// The process-wide diagnostic log stream, and the one rule for standard error.
//
// Standard error carries two kinds of text, each written one way:
//   - The log: the program's diagnostic lines ("Total count: 2", "Run 5: Error: ...", the
//     calibration's lines and every other line the program logs as it works). Written with
//     logLine(parts...) and nothing else; the log sink (standard error by default, a capture
//     in tests) receives each line as one unit.
//   - Plain messages for the user: a failure the user has to act on that is not a log line
//     (settings that cannot be written, a capture device's error, a snapshot not saved, the
//     hint to run with --virtual). Written with reportError(text): one line, one write(2),
//     straight to file descriptor 2, never through the log sink.
// The command line's help and usage errors, and a subcommand's own messages and result, go
// to the streams main hands the parser and the subcommand (app/CommandLine.h,
// app/CalibrateCommand.h), so tests can read them; a subcommand's log lines still go through
// logLine.
//
// logLine streams its arguments into the calling thread's stream, ends the line and flushes:
//
//   logLine("Total count: ", n);
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
// Integers are written in decimal and doubles in the default format (six significant digits),
// vectors as "<a, b, c>" and colours as "(h, s, v)" by their own operator<<; no writer changes
// the format flags or precision.
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
// thread's own std::ostream, so chained insertions continue on a real ostream. The program
// writes its lines with logLine below; the stream itself is for code that tests the log.
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

// Writes one log line: `parts` streamed in order into the calling thread's stream, then a
// line feed, then the flush that hands the line to the sink as one unit.
template <typename... Parts>
void logLine(const Parts&... parts) {
  std::ostream& out = threadDebugStream();
  (out << ... << parts);
  out.put('\n');
  out.flush();
}

// Writes `text` to standard error as one line with one write(2): its line breaks become
// blanks and a line feed is added. For plain messages to the user, never for log lines.
void reportError(std::string_view text);

// `text` with every line feed and carriage return made a blank: a message that stays one line
// whatever a file name or a library's detail text holds.
std::string singleLine(std::string_view text);

// GSL error handler: logs "ERROR: " reason " " file ":" line "(" gsl_errno ")" and returns,
// so GSL hands its error code back to the caller instead of aborting the process.
void logGslError(const char* reason, const char* file, int line, int gsl_errno);

// Installs logGslError as GSL's error handler.
void installGslErrorHandler();

}  // namespace epipolar
