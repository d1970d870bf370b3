#include "vision/OpenCvThreads.h"

#include <mutex>
#include <opencv2/core/utility.hpp>

namespace epipolar {

bool builtWithThreadSanitizer() {
#if defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

void prepareOpenCvThreads() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (builtWithThreadSanitizer()) cv::setNumThreads(0);
  });
}

}  // namespace epipolar
