# The accurate match search (ZNCC along the epipolar line) and the click refinement, added to
# the geometry library.
target_sources(epipolar_geometry PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ZnccSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreciseClick.cpp)
# The scoring loop is the search's whole cost: vectorised also in debug builds, with fused
# multiply-adds where the machine has them. -Wno-psabi: the vector helpers are inlined, so the
# note about passing 32-byte vectors without AVX does not apply.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ZnccSearch.cpp
  PROPERTIES COMPILE_OPTIONS "-O3;-ffp-contract=fast;-Wno-psabi")

if(EPIPOLAR_BUILD_TESTS)
  epipolar_test(zncc_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZnccSearch_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/PreciseClick_test.cpp
    LIBS epipolar_geometry epipolar_capture)
endif()
