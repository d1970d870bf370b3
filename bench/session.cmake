# The one pair reader: a 10,000-pair session JSON against nlohmann-json's own document parse of
# the same bytes, and 10,000 lines of pair text against four bare strtod calls per line.
epipolar_bench(session_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/ratio_reporter.cpp
  LIBS epipolar_session nlohmann_json::nlohmann_json)
