# Per-frame cost of the virtual stereo rig against a bare copy of a frame block.
epipolar_bench(virtual_rig_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/VirtualRig_bench.cpp
  LIBS epipolar_capture)
