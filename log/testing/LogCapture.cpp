#include "log/testing/LogCapture.h"

namespace epipolar::testing {

LogCapture::LogCapture() {
  previous_ = setLogSink([this](std::string_view unit) {
    std::lock_guard<std::mutex> lock(mutex_);
    units_.emplace_back(unit);
  });
}

LogCapture::~LogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::units() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return units_;
}

std::string LogCapture::text() const {
  std::string all;
  for (const std::string& unit : units()) all += unit;
  return all;
}

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> result = units();
  for (std::string& line : result) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
  }
  return result;
}

bool LogCapture::contains(const std::string& needle) const {
  for (const std::string& unit : units()) {
    if (unit.find(needle) != std::string::npos) return true;
  }
  return false;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  units_.clear();
}

}  // namespace epipolar::testing
