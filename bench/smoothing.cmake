# Smoothing spline kernels called directly, given lambda and chosen by
# cross-validation: build/bin/bench_smoothing.
qrx_add_benchmark(bench_smoothing
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_smoothing.cpp
  LIBS qrx_df_kernels_objects qrx_lumo_thread)
# Least-squares spline kernels called directly: build/bin/bench_least_squares.
qrx_add_benchmark(bench_least_squares
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_least_squares.cpp
  LIBS qrx_df_kernels_objects qrx_lumo_thread)
# The least-squares spline's GPU kernels called directly, on the same sizes:
# build/bin/bench_gpu_least_squares.
qrx_add_benchmark(bench_gpu_least_squares
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gpu_least_squares.cpp
  LIBS qrx_data_fitting_objects)
target_include_directories(bench_gpu_least_squares PRIVATE ${PROJECT_SOURCE_DIR}/src)
