# Edge picture (fast against the reference version) and the settings store (load and save of a
# 10,000-key file against plain reads and writes of the same bytes).
epipolar_bench(edge_picture_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/edge_picture_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/ratio_reporter.cpp
  LIBS epipolar_imaging)
epipolar_bench(settings_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/ratio_reporter.cpp
  LIBS epipolar_settings)
