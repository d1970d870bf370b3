# The ZNCC match search and the precise clicks: speed against OpenCV's matchTemplate and
# cornerSubPix (and the described search), and accuracy on real pictures and on the rig.
epipolar_bench(zncc_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/zncc_bench.cpp
  LIBS epipolar_geometry epipolar_capture epipolar_log OpenCV::imgproc)
epipolar_bench(zncc_accuracy_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/zncc_accuracy_bench.cpp
  LIBS epipolar_geometry epipolar_capture epipolar_capture_gst)
target_compile_definitions(zncc_accuracy_bench PRIVATE EPIPOLAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
