# Round trip of one empty command submitted and waited for, with whichever
# SYCL implementation the build uses.
qrx_add_benchmark(bench_round_trip
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_round_trip.cpp)
target_include_directories(bench_round_trip PRIVATE ${PROJECT_SOURCE_DIR}/src)
