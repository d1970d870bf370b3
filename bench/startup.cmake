# Start-up of the program: launch of `epipolar --virtual` to the first frame painted in both
# camera windows, under a private Xvfb. Builds the program too.
find_package(X11 REQUIRED)
epipolar_bench(startup_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp
  LIBS X11::X11)
target_include_directories(startup_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(startup_bench PRIVATE EPIPOLAR_PROGRAM="$<TARGET_FILE:epipolar>")
add_dependencies(startup_bench epipolar)
