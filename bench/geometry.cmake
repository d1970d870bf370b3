# Fundamental-matrix estimation: cost per RANSAC run against the bare GSL decompositions, and
# accuracy on the real scenes in ../shared/data when present.
epipolar_bench(fundamental_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fundamental_bench.cpp
  LIBS epipolar_geometry GSL::gsl)
target_compile_definitions(fundamental_bench PRIVATE EPIPOLAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# The accurate estimator against OpenCV's findFundamentalMat (USAC_ACCURATE, USAC_MAGSAC) on the
# shared scenes, and its refinement against GSL's nonlinear least squares. OpenCV is a
# benchmark-only dependency here.
epipolar_bench(accurate_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/accurate_bench.cpp
  LIBS epipolar_geometry OpenCV::calib3d GSL::gsl)
target_compile_definitions(accurate_bench PRIVATE EPIPOLAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
