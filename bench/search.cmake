# Epipolar match search: the fast search against the reference search on textured stereo
# pairs of camera sizes.
epipolar_bench(search_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/search_bench.cpp
  LIBS epipolar_geometry epipolar_imaging epipolar_log)
