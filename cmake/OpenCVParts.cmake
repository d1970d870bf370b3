# OpenCV 4.6 from Debian's per-module packages (libopencv-calib3d-dev and the -dev packages it
# depends on). Their CMake package configuration ships only in the libopencv-dev meta package,
# which pulls in every module, so the four modules used here are found directly and given
# imported targets OpenCV::core, OpenCV::imgproc, OpenCV::features2d and OpenCV::calib3d.
# Only vision/ (the product) and bench/ (baselines) link them.
find_path(EPIPOLAR_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)

function(epipolar_opencv_module module)
  find_library(EPIPOLAR_OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
  add_library(OpenCV::${module} SHARED IMPORTED GLOBAL)
  set_target_properties(OpenCV::${module} PROPERTIES
    IMPORTED_LOCATION "${EPIPOLAR_OPENCV_${module}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${EPIPOLAR_OPENCV_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

if(NOT TARGET OpenCV::core)
  epipolar_opencv_module(core)
  epipolar_opencv_module(imgproc OpenCV::core)
  epipolar_opencv_module(flann OpenCV::core)
  epipolar_opencv_module(features2d OpenCV::imgproc OpenCV::flann)
  epipolar_opencv_module(calib3d OpenCV::features2d)
endif()
