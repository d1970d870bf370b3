# vision/: automatic pairs, rectification and disparity on the virtual rig against plain OpenCV
# pipelines measured in the same run, and rectification on the real scenes in ../shared/data
# (skipped with a message when absent).
epipolar_bench(vision_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/vision_bench.cpp
  LIBS epipolar_vision epipolar_capture epipolar_capture_gst OpenCV::core OpenCV::imgproc OpenCV::features2d
       OpenCV::calib3d)
target_compile_definitions(vision_bench PRIVATE EPIPOLAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
