# The frame path of two GStreamer camera streams (delivery, and delivery into painted frame
# windows) against a bare conversion pipeline: CPU per frame, resident growth, paint latency.
# Run: capture_bench [--capture_seconds=60]
epipolar_bench(capture_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/capture_bench.cpp
  LIBS epipolar_capture_gst epipolar_ui epipolar_platform)
