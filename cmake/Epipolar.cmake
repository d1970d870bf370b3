# Shared build helpers: warnings for our own targets, sanitizers, and the test wrapper.

option(EPIPOLAR_ASAN "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(EPIPOLAR_TSAN "Build with ThreadSanitizer" OFF)
option(EPIPOLAR_WERROR "Treat warnings in our own code as errors" ON)

if(EPIPOLAR_ASAN AND EPIPOLAR_TSAN)
  message(FATAL_ERROR "EPIPOLAR_ASAN and EPIPOLAR_TSAN cannot be combined")
endif()

if(EPIPOLAR_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(EPIPOLAR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Warnings apply to our targets only; third-party headers come in as system includes.
function(epipolar_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(EPIPOLAR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 reports false positives from inlined libstdc++ string code at -O3
    # (GCC bugs 105329, 105651); keep them visible but not fatal.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-error=restrict -Wno-error=stringop-overflow
                                               -Wno-error=array-bounds)
    endif()
  endif()
endfunction()

# epipolar_library(name SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...] [COMPILE_OPTIONS ...])
# One library target per folder; the target is called epipolar_<name>. COMPILE_OPTIONS apply
# to the library's own sources only.
function(epipolar_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;COMPILE_OPTIONS" ${ARGN})
  add_library(epipolar_${name} STATIC ${ARG_SOURCES})
  target_include_directories(epipolar_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(epipolar_${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  target_compile_options(epipolar_${name} PRIVATE ${ARG_COMPILE_OPTIONS})
  epipolar_warnings(epipolar_${name})
endfunction()

# Results that tests compare bit for bit (fast paths against their references, logged numbers)
# must not depend on whether the compiler fuses a multiply and an add, which it does as soon
# as -mfma or -march=native is in the flags. Libraries doing such arithmetic build with this.
set(EPIPOLAR_EXACT_ARITHMETIC -ffp-contract=off)

# With EPIPOLAR_SANITIZER_LOG_DIR set, sanitizer reports go to files there (report.<pid>)
# instead of standard error: tests that capture standard error would otherwise swallow them.
set(EPIPOLAR_SANITIZER_LOG_DIR "" CACHE PATH "Directory for sanitizer reports (empty: stderr)")
set(sanitizer_log "")
if(EPIPOLAR_SANITIZER_LOG_DIR)
  file(MAKE_DIRECTORY "${EPIPOLAR_SANITIZER_LOG_DIR}")
  set(sanitizer_log ":log_path=${EPIPOLAR_SANITIZER_LOG_DIR}/report")
endif()
set(EPIPOLAR_SANITIZER_ENV
    "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1${sanitizer_log}"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1${sanitizer_log}"
    "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${PROJECT_SOURCE_DIR}/cmake/tsan.supp${sanitizer_log}")

# epipolar_test(name SOURCES ... LIBS ... [LABELS ...] [ENV ...] [TIMEOUT s] [COMPILE_OPTIONS ...])
# Each test binary is one ctest entry. Label "threaded" marks tests that also run
# under ThreadSanitizer; "display" marks tests that use SDL (offscreen by default).
set_property(GLOBAL PROPERTY EPIPOLAR_THREADED_TESTS "")
function(epipolar_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV;COMPILE_OPTIONS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_options(${name} PRIVATE ${ARG_COMPILE_OPTIONS})
  epipolar_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${ARG_LABELS}"
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "${EPIPOLAR_SANITIZER_ENV};${ARG_ENV}")
  if("threaded" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY EPIPOLAR_THREADED_TESTS ${name})
  endif()
endfunction()
