// Test helper: while alive, collects every flushed log unit instead of writing it to
// standard error. Safe with several logging threads.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "log/DebugStream.h"

namespace epipolar::testing {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Every unit flushed so far, in order.
  std::vector<std::string> units() const;
  // All units joined.
  std::string text() const;
  // Units with their trailing line feed removed; convenient for line-by-line checks.
  std::vector<std::string> lines() const;
  // True if some unit contains `needle`.
  bool contains(const std::string& needle) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> units_;
  LogSink previous_;
};

}  // namespace epipolar::testing
