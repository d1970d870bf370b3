# The assisted mode's overlays on a camera window's paint, against the bare paint of the same
# frame (blit and present on the SDL offscreen driver).
epipolar_bench(overlay_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/overlay_bench.cpp
  LIBS epipolar_ui epipolar_platform)
