# CPU cost per frame of the GStreamer delivery path against a bare conversion pipeline.
# Run: capture_bench [--capture_seconds=10]
epipolar_bench(capture_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/capture_bench.cpp
  LIBS epipolar_capture_gst)
