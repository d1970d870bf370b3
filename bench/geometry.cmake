# Fundamental-matrix estimation: cost per RANSAC run against the bare GSL decompositions, and
# accuracy on the real scenes in ../shared/data when present.
epipolar_bench(fundamental_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fundamental_bench.cpp
  LIBS epipolar_geometry GSL::gsl)
target_compile_definitions(fundamental_bench PRIVATE EPIPOLAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
