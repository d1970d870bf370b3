# Match search and calibration driver, added to the geometry library.
target_sources(epipolar_geometry PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MatchSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MatchSearchFast.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Calibration.cpp)
target_link_libraries(epipolar_geometry PUBLIC epipolar_imaging)
# The fast search must give the reference's result bit for bit: the library builds without
# fused multiply-adds (EPIPOLAR_EXACT_ARITHMETIC). -Wno-psabi: the vector helpers are
# inlined, so the note about passing 32-byte vectors without AVX does not apply.
set_source_files_properties(
  ${CMAKE_CURRENT_LIST_DIR}/MatchSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MatchSearchFast.cpp
  PROPERTIES COMPILE_OPTIONS "-Wno-psabi")

if(EPIPOLAR_BUILD_TESTS)
  epipolar_test(match_search_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MatchSearch_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/Calibration_test.cpp
    LIBS epipolar_geometry epipolar_log_testing
    LABELS threaded
    COMPILE_OPTIONS ${EPIPOLAR_EXACT_ARITHMETIC})
endif()
