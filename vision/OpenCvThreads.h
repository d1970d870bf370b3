// How OpenCV runs its parallel loops in this process.
//
// Debian's OpenCV 4.6 runs cv::parallel_for_ through TBB, whose thread pool ThreadSanitizer
// cannot see into: every parallel OpenCV call would be reported as a race. Under
// ThreadSanitizer, prepareOpenCvThreads() makes OpenCV run its loops on the calling thread
// (cv::setNumThreads(0)); in every other build it leaves OpenCV's own thread pool alone, which
// the speed figures of vision/ rely on.
//
// Threads: call it once before the first OpenCV work, from any thread (tests call it in
// their set-up; the program at start-up). Later calls do nothing more.
#pragma once

namespace epipolar {

// True when this build runs under ThreadSanitizer.
bool builtWithThreadSanitizer();

void prepareOpenCvThreads();

}  // namespace epipolar
